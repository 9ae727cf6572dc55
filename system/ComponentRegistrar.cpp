// Filter merits written straight into the filters' registrations, and COM
// servers (un)registered through the system's Regsvr32.exe.
#include "system/ComponentRegistrar.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include <memory>
#include <new>

#include "system/FilterMeritLists.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/MessagePump.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kFilterDataValue[] = "FilterData";
// The registration record: version in bytes 0-3, merit in bytes 4-7, pin
// data after that.
constexpr DWORD kMeritOffset = 4;
constexpr DWORD kMinFilterDataSize = kMeritOffset + sizeof(DWORD);

constexpr DWORD kStartPauseMs = 10;
constexpr DWORD kSettleMs = 500;
constexpr DWORD kPollMs = 100;
constexpr int kPolls = 20;

// True while the started tool is still running (only when it could be
// waited for at all).
bool IsRunning(HANDLE process) {
  return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// Waits up to ms: for the tool itself while it runs (ending early when it
// exits), otherwise as a plain pause.
void WaitForTool(HANDLE process, DWORD ms) {
  if (IsRunning(process))
    win32::WaitPumping(process, ms);  // the windows keep answering meanwhile
  else
    seams::Pause(ms);
}

}  // namespace

int32_t ComponentRegistrar::AdjustFilterMerits() {
  int32_t anyList = 0;
  for (const FilterMeritList& list : kFilterMeritLists) {
    int32_t wholeList = 1;
    for (int i = 0; i < list.count; ++i) {
      char subkey[win32::kTextSize];
      // Every entry is attempted, even after one has failed.
      if (!win32::CopyText(subkey, sizeof subkey, kFilterInstanceKeyPrefix) ||
          !win32::AppendText(subkey, sizeof subkey, list.clsids[i]) ||
          !SetFilterMerit(list.merit, HKEY_LOCAL_MACHINE, subkey))
        wholeList = 0;
    }
    anyList = anyList || wholeList;
  }
  return anyList;
}

int32_t ComponentRegistrar::SetFilterMerit(DWORD merit, HKEY root, const char* subkey) {
  const DWORD size = QueryBinaryValueSize(kFilterDataValue, subkey, root);
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]());
  if (!buffer) return 0;
  DWORD readSize = size;
  if (!ReadBinaryValue(buffer.get(), &readSize, kFilterDataValue, subkey, root) || readSize != size)
    return 0;
  // A record too short to hold a merit is not one this code understands;
  // writing into it would run past its end.
  if (size < kMinFilterDataSize) return 0;
  for (DWORD i = 0; i < sizeof merit; ++i)
    buffer[kMeritOffset + i] = static_cast<BYTE>(merit >> (8 * i));
  return WriteBinaryValue(buffer.get(), size, kFilterDataValue, subkey, root);
}

DWORD ComponentRegistrar::QueryBinaryValueSize(const char* valueName, const char* subkey,
                                               HKEY root) {
  win32::RegKey key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 1;
  // A one-byte buffer: the answer "more data" carries the real size.
  BYTE probe[1];
  DWORD size = sizeof probe;
  if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, probe, &size) != ERROR_MORE_DATA)
    return 1;
  return size;
}

int32_t ComponentRegistrar::ReadBinaryValue(BYTE* buffer, DWORD* size, const char* valueName,
                                            const char* subkey, HKEY root) {
  if (!buffer || !size || *size == 0) return 0;
  win32::RegKey key;
  if (RegOpenKeyExA(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
  DWORD type = REG_NONE;
  if (RegQueryValueExA(key.get(), valueName, nullptr, &type, buffer, size) != ERROR_SUCCESS)
    return 0;
  return type == REG_BINARY ? 1 : 0;
}

int32_t ComponentRegistrar::WriteBinaryValue(const BYTE* data, DWORD size, const char* valueName,
                                             const char* subkey, HKEY root) {
  if (!data || size == 0) return 0;
  win32::RegKey key;
  if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    return 0;
  return RegSetValueExA(key.get(), valueName, 0, REG_BINARY, data, size) == ERROR_SUCCESS ? 1 : 0;
}

int32_t ComponentRegistrar::RegisterServer(const char* path, int32_t unregister) {
  if (!path) return 0;
  // The tool runs in the system folder, its own, and not in the updater's
  // current directory (usually the folder the updater was downloaded to).
  char systemFolder[MAX_PATH + 1];
  char tool[MAX_PATH + 1];
  if (!win32::SystemFolder(systemFolder, MAX_PATH) ||
      !win32::SystemFilePath(tool, sizeof tool, "Regsvr32.exe"))
    return 0;
  char parameters[MAX_PATH + 16];
  if (!win32::FormatText(parameters, sizeof parameters, "/s %s\"%s\"", unregister ? "/u " : "",
                         path))
    return 0;

  seams::Pause(kStartPauseMs);
  // The process handle lets the wait below follow the tool itself: a system
  // that does not keep a running program's file open would otherwise end the
  // in-use poll at once, before the server has been (un)registered.
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = tool;
  info.lpParameters = parameters;
  info.lpDirectory = systemFolder;
  info.nShow = SW_HIDE;
  if (!ShellExecuteExA(&info) || reinterpret_cast<INT_PTR>(info.hInstApp) <= 32) {
    if (info.hProcess) CloseHandle(info.hProcess);
    return 0;
  }
  win32::KernelHandle process(info.hProcess);

  // At most 500 ms plus 20 polls of 100 ms, ended as soon as the tool has
  // exited and its program file is free.
  WaitForTool(process.get(), kSettleMs);
  for (int polls = 0; polls < kPolls && (IsRunning(process.get()) || IsFileLocked(tool)); ++polls)
    WaitForTool(process.get(), kPollMs);
  return 1;  // started; the tool's own exit code is not examined
}
