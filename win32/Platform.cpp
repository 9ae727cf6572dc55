// File and disk probes. Each gives its neutral answer when a call fails.
#include "win32/Platform.h"

#include "win32/UniqueHandle.h"

namespace {

win32::FileHandle OpenExisting(const char* path, DWORD access, DWORD share) {
  return win32::FileHandle(
      CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

int32_t FileExists(const char* path) {
  if (!path) return 0;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
}

DWORD GetFileSize32(const char* path) {
  if (!path) return 0;
  // On NT the length is read through a handle without data access, which
  // nobody's share mode can refuse. The 9x family documents that kind of
  // open for devices only: there the file is opened for reading, letting
  // others read and write.
  const bool nt = IsNtPlatform() != 0;
  win32::FileHandle file = OpenExisting(path, nt ? 0 : GENERIC_READ,
                                        nt ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!file) return 0;
  return GetFileSize(file.get(), nullptr);  // the high part is not wanted
}

int32_t IsFileLocked(const char* path) {
  if (!FileExists(path)) return 0;
  // Exclusive write access fails while anybody else holds the file, and for
  // a read-only file.
  win32::FileHandle file = OpenExisting(path, GENERIC_WRITE, 0);
  return (!file || file.get() == nullptr) ? 1 : 0;
}

int32_t GetFileTimes(const char* path, FILETIME* creation, FILETIME* access, FILETIME* write) {
  if (!path) return 0;
  win32::FileHandle file = OpenExisting(path, GENERIC_READ, 0);
  if (!file) return 0;
  return GetFileTime(file.get(), creation, access, write) ? 1 : 0;
}

int32_t SetFileTimes(const char* path, const FILETIME* time) {
  if (!path || !time) return 0;
  win32::FileHandle file = OpenExisting(path, GENERIC_WRITE, 0);
  if (!file) return 0;
  return SetFileTime(file.get(), time, time, time) ? 1 : 0;
}

double GetDiskFree(const char* folder, int32_t* ok) {
  if (ok) *ok = 0;
  // No folder would mean the current drive, which is never the one wanted.
  if (!folder) return 0;
  ULARGE_INTEGER available, total, totalFree;
  if (!GetDiskFreeSpaceExA(folder, &available, &total, &totalFree)) return 0;
  if (ok) *ok = 1;
  return static_cast<double>(totalFree.QuadPart);
}

int32_t AppendCharIfMissing(char* text, size_t capacity, char character) {
  if (!text || capacity == 0) return 0;
  const size_t length = strnlen(text, capacity);
  if (length >= capacity) return 0;  // not terminated within its buffer
  if (length > 0) {
    // The last character, not the last byte: the trail byte of a double-byte
    // character may have the same code as the one asked for.
    const char* last = CharPrevA(text, text + length);
    if (last + 1 == text + length && *last == character) return 1;
  }
  if (length + 1 >= capacity) return 0;
  text[length] = character;
  text[length + 1] = '\0';
  return 1;
}
