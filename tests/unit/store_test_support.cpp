#include "unit/store_test_support.h"

#include <stdio.h>

#include "win32/UniqueHandle.h"

namespace storetest {

std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\') + 1);
}

std::string MakeTempFolder(const char* tag) {
  static int counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH];
  snprintf(name, sizeof name, "%sstore-%s-%lu-%d\\", temp, tag, GetCurrentProcessId(), ++counter);
  CreateDirectoryA(name, nullptr);
  return name;
}

bool ReadBytes(const std::string& path, std::string* out) {
  win32::FileHandle file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  out->clear();
  char buf[1 << 16];
  DWORD got = 0;
  while (ReadFile(file.get(), buf, sizeof buf, &got, nullptr) && got > 0) out->append(buf, got);
  return true;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  win32::FileHandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool NotHeldOpen(const std::string& path) {
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

}  // namespace storetest
