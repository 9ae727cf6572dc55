#include "support/Registry.h"

#include "testbed/common/ProductKeys.h"
#include "win32/UniqueHandle.h"

namespace vrtest {

bool SetValue(const char* key, const char* name, DWORD type, const void* data, DWORD bytes) {
  win32::RegKey handle;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, handle.put(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(handle.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) ==
         ERROR_SUCCESS;
}

bool SetText(const char* key, const char* name, const std::string& text) {
  return SetValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool KeyExists(const char* key) {
  win32::RegKey handle;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

bool ReadValue(const char* key, const char* name, std::string* data, DWORD* type, REGSAM view) {
  win32::RegKey handle;
  DWORD size = 0, kind = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, handle.put()) != ERROR_SUCCESS ||
      RegQueryValueExA(handle.get(), name, nullptr, &kind, nullptr, &size) != ERROR_SUCCESS)
    return false;
  size += 16;  // room for a terminating zero the ANSI call may add to a text
  data->assign(size, '\0');
  if (RegQueryValueExA(handle.get(), name, nullptr, &kind, reinterpret_cast<BYTE*>(&(*data)[0]),
                       &size) != ERROR_SUCCESS)
    return false;
  data->resize(size);
  if (type) *type = kind;
  return true;
}

void RemoveProductKeys() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, testbed::kAppPathsKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, testbed::kUninstallKey);
}

}  // namespace vrtest
