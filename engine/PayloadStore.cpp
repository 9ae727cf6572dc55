#include "engine/PayloadStore.h"

#include <string.h>

#include <memory>
#include <new>

#include "win32/BoundedString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace PayloadStore {

bool MapEntry(HMODULE module, const char* name, const char* type, const void** bytes, DWORD* size) {
  *bytes = nullptr;
  *size = 0;
  if (!name || !type) return false;
  if (!module) module = seams::StoreModule();
  HRSRC info = FindResourceA(module, name, type);
  if (!info) return false;
  const DWORD length = SizeofResource(module, info);
  if (length == 0) return false;
  HGLOBAL loaded = LoadResource(module, info);
  if (!loaded) return false;
  const void* data = LockResource(loaded);
  if (!data) return false;
  *bytes = data;
  *size = length;
  return true;
}

bool PayloadEntryName(int32_t group, int32_t file, char* out, size_t capacity) {
  // Two signed 32-bit numbers take at most 11 characters each, so 27 with
  // the suffix and terminator: every pair fits a buffer of 32.
  return out && win32::FormatText(out, capacity, "%02d%02d.bin", static_cast<int>(group),
                                  static_cast<int>(file));
}

int32_t ExtractResourceToFile(const char* path, HMODULE module, const char* name,
                              const char* type) {
  if (!path || !*path) return 0;
  const void* data = nullptr;
  DWORD size = 0;
  if (!MapEntry(module, name, type, &data, &size)) return 0;  // nothing is created for no entry
  // Create always: an existing file is truncated, never overwritten in place.
  win32::FileHandle file(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  // Payload entries reach tens of megabytes: one write straight from the
  // mapped resource, no buffer of our own. A short write leaves a partial
  // file for the caller, who deletes its temporaries itself.
  DWORD written = 0;
  const BOOL ok = WriteFile(file.get(), data, size, &written, nullptr);
  return ok && written == size ? 1 : 0;
}

int32_t LoadResourceText(std::string& out, HMODULE module, const char* name, const char* type) {
  const void* data = nullptr;
  DWORD size = 0;
  if (!MapEntry(module, name, type, &data, &size)) return 0;
  // Text entries carry no terminating zero of their own.
  std::unique_ptr<char[]> text(new (std::nothrow) char[size + 2]);
  if (!text) return 0;
  memcpy(text.get(), data, size);
  text[size] = '\0';
  try {
    out.assign(text.get(), size);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

}  // namespace PayloadStore
