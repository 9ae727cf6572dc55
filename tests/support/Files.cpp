#include "support/Files.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "win32/UniqueHandle.h"

namespace vrtest {

std::string ExeFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string text(path, n < sizeof path ? n : 0);
  return text.substr(0, text.find_last_of('\\') + 1);
}

std::string CommandLineOption(const char* name) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < __argc; ++i)
    if (strncmp(__argv[i], prefix.c_str(), prefix.size()) == 0) return __argv[i] + prefix.size();
  return std::string();
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  bytes->clear();
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    bytes->append(buffer, got);
  }
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  win32::FileHandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool CopyFromExeFolder(const char* name, const std::string& destination) {
  std::string target = destination;
  if (!target.empty() && target.back() == '\\') {
    if (MakeFolder(target).empty()) return false;
    target += name;
  }
  return CopyFileA((ExeFolder() + name).c_str(), target.c_str(), FALSE) != FALSE;
}

std::string SystemFolder() {
  char path[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryA(path, sizeof path);
  return std::string(path, n < sizeof path ? n : 0) + "\\";
}

bool Is64BitWindows() {
  const DWORD attributes = GetFileAttributesA("C:\\windows\\syswow64");
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string MakeFolder(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '\\') path += '\\';
  for (size_t i = 3; i < path.size(); ++i)
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const bool made =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  return made ? path : std::string();
}

std::string MakeTempFolder(const char* tag) {
  static unsigned serial = 0;
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  for (;;) {
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s%s-%lu-%u\\", temp, tag, GetCurrentProcessId(), ++serial);
    if (CreateDirectoryA(folder, nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
}

bool NotHeldOpen(const std::string& path) {
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  win32::FindHandle find(FindFirstFileA((folder + "*").c_str(), &data));
  if (!find) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileA(find.get(), &data));
  return names;
}

bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

namespace {
const char* const kTempVariables[2] = {"TMP", "TEMP"};
}  // namespace

ScopedTempVariables::ScopedTempVariables(const std::string& folder) {
  for (int i = 0; i < 2; ++i) {
    char value[1024] = {};
    const DWORD n = GetEnvironmentVariableA(kTempVariables[i], value, sizeof value);
    had_[i] = n > 0 && n < sizeof value;
    saved_[i] = had_[i] ? value : "";
    SetEnvironmentVariableA(kTempVariables[i], folder.c_str());
  }
}

ScopedTempVariables::~ScopedTempVariables() {
  for (int i = 0; i < 2; ++i) {
    SetEnvironmentVariableA(kTempVariables[i], had_[i] ? saved_[i].c_str() : nullptr);
  }
}

}  // namespace vrtest
