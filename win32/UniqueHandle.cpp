#include "win32/UniqueHandle.h"

#include <strsafe.h>

namespace win32 {

ScopedDeleteFile::ScopedDeleteFile(const char* path) { Reset(path); }

ScopedDeleteFile::~ScopedDeleteFile() {
  if (path_[0] != '\0') DeleteFileA(path_);
}

void ScopedDeleteFile::Reset(const char* path) {
  if (path_[0] != '\0') DeleteFileA(path_);
  path_[0] = '\0';
  if (path && FAILED(StringCchCopyA(path_, sizeof path_, path))) path_[0] = '\0';
}

ScopedCurrentDirectory::ScopedCurrentDirectory() {
  DWORD n = GetCurrentDirectoryA(sizeof saved_, saved_);
  haveSaved_ = n > 0 && n < sizeof saved_;
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  if (haveSaved_) SetCurrentDirectoryA(saved_);
}

bool ScopedCurrentDirectory::ChangeTo(const char* folder) {
  if (!folder || folder[0] == '\0') return true;
  return SetCurrentDirectoryA(folder) != FALSE;
}

}  // namespace win32
