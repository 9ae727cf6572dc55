#include "support/TestbedSupport.h"

#include <cstdio>

#include "testbed/common/Flavour.h"
#include "win32/UniqueHandle.h"

namespace vrtest {

bool ReadBinary(const char* key, const char* name, std::vector<BYTE>* data) {
  std::string bytes;
  DWORD type = 0;
  if (!ReadValue(key, name, &bytes, &type, testbed::kProductView) || type != REG_BINARY)
    return false;
  data->assign(bytes.begin(), bytes.end());
  return true;
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
