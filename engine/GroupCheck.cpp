// Which groups of the update list apply to this system, judged by their
// names, their "OS" filter and the installed version of their key file, and
// the probe of the installed sound-effect filter library.
#include <stdint.h>

#include "engine/GroupRules.h"
#include "engine/ProductEnvironment.h"
#include "res/resource.h"
#include "system/MessageBoxes.h"
#include "system/ProductDetection.h"
#include "updatelist/ProductRules.h"
#include "engine/UpdateEngine.h"
#include "updatelist/UpdateList.h"
#include "win32/DynamicCalls.h"
#include "win32/ForeignCall.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/UniqueHandle.h"

namespace {

// "KeyNo" value that means: the file named like the list's "KeyFile".
constexpr int32_t kKeyNoByName = 999;

}  // namespace

namespace group_rules {

bool FilesInRealSystemFolder(const UpdateGroup& group, OsClass osClass) {
  return group.redirectionOff || product_rules::RuleTurnsRedirectionOff(
                                     product_rules::FindGroupRule(group.name, group.os), osClass);
}

}  // namespace group_rules

GroupVerdict UpdateEngine::CheckGroup(int32_t group, bool interactive, bool* needsRedirectionOff) {
  if (needsRedirectionOff) *needsRedirectionOff = false;
  const UpdateGroup& g = list_.group(group);
  bool redirectionOff = false;
  if (!PassesNameAndOsRules(g, &redirectionOff)) return kSkip;
  if (redirectionOff && needsRedirectionOff) *needsRedirectionOff = true;

  int32_t keyNo = g.keyNumber;
  bool keyGroup = false;
  if (keyNo == kKeyNoByName) {
    keyNo = FindKeyFile(group);
    // Without the product's key file the group applies whenever its name
    // and OS rules pass.
    if (keyNo < 0) return kApply;
    keyGroup = true;
  }
  if (g.fileCount < 1 || !g.files || keyNo < 0 || keyNo >= g.fileCount) return kSkip;
  // A group in the real 64-bit system folder is read there, not in the
  // folder that WOW64 would show this 32-bit process.
  return JudgeKeyFile(group, keyNo, keyGroup, group_rules::FilesInRealSystemFolder(g, GetOsClass()),
                      interactive);
}

bool UpdateEngine::PassesNameAndOsRules(const UpdateGroup& g, bool* redirectionOff) {
  const OsClass osClass = GetOsClass();
  const product_rules::GroupRule& rule = product_rules::FindGroupRule(g.name, g.os);
  if (!product_rules::RuleAppliesOn(rule, osClass, IsNtPlatform() != 0)) return false;
  *redirectionOff = product_rules::RuleTurnsRedirectionOff(rule, osClass);
  auto keyNoIsFile = [&g]() { return g.files && g.keyNumber >= 0 && g.keyNumber < g.fileCount; };
  switch (rule.alsoNeeds) {
    case product_rules::AlsoNeeds::Nothing:
      return true;
    case product_rules::AlsoNeeds::FullSoundEffectSet:
      return keyNoIsFile() &&
             ProbeSoundEffectSet(g.files[g.keyNumber].targetPath) == SoundEffectSet::Full;
    case product_rules::AlsoNeeds::EntrySoundEffectSet:
      return keyNoIsFile() &&
             ProbeSoundEffectSet(g.files[g.keyNumber].targetPath) == SoundEffectSet::Entry;
    case product_rules::AlsoNeeds::DriverNotInstalled:
      return environment_.driverState() != DriverState::Present;
  }
  return false;
}

GroupVerdict UpdateEngine::JudgeKeyFile(int32_t group, int32_t keyNo, bool keyGroup,
                                        bool realSystemFolder, bool interactive) {
  const UpdateGroup& g = list_.group(group);
  const char* keyPath = list_.file(group, keyNo).targetPath;
  const bool report = state_.reporting && interactive;
  double reference = VersionTextToNumber(g.keyVersion);

  char installedText[kVersionTextCapacity] = {};
  int32_t haveVersion;
  {
    ScopedRedirectionOff redirection(realSystemFolder);
    haveVersion = GetFileProductVersion(keyPath, installedText, sizeof installedText);
  }
  if (!haveVersion) {
    if (keyGroup && report) Ask(Message::kNothingToUpdate);
    return kNothingToUpdate;
  }
  const double installed = VersionTextToNumber(installedText);
  if (keyGroup && list_.versionCount() > 0) {
    const GroupVerdict listed = JudgeByVersionTable(installed, report, &reference);
    if (listed != kApply) return listed;
  }

  bool lengthMatches;
  {
    ScopedRedirectionOff redirection(realSystemFolder);
    lengthMatches = KeyFileMatchesLength(group, keyNo);
  }
  if (!lengthMatches) {
    if (report) Ask(Message::kNothingToUpdate);
    return kNothingToUpdate;
  }

  if (installed <= 0) return kSkip;
  if (installed < reference) return kApply;
  if (installed > reference) return kInstalledNewer;
  return JudgeSameVersion(keyPath, interactive);
}

