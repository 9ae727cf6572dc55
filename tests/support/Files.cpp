#include "support/Files.h"

#include <windows.h>

#include "win32/UniqueHandle.h"

namespace vrtest {

std::string ExeFolder() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string text(path, n < sizeof path ? n : 0);
  return text.substr(0, text.find_last_of('\\') + 1);
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
