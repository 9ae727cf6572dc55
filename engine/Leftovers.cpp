#include "engine/Leftovers.h"

#include "win32/BoundedString.h"
#include "win32/KillPoint.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/UniqueHandle.h"

namespace {

// Deletes path, a read-only one too; true when it is gone.
bool DeleteIfThere(const char* path) {
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

namespace leftovers {
namespace {

// Held for the whole life of the process: an updater that finds it taken
// leaves the records alone, since their files belong to the running one. A
// killed updater's mutex is abandoned and free again.
constexpr char kRunningMutex[] = "VrUpdater1030.Running";

// Bound on the records looked at in one clean-up, so that a damaged key
// cannot keep the start busy.
constexpr DWORD kMaxRecords = 4096;

bool OpenRecords(win32::RegKey& key, bool create) {
  if (create) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           key.put(), nullptr) == ERROR_SUCCESS;
  }
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_ALL_ACCESS, key.put()) ==
         ERROR_SUCCESS;
}

// Settles one record; true when its file is dealt with and the record can go.
bool Settle(const char* path, const char* restoreTo) {
  if (restoreTo[0] != '\0' && !FileExists(restoreTo) && FileExists(path)) {
    // The run was killed between moving the installed copy aside and moving
    // the new one in: the installed copy goes back.
    return MoveFileA(path, restoreTo) != FALSE;
  }
  return DeleteIfThere(path);
}

}  // namespace

bool Record(const char* path, const char* restoreTo) {
  if (!path || path[0] == '\0') return false;
  if (!restoreTo) restoreTo = "";
  win32::RegKey key;
  if (!OpenRecords(key, true)) return false;
  return RegSetValueExA(key.get(), path, 0, REG_SZ, reinterpret_cast<const BYTE*>(restoreTo),
                        static_cast<DWORD>(lstrlenA(restoreTo) + 1)) == ERROR_SUCCESS;
}

void Forget(const char* path) {
  if (!path || path[0] == '\0') return;
  win32::RegKey key;
  if (OpenRecords(key, false)) RegDeleteValueA(key.get(), path);
}

void MarkInstallPass(bool running) {
  win32::RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUpdaterKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return;
  if (!running) {
    RegDeleteValueA(key.get(), kInstallPassValue);
    return;
  }
  const DWORD one = 1;
  RegSetValueExA(key.get(), kInstallPassValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                 sizeof one);
}

bool EarlierInstallPassInterrupted() {
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUpdaterKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  DWORD value = 0, type = 0, size = sizeof value;
  return RegQueryValueExA(key.get(), kInstallPassValue, nullptr, &type,
                          reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && value == 1;
}

int RemoveEarlierLeftovers() {
  static HANDLE running = nullptr;  // the process's own, released when it ends
  if (!running) {
    running = CreateMutexA(nullptr, FALSE, kRunningMutex);
    if (running && GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  }
  win32::RegKey key;
  if (!OpenRecords(key, false)) return 0;
  int settled = 0;
  DWORD index = 0;
  for (DWORD seen = 0; seen < kMaxRecords; ++seen) {
    char path[MAX_PATH + 1] = {};
    char restoreTo[MAX_PATH + 1] = {};
    DWORD pathLength = sizeof path - 1;
    DWORD type = 0;
    DWORD size = sizeof restoreTo - 1;
    const LONG r = RegEnumValueA(key.get(), index, path, &pathLength, nullptr, &type,
                                 reinterpret_cast<BYTE*>(restoreTo), &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) {  // overlong: nothing the updater wrote; left alone
      ++index;
      continue;
    }
    restoreTo[size < sizeof restoreTo ? size : sizeof restoreTo - 1] = '\0';
    // A record the updater cannot have written is dropped, not acted upon.
    bool drop = true;
    if (type == REG_SZ && win32::AfterLastBackslash(path) != nullptr) {
      drop = Settle(path, restoreTo);
      if (drop) ++settled;
    }
    if (drop && RegDeleteValueA(key.get(), path) == ERROR_SUCCESS) continue;
    ++index;  // kept for the next start
  }
  DWORD values = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
      values == 0) {
    key.reset();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey);
  }
  return settled;
}

}  // namespace leftovers

RecordedTemporary::~RecordedTemporary() { Remove(); }

bool RecordedTemporary::Adopt(const char* path) {
  Remove();
  if (!path || !win32::CopyText(path_, sizeof path_, path)) {
    if (path) DeleteFileA(path);
    path_[0] = '\0';
    return false;
  }
  // Without a record the file is still deleted at the end of this run; only
  // a kill would leave it behind.
  VR_KILL_POINT("temporary: made, not recorded");
  leftovers::Record(path_, nullptr);
  return true;
}

void RecordedTemporary::Dismiss() {
  leftovers::Forget(path_);
  path_[0] = '\0';
}

void RecordedTemporary::Remove() {
  if (path_[0] == '\0') return;
  // A temporary that cannot be deleted now keeps its record: the next start
  // tries again.
  if (DeleteIfThere(path_)) leftovers::Forget(path_);
  path_[0] = '\0';
}
