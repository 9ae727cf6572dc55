// Installing one payload file over its target.
//
// The installed copy is never removed before the new one stands in its place:
// on the NT family the expanded file replaces the target in one rename; on the
// 9x family (where MoveFileExA is a stub that fails) and wherever kernel32
// lacks it, the old copy is moved aside, the new one moved in, and the old
// one moved back when that fails. A file that cannot be
// replaced therefore stays as it was, the product's key file included, so a
// later run can still repair it.
#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "engine/PayloadStore.h"
#include "engine/Platform.h"
#include "system/ProductControlLibrary.h"
#include "updatelist/UpdateList.h"
#include "win32/BoundedString.h"
#include "win32/DynamicCalls.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/UniqueHandle.h"

namespace {

// Pause between the steps of a replacement, and the retry budget of the steps
// that wait for somebody else (a scanner or service holding the file).
constexpr DWORD kStepPauseMs = 100;
constexpr int kExtraAttempts = 50;
constexpr int kExpansionAttempts = 5;
constexpr DWORD kServiceInstallerPauseMs = 500;

constexpr UINT kMsgApplicationRunning = 106;

constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kDriverInstallerValue[] = "MarrowickDrvInst";
constexpr char kDriverInstaller[] = "virtualQuirra\\DrvInst.exe";
constexpr char kServiceProgram[] = "qfsvcgen.exe";
constexpr char kServiceInstaller[] = "Servinst.exe";

bool EndsWith(const char* text, const char* tail) {
  const size_t n = strlen(text), m = strlen(tail);
  return n >= m && strcmp(text + n - m, tail) == 0;
}

// True when target is exactly folder + name (byte for byte); false when the
// folder is unknown or the combination does not fit.
bool IsFolderFile(const char* target, const char* folder, const char* name) {
  if (!folder || folder[0] == '\0') return false;
  char path[MAX_PATH + 10];
  if (!win32::CopyText(path, sizeof path, folder) || !win32::AppendText(path, sizeof path, name))
    return false;
  return strcmp(target, path) == 0;
}

// Registers the driver installer to run once at the next logon. The path is
// quoted: the program folder may contain blanks, and RunOnce values are
// command lines.
bool SetDriverInstallerRunOnce(const char* target) {
  win32::RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  char command[MAX_PATH + 4];
  if (!win32::FormatText(command, sizeof command, "\"%s\"", target)) return false;
  RegDeleteValueA(key.get(), kDriverInstallerValue);
  return RegSetValueExA(key.get(), kDriverInstallerValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(command),
                        static_cast<DWORD>(strlen(command) + 1)) == ERROR_SUCCESS;
}

// One attempt on the 9x family: old copy aside, new copy in, old copy back
// when the new one cannot be moved in. The aside copy is deleted only after
// the new file is in place; if even the move back fails it is kept (under its
// "tmp" name), never deleted.
bool SwapInWithoutMoveFileEx(const char* expanded, const char* target) {
  if (!FileExists(target)) return MoveFileA(expanded, target) != FALSE;
  char aside[MAX_PATH + 1];
  if (!UpdateList::MakeTempFileBeside(aside, sizeof aside, target)) return false;
  DeleteFileA(aside);                           // the name is wanted, not the empty file
  if (!MoveFileA(target, aside)) return false;  // in use: nothing has changed
  if (!MoveFileA(expanded, target)) {
    MoveFileA(aside, target);
    return false;
  }
  DeleteFileA(aside);
  return true;
}

// The replace step with its retry budget: one attempt, then up to 50 more
// 100 ms apart. A replacement fails exactly where deleting the old copy
// would: while somebody holds the file.
bool ReplaceWithRetries(const char* expanded, const char* target, bool nt) {
  const auto moveFileEx = nt ? win32::Kernel32().MoveFileExA : nullptr;
  for (int attempt = 0;; ++attempt) {
    const bool done = moveFileEx ? moveFileEx(expanded, target, MOVEFILE_REPLACE_EXISTING) != FALSE
                                 : SwapInWithoutMoveFileEx(expanded, target);
    if (done) return true;
    if (attempt == kExtraAttempts) return false;
    seams::Pause(kStepPauseMs);
  }
}

// Expands compressed into expanded, up to five times. SZDD enlarges data that
// does not compress, so a result smaller than its compressed form is
// suspicious, except in the last attempt, where any non-empty result counts.
bool ExpandWithRetries(Lz32Library& lz32, const char* expanded, const char* compressed) {
  const DWORD compressedSize = GetFileSize32(compressed);
  for (int n = kExpansionAttempts; n >= 1; --n) {
    SetFileAttributesA(expanded, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(expanded);
    if (!lz32.ExpandFile(expanded, compressed)) continue;
    const DWORD expandedSize = GetFileSize32(expanded);
    if (expandedSize >= compressedSize || (n == 1 && expandedSize > 0)) return true;
  }
  return false;
}

// Asks whether to stop the background service and try again (string 106,
// Retry/Cancel, no owner, no caption). On Retry, on NT, with the service
// installer present, starts it with "-D". True when the replacement should be
// tried again; *started is set when the installer was started.
bool OfferServiceStop(bool* started) {
  char text[512];
  if (!win32::LoadResString(kMsgApplicationRunning, text, sizeof text)) text[0] = '\0';
  if (seams::ShowMessage(nullptr, text, nullptr, MB_RETRYCANCEL) != IDRETRY) return false;
  if (!IsNtPlatform()) return false;
  char installer[MAX_PATH + 1];
  if (!win32::CopyText(installer, sizeof installer, CommonFolder()) ||
      !win32::AppendText(installer, sizeof installer, kServiceInstaller) || !FileExists(installer))
    return false;
  // In its own folder, as when the update driver starts it.
  const HINSTANCE r =
      ShellExecuteA(nullptr, "open", installer, "-D", CommonFolder(), SW_SHOWNORMAL);
  *started = reinterpret_cast<INT_PTR>(r) > 32;
  return true;
}

}  // namespace

int32_t UpdateList::MakeTempFileBeside(char* out, size_t capacity, const char* path) {
  if (!out || capacity == 0) return 0;
  out[0] = '\0';
  if (!path) return 0;
  // The folder of path, with its final backslash; a path without a folder
  // would put the temporary into the current directory, which is never meant.
  const char* name = win32::AfterLastBackslash(path);
  if (!name) return 0;
  char folder[MAX_PATH + 1];
  const size_t folderLength = static_cast<size_t>(name - path);
  if (folderLength >= sizeof folder) return 0;
  memcpy(folder, path, folderLength);
  folder[folderLength] = '\0';
  char temp[MAX_PATH + 1];
  if (GetTempFileNameA(folder, "tmp", 0, temp) == 0) return 0;
  if (!win32::CopyText(out, capacity, temp)) {
    DeleteFileA(temp);
    return 0;
  }
  return 1;
}

int32_t UpdateList::ReplaceFile(int32_t group, int32_t file, int32_t existOnly) {
  lastReplaceOutcome_ = ReplaceOutcome::Skipped;
  const UpdateFile* entry = GetFileEntry(group, file);
  // No target: nothing to do, and no temporary may land in the current
  // directory or a drive root.
  if (!entry || entry->targetPath[0] == '\0') return 0;
  const char* target = entry->targetPath;
  const UpdateGroup& g = groups[group];

  FILETIME stored;
  stored.dwLowDateTime = entry->timeLow;
  stored.dwHighDateTime = entry->timeHigh;

  // An installed copy newer than the payload stays, except two files that
  // must match this update whatever their date.
  const bool existed = FileExists(target) != 0;
  bool go = true;
  if (existed) {
    FILETIME installed;
    if (GetFileTimes(target, nullptr, nullptr, &installed) &&
        CompareFileTime(&stored, &installed) < 0 && !EndsWith(target, "Glyphen.dll") &&
        !EndsWith(target, "runmap.txt"))
      go = false;
  }
  if (go && existOnly)
    go = existed || lstrcmpiA(g.name, "VirtualQuirraVista") == 0 || EndsWith(target, "Tuvexa.exe");

  // Paces the pass for every file, skipped or not.
  seams::Pause(kStepPauseMs);
  if (!go) return 0;

  // From here on every early return is a failure the list counts.
  auto fail = [this]() -> int32_t {
    lastReplaceOutcome_ = ReplaceOutcome::Failed;
    ++failedFiles_;
    return 0;
  };

  char compressed[MAX_PATH + 1];
  char expanded[MAX_PATH + 1];
  win32::ScopedDeleteFile compressedGuard, expandedGuard;
  if (!MakeTempFileBeside(compressed, sizeof compressed, target)) return fail();
  compressedGuard.Reset(compressed);
  if (!MakeTempFileBeside(expanded, sizeof expanded, target)) return fail();
  expandedGuard.Reset(expanded);
  // The system made both empty; extraction and expansion create them anew.
  DeleteFileA(compressed);
  DeleteFileA(expanded);

  char entryName[32];
  if (!PayloadStore::PayloadEntryName(group, file, entryName, sizeof entryName) ||
      !PayloadStore::ExtractResourceToFile(compressed, seams::StoreModule(), entryName,
                                           PayloadStore::kType))
    return fail();
  seams::Pause(kStepPauseMs);
  if (!ExpandWithRetries(lz32_, expanded, compressed)) return fail();

  // Read-only targets are replaced too; their attributes come back if the
  // old copy has to stay.
  const DWORD oldAttributes = GetFileAttributesA(target);
  if (existed) SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  auto keepOldFile = [&]() {
    if (oldAttributes != INVALID_FILE_ATTRIBUTES && FileExists(target))
      SetFileAttributesA(target, oldAttributes);
  };

  const int32_t osClass = GetOsClass();
  const bool driverInstaller =
      (osClass == 4 || osClass == 5) && IsFolderFile(target, programFolder, kDriverInstaller);
  const bool serviceProgram = IsFolderFile(target, CommonFolder(), kServiceProgram);
  const bool nt = IsNtPlatform() != 0;
  bool installerStarted = false;

  for (;;) {
    // Written right before the replacement it refers to, also when that
    // replacement then fails; no key, no replacement.
    if (driverInstaller && !SetDriverInstallerRunOnce(target)) {
      keepOldFile();
      return fail();
    }
    if (ReplaceWithRetries(expanded, target, nt)) break;
    if (!serviceProgram || !OfferServiceStop(&installerStarted)) {
      // Give a service installer that was started the moment it needs.
      if (installerStarted) seams::Pause(kServiceInstallerPauseMs);
      keepOldFile();
      return fail();
    }
  }
  expandedGuard.Dismiss();  // it is the target now

  // A scanner may hold the fresh file for a moment: wait for it to show up,
  // then stamp it, within one shared budget. A file left with "now" as its
  // time would look newer than every later update.
  int budget = kExtraAttempts;
  while (!FileExists(target) && budget > 0) {
    seams::Pause(kStepPauseMs);
    --budget;
  }
  while (!SetFileTimes(target, &stored) && budget > 0) {
    seams::Pause(kStepPauseMs);
    --budget;
  }

  lastReplaceOutcome_ = ReplaceOutcome::Replaced;
  return 1;
}
