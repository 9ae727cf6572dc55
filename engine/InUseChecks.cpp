// The checks before anything is replaced: the quick in-use scan of the Start
// button, and the full check of the update procedure, which also judges the
// key group and probes that the program folder and the product's registry
// keys can be written.
#include <stdint.h>
#include <string.h>

#include "engine/GroupRules.h"
#include "engine/Leftovers.h"
#include "res/resource.h"
#include "system/MessageBoxes.h"
#include "system/ProductDetection.h"
#include "updatelist/ProductRules.h"
#include "engine/UpdateEngine.h"
#include "updatelist/UpdateList.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/KillPoint.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/UniqueHandle.h"

namespace {

using product_rules::FileHasRole;
using product_rules::GroupHasRole;

// Archive only: read-only, hidden and system cleared. The file's times are
// not touched by an attribute change, so they stay as they were. A file whose
// attributes cannot be read is left alone.
void ResetToArchiveOnly(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
}

// Busy for the quick scan. A read-only file cannot be opened for writing by
// anybody, so asking for write access would call it busy for good; it is
// asked for exclusive read access instead, which fails only while somebody
// holds it.
int32_t IsBusyForQuickScan(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    win32::FileHandle file(
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : 1;
  }
  return IsFileLocked(path);
}

}  // namespace

PreflightResult UpdateEngine::PreflightInUse() {
  state_.doneCount = 0;
  state_.reupdateConfirmed = false;
  state_.reporting = true;
  state_.busyFile[0] = '\0';
  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) return PreflightResult::NoProgramFolder;
  if (!CanWriteProgramFolder()) return PreflightResult::FolderNotWritable;
  for (int32_t g = 0; g < list_.groupCount(); ++g) {
    if (ScanGroupInUse(g)) return PreflightResult::FileInUse;
  }
  return PreflightResult::NothingInUse;
}

int32_t UpdateEngine::ScanGroupInUse(int32_t group) {
  const UpdateGroup& g = list_.group(group);
  // The key group is scanned only when it would be installed; every other
  // group is scanned whatever its name or OS rule says.
  if (FindKeyFile(group) != -1 && CheckGroup(group, false, nullptr) != kApply) return 0;
  if (g.fileCount <= 0 || GroupHasRole(g.name, product_rules::kLauncherGroup)) return 0;
  const bool redirectionOff = group_rules::FilesInRealSystemFolder(g, GetOsClass());
  for (int32_t f = 0; f < g.fileCount; ++f) {
    if (IsPayloadFileBusy(group, f, redirectionOff)) {
      win32::CopyText(state_.busyFile, sizeof state_.busyFile, g.files[f].targetPath);
      return 1;
    }
  }
  return 0;
}

int32_t UpdateEngine::IsPayloadFileBusy(int32_t group, int32_t file, bool redirectionOff) const {
  const char* path = list_.file(group, file).targetPath;
  if (!path[0]) return 0;
  // The whole look at the file happens where the group's files really lie.
  ScopedRedirectionOff redirection(redirectionOff);
  if (FileHasRole(path, product_rules::kNeverBusy)) {
    ResetToArchiveOnly(path);
    return 0;
  }
  if (FileHasRole(path, product_rules::kNeverTested)) return 0;
  return IsBusyForQuickScan(path);
}

int32_t UpdateEngine::CheckAllGroups(bool testInUse) {
  state_.doneCount = 0;
  state_.reupdateConfirmed = false;
  state_.reporting = true;
  state_.busyFile[0] = '\0';
  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) {
    Ask(Message::kNothingToUpdate);
    return 0;
  }
  if (!CanWriteProgramFolder()) {
    Ask(Message::kCannotWrite);
    return 0;
  }
  if (list_.groupCount() <= 0) return 0;
  for (int32_t g = 0; g < list_.groupCount(); ++g) {
    if (!CheckGroupFiles(g, testInUse)) return 0;
  }
  return 1;
}

int32_t UpdateEngine::CheckGroupFiles(int32_t group, bool testInUse) {
  const UpdateGroup& g = list_.group(group);
  if (FindKeyFile(group) != -1) {
    // The key group decides the whole update and shows its own messages.
    state_.lastVerdict = CheckGroup(group, true, nullptr);
    if (state_.lastVerdict != kApply) return 0;
  }
  if (g.fileCount <= 0) return 0;
  // The launcher's group never blocks an update; it is installed anyway.
  if (GroupHasRole(g.name, product_rules::kLauncherGroup)) return 1;
  for (int32_t f = 0; f < g.fileCount; ++f) {
    if (!CheckFileFree(group, f, testInUse)) return 0;
    ++state_.doneCount;
  }
  return 1;
}

int32_t UpdateEngine::CheckFileFree(int32_t group, int32_t file, bool testInUse) {
  const char* path = list_.file(group, file).targetPath;
  if (!path[0]) return 1;
  const UpdateGroup& g = list_.group(group);
  ScopedRedirectionOff redirection(group_rules::FilesInRealSystemFolder(g, GetOsClass()));
  if (!testInUse) return 1;
  if (FileHasRole(path, product_rules::kNeverTested) ||
      FileHasRole(path, product_rules::kNotTestedByFullCheck))
    return 1;
  // A read-only copy is no obstacle: the replacement clears it as well.
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (!IsFileLocked(path)) return 1;
  win32::CopyText(state_.busyFile, sizeof state_.busyFile, path);
  if (state_.reporting) Ask(Message::kAppRunning);
  return 0;
}

int32_t CanWriteProgramFolder() {
  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) return 0;
  RecordedTemporary removeProbe;
  if (!removeProbe.MakeIn(folder)) return 0;
  const char* probe = removeProbe.path();
  // Only a file that is really there proves the folder writable: on a
  // read-only volume some systems hand out a name without creating the file.
  const DWORD attributes = GetFileAttributesA(probe);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;

  char key[win32::kTextSize] = {};
  int32_t result = 0;
  if (win32::LoadResString(IDS_APP_PATHS_KEY, key, sizeof key)) result = CanOpenKeyForWrite(key);
  if (!result && win32::LoadResString(IDS_UNINSTALL_KEY, key, sizeof key)) {
    result = CanOpenKeyForWrite(key);
  }
  return result;
}

int32_t CanOpenKeyForWrite(const char* subkey) {
  if (!subkey) return 0;
  win32::RegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS
             ? 1
             : 0;
}
