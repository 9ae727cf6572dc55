#include "support/StoreSupport.h"

#include <stdio.h>

#include "win32/UniqueHandle.h"

namespace vrtest {

std::string MakeTempFolder(const char* tag) {
  static int counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%sstore-%s-%lu-%d\\", temp, tag, GetCurrentProcessId(), ++counter);
  CreateDirectoryA(name, nullptr);
  return name;
}

bool NotHeldOpen(const std::string& path) {
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

}  // namespace vrtest
