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

#include "engine/Leftovers.h"
#include "engine/PayloadStore.h"
#include "res/resource.h"
#include "system/MessageBoxes.h"
#include "engine/ProductEnvironment.h"
#include "updatelist/ProductRules.h"
#include "engine/UpdateEngine.h"
#include "updatelist/UpdateList.h"
#include "win32/BoundedString.h"
#include "win32/DynamicCalls.h"
#include "win32/KillPoint.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/Seams.h"
#include "win32/Sha256.h"
#include "win32/UniqueHandle.h"

namespace {

// Pause between the steps of a replacement, and the retry budget of the steps
// that wait for somebody else (a scanner or service holding the file).
constexpr DWORD kStepPauseMs = 100;
constexpr int kExtraAttempts = 50;
constexpr int kExpansionAttempts = 5;
constexpr DWORD kServiceInstallerPauseMs = 500;

constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kDriverInstallerValue[] = "MarrowickDrvInst";
constexpr char kDriverInstaller[] = "virtualQuirra\\DrvInst.exe";
constexpr char kServiceProgram[] = "qfsvcgen.exe";
constexpr char kServiceInstaller[] = "Servinst.exe";

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
// "tmp" name), never deleted. It is recorded as the target's aside copy
// before the target moves, so that the next start puts it back should the
// run end between the two moves.
bool SwapInWithoutMoveFileEx(const char* expanded, const char* target) {
  if (!FileExists(target)) return MoveFileA(expanded, target) != FALSE;
  char folder[MAX_PATH + 1];
  char aside[MAX_PATH + 1];
  // Only the name is wanted, recorded as the target's aside copy.
  if (!win32::FolderOf(target, folder, sizeof folder) ||
      !leftovers::ClaimRecordedName(folder, target, false, aside, sizeof aside))
    return false;
  if (!MoveFileA(target, aside)) {  // in use: nothing has changed
    leftovers::Forget(aside);
    return false;
  }
  VR_KILL_POINT("replace: moved aside, new not in");
  if (!MoveFileA(expanded, target)) {
    if (MoveFileA(aside, target)) leftovers::Forget(aside);
    return false;
  }
  DeleteFileA(aside);
  if (!FileExists(aside)) leftovers::Forget(aside);
  return true;
}

// The replace step with its retry budget: one attempt, then up to 50 more
// 100 ms apart. A replacement fails exactly where deleting the old copy
// would: while somebody holds the file.
bool ReplaceWithRetries(const char* expanded, const char* target, bool nt) {
  const auto moveFileEx = nt ? win32::Kernel32().MoveFileExA : nullptr;
  for (int attempt = 0;; ++attempt) {
    const bool done = moveFileEx
                          ? moveFileEx(expanded, target,
                                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE
                          : SwapInWithoutMoveFileEx(expanded, target);
    if (done) return true;
    if (attempt == kExtraAttempts) return false;
    seams::Pause(kStepPauseMs);
  }
}

// The length an SZDD file says it expands to; false for data in another form
// (LZ32 copies that as it is, and there is no length to check).
bool SzddExpandedLength(const char* compressed, DWORD* length) {
  static const unsigned char kMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
  win32::FileHandle file(CreateFileA(compressed, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  unsigned char header[14];
  DWORD read = 0;
  if (!file || !ReadFile(file.get(), header, sizeof header, &read, nullptr) ||
      read != sizeof header || memcmp(header, kMagic, sizeof kMagic) != 0)
    return false;
  *length = static_cast<DWORD>(header[10]) | static_cast<DWORD>(header[11]) << 8 |
            static_cast<DWORD>(header[12]) << 16 | static_cast<DWORD>(header[13]) << 24;
  return true;
}

// True when the file's SHA-256 is digest.
bool HasDigest(const char* path, const uint8_t* digest) {
  win32::FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  win32::Sha256 hash;
  unsigned char chunk[16384];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) return false;
    if (read == 0) break;
    hash.Update(chunk, read);
  }
  uint8_t actual[win32::Sha256::kDigestSize];
  hash.Final(actual);
  return memcmp(actual, digest, sizeof actual) == 0;
}

// Expands compressed into expanded, up to five times; *attempts receives the
// number of expansions made. The result must have the length the SZDD header
// gives, and the length and SHA-256 the list gives where it gives them: a
// damaged store entry or a faulty expansion never reaches the target.
// SZDD enlarges data that does not compress, so without a digest a result
// smaller than its compressed form is suspicious, except in the last attempt,
// where any non-empty result counts. A non-empty result whose digest matches
// the list's is the file itself: expanding it again could only give the same
// bytes, so it is taken at once (this saves four expansions of every such
// file, tens of megabytes for the help files).
bool ExpandWithRetries(Lz32Library& lz32, const char* expanded, const char* compressed,
                       const UpdateFile& entry, int* attempts) {
  const DWORD compressedSize = GetFileSize32(compressed);
  DWORD headerLength = 0;
  const bool haveHeaderLength = SzddExpandedLength(compressed, &headerLength);
  *attempts = 0;
  for (int n = kExpansionAttempts; n >= 1; --n) {
    SetFileAttributesA(expanded, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(expanded);
    ++*attempts;
    if (!lz32.ExpandFile(expanded, compressed)) continue;
    const DWORD expandedSize = GetFileSize32(expanded);
    const bool sizeRuleWaived = expandedSize > 0 && (n == 1 || entry.hasDigest);
    if (expandedSize < compressedSize && !sizeRuleWaived) continue;
    if (haveHeaderLength && expandedSize != headerLength) continue;
    if (entry.hasSize && expandedSize != entry.expandedSize) continue;
    if (entry.hasDigest && !HasDigest(expanded, entry.digest)) continue;
    return true;
  }
  return false;
}

// Gives the expanded copy the list's time and puts it on the disc before it
// replaces the target: a file left with "now" as its time would look newer
// than every later update, and one whose data is still in the cache could be
// found zero-filled after a power cut.
bool StampAndFlush(const char* expanded, const FILETIME& stored) {
  win32::FileHandle file(CreateFileA(expanded, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && SetFileTime(file.get(), &stored, &stored, &stored) && FlushFileBuffers(file.get());
}

// The last-write time of an installed file. Another program may hold the
// file so that it cannot be opened; the time is then read from the folder
// entry, where Windows can.
bool InstalledWriteTime(const char* target, FILETIME* time) {
  if (GetFileTimes(target, nullptr, nullptr, time)) return true;
  const auto getAttributesEx = win32::Kernel32().GetFileAttributesExA;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!getAttributesEx || !getAttributesEx(target, GetFileExInfoStandard, &data)) return false;
  *time = data.ftLastWriteTime;
  return true;
}

// Asks whether to stop the background service and try again (string 106,
// Retry/Cancel, system/MessageBoxes.h). On Retry, on NT, with the service
// installer present in commonFolder, starts it there with "-D". True when the replacement should be
// tried again; *started is set when the installer was started.
bool OfferServiceStop(const char* commonFolder, bool* started) {
  if (ShowUpdaterMessage(Message::kFileRetry) != IDRETRY) return false;
  if (!IsNtPlatform()) return false;
  char installer[MAX_PATH + 1];
  if (!win32::CopyText(installer, sizeof installer, commonFolder) ||
      !win32::AppendText(installer, sizeof installer, kServiceInstaller) || !FileExists(installer))
    return false;
  // In its own folder, as when the update driver starts it.
  const HINSTANCE r = ShellExecuteA(nullptr, "open", installer, "-D", commonFolder, SW_SHOWNORMAL);
  *started = reinterpret_cast<INT_PTR>(r) > 32;
  return true;
}

// Whether target is to be replaced at all. An installed copy newer than the
// payload stays, except files that must match this update whatever their
// date; with "Exist" only a target that is there is replaced, apart from the
// files and groups that are always installed (updatelist/ProductRules.h).
// An installed copy whose time cannot be read may be the newer one:
// *timeUnknown is set, and the replacement fails rather than going ahead.
bool WantsReplacement(const char* target, const FILETIME& stored, bool existed, bool existOnly,
                      const char* groupName, bool* timeUnknown) {
  bool go = true;
  if (existed && !product_rules::FileHasRole(target, product_rules::kAlwaysReplaced)) {
    FILETIME installed;
    if (!InstalledWriteTime(target, &installed)) {
      *timeUnknown = true;
    } else if (CompareFileTime(&stored, &installed) < 0) {
      go = false;
    }
  }
  if (go && existOnly)
    go = existed ||
         product_rules::GroupHasRole(groupName, product_rules::kGroupInstalledDespiteExist) ||
         product_rules::FileHasRole(target, product_rules::kInstalledDespiteExist);
  return go;
}

// Extracts the store entry of (group, file) beside target and expands it
// into a second temporary, checked, stamped with the list's time and put on
// the disc. Both temporaries are recorded while they exist; the compressed
// one is gone again on success. False on any failure. *expansions receives
// the number of expansions made.
bool StageExpandedCopy(Lz32Library& lz32, int32_t group, int32_t file, const UpdateFile& entry,
                       const FILETIME& stored, RecordedTemporary& compressedGuard,
                       RecordedTemporary& expandedGuard, int* expansions) {
  const char* target = entry.targetPath;
  if (!compressedGuard.MakeBeside(target) || !expandedGuard.MakeBeside(target)) return false;
  const char* compressed = compressedGuard.path();
  const char* expanded = expandedGuard.path();
  // Both were made empty; extraction and expansion create them anew.
  DeleteFileA(compressed);
  DeleteFileA(expanded);

  char entryName[32];
  if (!PayloadStore::PayloadEntryName(group, file, entryName, sizeof entryName) ||
      !PayloadStore::ExtractResourceToFile(compressed, seams::StoreModule(), entryName,
                                           PayloadStore::kType))
    return false;
  seams::Pause(kStepPauseMs);
  if (!ExpandWithRetries(lz32, expanded, compressed, entry, expansions)) return false;
  compressedGuard.Remove();  // not needed any more
  // A scanner may hold the fresh file for a moment; the stamp is retried.
  int budget = kExtraAttempts;
  while (!StampAndFlush(expanded, stored)) {
    if (budget-- == 0) return false;
    seams::Pause(kStepPauseMs);
  }
  return true;
}

// Puts the expanded copy in the target's place. Read-only targets are
// replaced too; their attributes come back if the old copy has to stay. The
// driver installer's RunOnce value is written right before every attempt on
// it (no value, no replacement); for the service program the user may stop
// the service (its installer in commonFolder) and try again. False when the
// old copy stays.
bool PutInPlace(const char* expanded, const char* target, bool existed, bool driverInstaller,
                bool serviceProgram, const char* commonFolder) {
  const DWORD oldAttributes = GetFileAttributesA(target);
  if (existed) SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  auto keepOldFile = [&]() {
    if (oldAttributes != INVALID_FILE_ATTRIBUTES && FileExists(target))
      SetFileAttributesA(target, oldAttributes);
    return false;
  };
  const bool nt = IsNtPlatform() != 0;
  bool installerStarted = false;
  for (;;) {
    if (driverInstaller && !SetDriverInstallerRunOnce(target)) return keepOldFile();
    if (ReplaceWithRetries(expanded, target, nt)) return true;
    if (!serviceProgram || !OfferServiceStop(commonFolder, &installerStarted)) {
      // Give a service installer that was started the moment it needs.
      if (installerStarted) seams::Pause(kServiceInstallerPauseMs);
      return keepOldFile();
    }
  }
}

}  // namespace

int32_t UpdateEngine::ReplaceFile(int32_t group, int32_t file, bool existOnly) {
  state_.lastReplaceOutcome = ReplaceOutcome::Skipped;
  state_.lastExpansions = 0;
  const UpdateFile* entry = &list_.file(group, file);
  // No target: nothing to do, and no temporary may land in the current
  // directory or a drive root.
  if (entry->targetPath[0] == '\0') return 0;
  const char* target = entry->targetPath;

  FILETIME stored;
  stored.dwLowDateTime = entry->timeLow;
  stored.dwHighDateTime = entry->timeHigh;
  const bool existed = FileExists(target) != 0;
  bool timeUnknown = false;
  const bool go =
      WantsReplacement(target, stored, existed, existOnly, list_.group(group).name, &timeUnknown);
  // Paces the pass for every file, skipped or not.
  seams::Pause(kStepPauseMs);
  if (!go) return 0;

  // From here on every early return is a failure the list counts.
  auto fail = [this]() -> int32_t {
    state_.lastReplaceOutcome = ReplaceOutcome::Failed;
    ++state_.failedFiles;
    return 0;
  };
  if (timeUnknown) return fail();

  RecordedTemporary compressedGuard, expandedGuard;
  if (!StageExpandedCopy(environment_.lz32(), group, file, *entry, stored, compressedGuard,
                         expandedGuard, &state_.lastExpansions))
    return fail();
  VR_KILL_POINT("replace: stamped, not renamed");

  const OsClass osClass = GetOsClass();
  const bool driverInstaller = (osClass == OsClass::Vista32 || osClass == OsClass::Vista64) &&
                               IsFolderFile(target, list_.programFolder(), kDriverInstaller);
  const char* commonFolder = environment_.folders().common;
  const bool serviceProgram = IsFolderFile(target, commonFolder, kServiceProgram);
  if (!PutInPlace(expandedGuard.path(), target, existed, driverInstaller, serviceProgram,
                  commonFolder))
    return fail();
  // NTFS tunnelling gives a file renamed over another within seconds the
  // old file's creation time: the list's time once more. Best effort: the
  // data and the write time are in place already.
  SetFileTimes(target, &stored);
  VR_KILL_POINT("replace: renamed, record kept");
  expandedGuard.Dismiss();  // it is the target now, with the list's time

  state_.lastReplaceOutcome = ReplaceOutcome::Replaced;
  return 1;
}
