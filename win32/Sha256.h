// SHA-256 of a byte stream, computed here: the updater starts on Windows
// whose cryptographic providers know no SHA-256.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace win32 {

class Sha256 {
 public:
  static constexpr size_t kDigestSize = 32;

  Sha256();
  void Update(const void* data, size_t size);
  // Finishes the hash; the object must not be updated afterwards.
  void Final(uint8_t digest[kDigestSize]);

 private:
  void Block(const uint8_t* block);

  uint32_t state_[8];
  uint64_t length_ = 0;  // bytes hashed so far
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

// Reads a digest written as 64 hexadecimal digits (either case); false for
// any other text.
bool ParseDigest(const char* text, uint8_t digest[Sha256::kDigestSize]);

}  // namespace win32
