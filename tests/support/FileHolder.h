// A file held open by another process: the holder program built beside the
// test programs (tests/unit/replace_holder.cpp), so that Windows' sharing
// rules apply between two processes as they do between the updater and a
// running product.
#pragma once

#include <windows.h>

#include <string>

#include "win32/UniqueHandle.h"

namespace vrtest {

// Holds path open for reading from the moment it is made until Release or
// its end: without sharing (share 0), as a running program holds its own
// file, or with the given share mode, as a scanner does.
class FileHolder {
 public:
  explicit FileHolder(const std::string& path, DWORD share = 0);
  ~FileHolder() { Release(); }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // True once the holder has the file open; false when it could not start
  // or open the file.
  bool holding() const { return holding_; }
  // Lets go of the file and waits until the holder has ended.
  void Release();

 private:
  win32::KernelHandle ready_, release_, process_;
  bool holding_ = false;
};

}  // namespace vrtest
