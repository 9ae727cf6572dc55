// Where the simulated product keeps its settings: the installer writes the
// folders it chose and the behaviour options that tests ask for under one key
// of the machine hive, and every component reads them from there (the updater
// starts the components with fixed command lines, so options cannot travel on
// the command line). The components, the installer and the updater of one
// flavour share its registry view (testbed/common/Flavour.h).
#pragma once

#include <windows.h>
#include <strsafe.h>

#include <string>

#include "testbed/common/Flavour.h"
#include "win32/UniqueHandle.h"

namespace testbed {

inline constexpr char kFoldersKey[] = "SOFTWARE\\Marrowick\\TestbedFolders";
inline constexpr char kOptionsKey[] = "SOFTWARE\\Marrowick\\TestbedOptions";
inline constexpr char kMarksKey[] = "SOFTWARE\\Marrowick\\TestbedMarks";

// Values of kFoldersKey (REG_SZ): the texts QfControl.dll reports.
inline constexpr char kCommonValue[] = "Common";
inline constexpr char kSharedValue[] = "Shared";

// Values of kOptionsKey (REG_DWORD).
// A delay before the installer acts, installing or removing.
inline constexpr char kServinstDelayValue[] = "ServinstDelayMs";
inline constexpr char kServinstRefuseValue[] = "ServinstRefuseRemove";
inline constexpr char kSoundFxCountValue[] = "SoundFxFilterCount";

// Values of kMarksKey: counters (REG_DWORD) the components raise when run,
// and the current directory (REG_SZ, ending in a backslash) they were
// started in.
inline constexpr char kDrvInstRunsValue[] = "DrvInstRuns";
inline constexpr char kServinstRunsValue[] = "ServinstRuns";
inline constexpr char kServinstDirectoryValue[] = "ServinstDirectory";

// Reads a REG_SZ value into buf; false when the key or value is missing, is
// not a text or does not fit.
inline bool ReadText(const char* key, const char* name, char* buf, DWORD capacity) {
  win32::RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | testbed::kProductView, k.put()) !=
      ERROR_SUCCESS)
    return false;
  DWORD type = 0;
  DWORD size = capacity - 1;  // room for a terminator the value may lack
  if (RegQueryValueExA(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  buf[size] = '\0';
  return true;
}

// The same as a string, empty when missing (what tests compare).
inline std::string ReadText(const char* key, const char* name) {
  char buf[MAX_PATH + 1] = {};
  return ReadText(key, name, buf, sizeof buf) ? buf : "";
}

// Reads a REG_DWORD value; fallback when missing or of another type.
inline DWORD ReadDword(const char* key, const char* name, DWORD fallback) {
  win32::RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | testbed::kProductView, k.put()) !=
      ERROR_SUCCESS)
    return fallback;
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return fallback;
  return value;
}

inline bool WriteDword(const char* key, const char* name, DWORD value) {
  win32::RegKey k;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | testbed::kProductView,
                      nullptr, k.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(k.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

inline bool WriteText(const char* key, const char* name, const char* text) {
  win32::RegKey k;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | testbed::kProductView,
                      nullptr, k.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        lstrlenA(text) + 1) == ERROR_SUCCESS;
}

// Records the current directory of the running component under kMarksKey,
// with a final backslash like every folder text of the product, so a test
// can see where the component was started.
inline bool RecordCurrentDirectory(const char* name) {
  char folder[MAX_PATH + 1] = {};
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, folder);
  if (n == 0 || n >= MAX_PATH) return false;
  if (folder[n - 1] != '\\' && FAILED(StringCchCatA(folder, sizeof folder, "\\"))) return false;
  return WriteText(kMarksKey, name, folder);
}

// Raises a run counter by one, so a test can see that a component ran and
// how often.
inline bool CountRun(const char* name) {
  return WriteDword(kMarksKey, name, ReadDword(kMarksKey, name, 0) + 1);
}

}  // namespace testbed