GroupVerdict UpdateEngine::JudgeByVersionTable(double installed, bool report, double* reference) {
  const double latest = VersionTextToNumber(list_.version(list_.versionCount() - 1).version);
  *reference = latest;
  for (int32_t d = 0; d < list_.versionCount(); ++d) {
    if (VersionTextToNumber(list_.version(d).version) == installed) return kApply;
  }
  // An unlisted older version is not this update's business; an unlisted
  // newer one must not be lowered.
  if (installed <= latest) return kNothingToUpdate;
  if (report) Ask(Message::kInstalledNewer);
  return kInstalledNewer;
}

GroupVerdict UpdateEngine::JudgeSameVersion(const char* keyPath, bool interactive) {
  // The same version as this update brings. Every Apply from here on counts
  // as the answer to the re-update question, so it is asked once per run.
  if (!list_.IsKeyFile(keyPath) || state_.reupdateConfirmed) {
    state_.reupdateConfirmed = true;
    return kApply;
  }
  if (!state_.resumeRun && !state_.finishingInterrupted && interactive) {
    if (Ask(Message::kReupdateQuestion) != IDYES) {
      return kDeclined;
    }
  }
  state_.reupdateConfirmed = true;
  return kApply;
}

SoundEffectSet ProbeSoundEffectSet(const char* libraryPath) {
  if (!libraryPath || !libraryPath[0]) return SoundEffectSet::None;
  win32::Module library = win32::LoadLibraryFile(libraryPath, LOAD_WITH_ALTERED_SEARCH_PATH);
  // The library's own exports: FilterLoad is called through
  // win32/ForeignCall.h, the two without arguments directly.
  FARPROC filterLoad = nullptr;
  void(__cdecl * filterFree)() = nullptr;
  DWORD(__cdecl * filtersGetNum)() = nullptr;
  if (!win32::BindExport(library, "FilterLoad", &filterLoad) ||
      !win32::BindExport(library, "FilterFree", &filterFree) ||
      !win32::BindExport(library, "FiltersGetNum", &filtersGetNum)) {
    return SoundEffectSet::None;
  }

  // Without a temporary folder the library is not asked at all: an empty
  // text would leave it to choose a folder of its own.
  char tempFolder[MAX_PATH] = {};
  const DWORD tempLength = GetTempPathA(sizeof tempFolder, tempFolder);
  if (tempLength == 0 || tempLength >= sizeof tempFolder) return SoundEffectSet::None;
  // Documented as a C function of two texts; called so that a library built
  // with the other convention cannot unbalance the stack.
  if (!win32::CallWithTwoPointers(filterLoad, "Software\\Marrowick\\VorrelSaffra8", tempFolder))
    return SoundEffectSet::None;
  const DWORD count = filtersGetNum();
  filterFree();
  // Three filters make the entry edition's set; more make the full set.
  if (count == 3) return SoundEffectSet::Entry;
  if (count > 3) return SoundEffectSet::Full;
  return SoundEffectSet::None;
}

int32_t UpdateEngine::FindKeyFile(int32_t group) const {
  const UpdateGroup& g = list_.group(group);
  for (int32_t f = 0; f < g.fileCount; ++f) {
    if (list_.IsKeyFile(g.files[f].targetPath)) return f;
  }
  return -1;
}

bool UpdateEngine::KeyFileMatchesLength(int32_t group, int32_t file) const {
  const char* path = list_.file(group, file).targetPath;
  if (!path[0]) return true;
  // Only the product's key file has lengths in the version table.
  if (!list_.IsKeyFile(path) || list_.versionCount() <= 0) return true;
  if (!FileExists(path)) return false;
  const DWORD size = GetFileSize32(path);
  char text[kVersionTextCapacity] = {};
  if (!GetFileProductVersion(path, text, sizeof text)) return false;
  const double installed = VersionTextToNumber(text);
  for (int32_t d = 0; d < list_.versionCount(); ++d) {
    const VersionEntry& entry = list_.version(d);
    if (entry.length == size && VersionTextToNumber(entry.version) == installed) return true;
  }
  return false;
}
