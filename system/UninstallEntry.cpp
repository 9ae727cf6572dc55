#include "system/UninstallEntry.h"

#include <windows.h>

#include <string.h>

#include "res/resource.h"
#include "win32/BufferSizes.h"
#include "win32/KillPoint.h"
#include "win32/ResString.h"
#include "win32/UniqueHandle.h"

namespace {

// Each text is copied into a cleared buffer of kLongTextSize bytes and stored with its
// terminating zero: readers of the Uninstall key take a REG_SZ to end in
// one, and an unterminated value could be read past its end.
void SetTextValue(HKEY key, const char* name, const char* text) {
  const size_t length = strlen(text);
  if (length >= win32::kLongTextSize) return;  // over 269 bytes: not cut short
  char buffer[win32::kLongTextSize] = {};
  memcpy(buffer, text, length);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(buffer),
                 static_cast<DWORD>(length + 1));
}

}  // namespace

int32_t UpdateUninstallEntry() {
  char keyText[win32::kLongTextSize] = {};
  if (!win32::LoadResString(IDS_UNINSTALL_KEY, keyText, sizeof keyText) || !keyText[0]) return 0;
  char name[win32::kLongTextSize] = {};
  char version[win32::kLongTextSize] = {};
  win32::LoadResString(IDS_DISPLAY_NAME, name, sizeof name);
  win32::LoadResString(IDS_DISPLAY_VERSION, version, sizeof version);
  if (!name[0] || !version[0]) return 0;
  return WriteUninstallValues(name, version);
}

int32_t WriteUninstallValues(const char* displayName, const char* displayVersion) {
  char keyText[win32::kLongTextSize] = {};
  if (!win32::LoadResString(IDS_UNINSTALL_KEY, keyText, sizeof keyText) || !keyText[0]) return 0;

  // Open only: an entry the product's installer did not make stays absent.
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyText, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
    return 0;

  // A refused write of one value does not keep the other from being tried.
  if (displayName) SetTextValue(key.get(), "DisplayName", displayName);
  VR_KILL_POINT("uninstall values: name written, version not");
  if (displayVersion) SetTextValue(key.get(), "DisplayVersion", displayVersion);
  return 1;
}
