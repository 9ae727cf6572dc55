#include "engine/PayloadStore.h"

#include <string.h>

#include <memory>
#include <new>

#include "win32/BoundedString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace PayloadStore {
namespace {

// The entry's bytes as mapped by the loader (never copied), or null with a
// zero size when the entry is missing, empty or cannot be loaded. Windows
// compares resource names without regard to case, so "0609.bin" finds an
// entry stored as "0609.BIN".
const void* MapEntry(HMODULE module, const char* name, const char* type, DWORD* size) {
  *size = 0;
  if (!name || !type) return nullptr;
  if (!module) module = seams::StoreModule();
  HRSRC info = FindResourceA(module, name, type);
  if (!info) return nullptr;
  DWORD bytes = SizeofResource(module, info);
  if (bytes == 0) return nullptr;
  HGLOBAL loaded = LoadResource(module, info);
  if (!loaded) return nullptr;
  const void* data = LockResource(loaded);
  if (!data) return nullptr;
  *size = bytes;
  return data;
}

}  // namespace

bool PayloadEntryName(int32_t group, int32_t file, char* out, size_t capacity) {
  // Two signed 32-bit numbers take at most 11 characters each, so 27 with
  // the suffix and terminator: every pair fits a buffer of 32.
  return out && win32::FormatText(out, capacity, "%02d%02d.bin", static_cast<int>(group),
                                  static_cast<int>(file));
}

int32_t ExtractResourceToFile(const char* path, HMODULE module, const char* name,
                              const char* type) {
  if (!path || !*path) return 0;
  DWORD size = 0;
  if (!MapEntry(module, name, type, &size)) return 0;  // nothing is created for no entry
  // Create always: an existing file is truncated, never overwritten in place.
  win32::FileHandle file(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  return WriteResourceToFile(file.get(), module, name, type);
}

int32_t WriteResourceToFile(HANDLE file, HMODULE module, const char* name, const char* type) {
  DWORD size = 0;
  const void* data = MapEntry(module, name, type, &size);
  if (!data || !file || file == INVALID_HANDLE_VALUE) return 0;
  // Payload entries reach tens of megabytes: one write straight from the
  // mapped resource, no buffer of our own. A short write leaves a partial file
  // for the caller, who deletes its temporaries itself.
  DWORD written = 0;
  BOOL ok = WriteFile(file, data, size, &written, nullptr);
  return ok && written == size ? 1 : 0;
}

int32_t LoadResourceText(std::string& out, HMODULE module, const char* name, const char* type) {
  DWORD size = 0;
  const char* data = static_cast<const char*>(MapEntry(module, name, type, &size));
  if (!data) return 0;
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
