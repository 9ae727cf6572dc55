// Reads values of an INI file through the platform's profile functions; every
// read opens the file anew. No read fails visibly: each falls back to its
// default.
#pragma once

#include <windows.h>

#include <stdint.h>

class IniFile {
 public:
  explicit IniFile(const char* path);  // null or overlong path: empty path
  virtual ~IniFile() = default;

  int32_t GetInt(const char* section, const char* key, int32_t defaultValue) const;
  // Decimal values up to 4294967295.
  uint32_t GetDword(const char* section, const char* key, uint32_t defaultValue) const;
  // Characters placed in buffer (the zero not counted); a longer value is cut
  // to size - 1. Missing section/key/buffer: 0 and the buffer unchanged.
  int32_t GetString(const char* section, const char* key, char* buffer, DWORD size) const;

  const char* path() const { return path_; }

 private:
  char path_[MAX_PATH] = {};
};
