#include "support/TestbedSupport.h"

#include <cstdio>

#include "testbed/common/Flavour.h"
#include "win32/UniqueHandle.h"

namespace vrtest {

HANDLE StartProcess(const std::string& commandLine) {
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

int RunAndWait(const std::string& commandLine, DWORD timeoutMs) {
  win32::KernelHandle process(StartProcess(commandLine));
  if (!process) return -1;
  DWORD code = 0;
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code))
    return -1;
  return static_cast<int>(code);
}

bool ReadBinary(const char* key, const char* name, std::vector<BYTE>* data) {
  win32::RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | testbed::kProductView, k.put()) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(k.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_BINARY)
    return false;
  data->resize(size);
  return RegQueryValueExA(k.get(), name, nullptr, &type, data->data(), &size) == ERROR_SUCCESS;
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return INVALID_FILE_SIZE;
  return data.nFileSizeLow;
}

std::string ProductVersion(const std::string& path) {
  DWORD handle = 0;
  DWORD n = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (!n) return std::string();
  std::vector<BYTE> block(n);
  if (!GetFileVersionInfoA(path.c_str(), 0, n, block.data())) return std::string();
  DWORD* translation = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &len) ||
      len < 4)
    return std::string();
  char query[64];
  snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\ProductVersion", LOWORD(*translation),
           HIWORD(*translation));
  char* text = nullptr;
  if (!VerQueryValueA(block.data(), query, reinterpret_cast<void**>(&text), &len)) return "";
  return std::string(text);
}

bool IsServiceRegistered(const char* name) {
  win32::ServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!scm) return false;
  win32::ServiceHandle service(OpenServiceA(scm.get(), name, SERVICE_QUERY_STATUS | SERVICE_STOP));
  return static_cast<bool>(service);
}

}  // namespace vrtest
