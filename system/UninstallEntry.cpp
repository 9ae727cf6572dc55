#include "system/UninstallEntry.h"

#include <windows.h>

#include <string.h>

#include "res/resource.h"
#include "win32/ResString.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr int kKeyCapacity = 270;
constexpr int kTextCapacity = 270;

// The stored data is the text's bytes without a terminating zero. The
// registry functions treat a zero right after the given bytes as a terminator
// the caller forgot to count and store it too (seen on Wine, whose source
// notes that NT does the same), so the rest of the 270-byte buffer is filled
// with blanks instead of zeros: the byte after the text is never a zero.
void SetTextValue(HKEY key, const char* name, const char* text) {
  const size_t length = strlen(text);
  if (length >= kUninstallValueBufferSize) return;  // over 269 bytes: not cut short
  char buffer[kUninstallValueBufferSize];
  memset(buffer, ' ', sizeof buffer);
  memcpy(buffer, text, length);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(buffer),
                 static_cast<DWORD>(length));
}

}  // namespace

int32_t UpdateUninstallEntry() {
  char keyText[kKeyCapacity] = {};
  if (!win32::LoadResString(IDS_UNINSTALL_KEY, keyText, sizeof keyText) || !keyText[0]) return 0;
  char name[kTextCapacity] = {};
  char version[kTextCapacity] = {};
  win32::LoadResString(IDS_DISPLAY_NAME, name, sizeof name);
  win32::LoadResString(IDS_DISPLAY_VERSION, version, sizeof version);
  if (!name[0] || !version[0]) return 0;
  return WriteUninstallValues(name, version);
}

int32_t WriteUninstallValues(const char* displayName, const char* displayVersion) {
  char keyText[kKeyCapacity] = {};
  if (!win32::LoadResString(IDS_UNINSTALL_KEY, keyText, sizeof keyText) || !keyText[0]) return 0;

  // Open only: an entry the product's installer did not make stays absent.
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyText, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
    return 0;

  // A refused write of one value does not keep the other from being tried.
  if (displayName) SetTextValue(key.get(), "DisplayName", displayName);
  if (displayVersion) SetTextValue(key.get(), "DisplayVersion", displayVersion);
  return 1;
}
