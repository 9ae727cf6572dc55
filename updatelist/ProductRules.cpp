// The tables of the product's rules (updatelist/ProductRules.h) and the
// lookups over them.
#include "updatelist/ProductRules.h"

#include <windows.h>

#include <iterator>

#include "win32/AsciiCase.h"
#include "win32/Paths.h"

namespace product_rules {
namespace {

// Group names and "OS" values are compared as the list's earlier readers
// compared them (lstrcmpiA); a rule without the text matches any.
bool RuleTextMatches(const char* ruleText, const char* groupText) {
  return !ruleText || (groupText && lstrcmpiA(ruleText, groupText) == 0);
}

// 2000, XP and 2003, and Vista and later, 32-bit.
constexpr WindowsSet kNt32OrVista32 = ClassBit(OsClass::Nt32) | ClassBit(OsClass::Vista32);

// What a rule asks beyond its Windows, named short for the table.
constexpr AlsoNeeds kNothingMore = AlsoNeeds::Nothing;
constexpr AlsoNeeds kFullSoundSet = AlsoNeeds::FullSoundEffectSet;
constexpr AlsoNeeds kEntrySoundSet = AlsoNeeds::EntrySoundEffectSet;
constexpr AlsoNeeds kNoDriver = AlsoNeeds::DriverNotInstalled;

// clang-format off
constexpr GroupRule kGroupRules[] = {
    // name                 "OS"     applies on        also needs      real system folder
    {"SoundEffectDX",       nullptr, kEveryClass,      kFullSoundSet,  false},
    {"SoundEffectTenvo",    nullptr, kEveryClass,      kEntrySoundSet, false},
    {"driver 9X",           nullptr, kNinexPlatform,   kNothingMore,   false},
    {"driver 2000/XP",      nullptr, kNt32OrVista32,   kNothingMore,   false},
    {"driver x64",          nullptr, kSixtyFourBit,    kNothingMore,   true},
    // The 64-bit control library ships with the product's own driver set:
    // the current build never comes from this update, the old one only
    // while that driver is absent.
    {"QfCtrl_64",           "XP64",  kNoWindows,       kNothingMore,   false},
    {"QfCtrl_Shar_64",      "XP64",  kNoWindows,       kNothingMore,   false},
    {"QfCtrl_64_Old",       "XP64",  kSixtyFourBit,    kNoDriver,      false},
    {"QfCtrl_Shar_64_Old",  "XP64",  kSixtyFourBit,    kNoDriver,      false},
    {nullptr,               "XP64",  kSixtyFourBit,    kNothingMore,   false},
    {nullptr,               "X64",   kSixtyFourBit,    kNothingMore,   false},
    {nullptr,               "X86",   kThirtyTwoBit,    kNothingMore,   false},
    {nullptr,               nullptr, kEveryClass,      kNothingMore,   false},
};

constexpr SpecialFile kSpecialFiles[] = {
    // Files that the product keeps open or that nothing ever holds.
    {"VrStartUp.bmp",    kNeverBusy},
    {"VrVDRun.exe",      kNeverBusy | kNotTestedByFullCheck},  // the virtual-drive runner
    {"Drelm.dll",        kNeverBusy | kNotTestedByFullCheck},  // and its library
    {"VrComServer.dll",  kNeverBusy},
    {"Vexlo.dll",        kNeverBusy},
    {"Telvane.dll",      kNeverBusy},
    {"Mobicast.ini",     kNeverBusy},
    {".htm",             kNeverBusy},
    {".jpg",             kNeverBusy},
    {".gif",             kNeverBusy},
    {"MarrowickEnc.dll", kNeverTested},
    {"qfcodec.dll",      kNeverTested},
    {"DSETUP.dll",       kNeverTested},
    {"Glyphen.dll",      kAlwaysReplaced},
    {"runmap.txt",       kAlwaysReplaced},
    {"Tuvexa.exe",       kInstalledDespiteExist},
};

constexpr SpecialGroup kSpecialGroups[] = {
    {"Ostrel",             kLauncherGroup},
    {"VirtualQuirraVista", kGroupInstalledDespiteExist},
};

constexpr InstallPathKeyword kInstallPathKeywords[] = {
    {"SharedLib",               FolderKind::SharedLibrary, false},
    {"MarrowickCommon",         FolderKind::Common,        false},
    {"MarrowickCommon_Saffra9", FolderKind::EditionCommon, false},
    {"driver",                  FolderKind::System,        true},
    {"SYS",                     FolderKind::System,        false},
    {"VirtualQuirraVista",      FolderKind::VirtualDrive,  false},
};
// clang-format on

constexpr const GroupRule& kAnyGroup = kGroupRules[std::size(kGroupRules) - 1];
static_assert(kAnyGroup.groupName == nullptr && kAnyGroup.osValue == nullptr,
              "the last group rule matches any group");

// Every role but kNeverTested and kNotTestedByFullCheck is matched against
// the end of the path, byte for byte; those two against the file name, case
// ignored.
bool NameMatchesForRole(const char* path, const char* name, FileRole role) {
  if (role == kNeverTested || role == kNotTestedByFullCheck) {
    const char* fileName = win32::AfterLastBackslash(path);
    return lstrcmpiA(fileName ? fileName : path, name) == 0;
  }
  return win32::EndsWith(path, name);
}

}  // namespace

GroupRuleTable GroupRules() { return {kGroupRules, std::size(kGroupRules)}; }

const GroupRule& FindGroupRule(const char* groupName, const char* osValue) {
  for (const GroupRule& rule : kGroupRules) {
    if (RuleTextMatches(rule.groupName, groupName) && RuleTextMatches(rule.osValue, osValue))
      return rule;
  }
  return kAnyGroup;
}

bool RuleAppliesOn(const GroupRule& rule, OsClass osClass, bool ntPlatform) {
  if ((rule.appliesOn & kNinexPlatform) && !ntPlatform) return true;
  return (rule.appliesOn & ClassBit(osClass)) != 0;
}

bool RuleTurnsRedirectionOff(const GroupRule& rule, OsClass osClass) {
  return rule.realSystemFolder && IsSixtyFourBitClass(osClass);
}

bool FileHasRole(const char* path, FileRole role) {
  if (!path) return false;
  for (const SpecialFile& file : kSpecialFiles) {
    if ((file.roles & role) && NameMatchesForRole(path, file.name, role)) return true;
  }
  return false;
}

bool GroupHasRole(const char* groupName, GroupRole role) {
  if (!groupName) return false;
  for (const SpecialGroup& group : kSpecialGroups) {
    if ((group.roles & role) && lstrcmpiA(groupName, group.name) == 0) return true;
  }
  return false;
}

const InstallPathKeyword* FindInstallPathKeyword(const char* installPath) {
  if (!installPath) return nullptr;
  for (const InstallPathKeyword& keyword : kInstallPathKeywords) {
    if (win32::EqualsIgnoringAsciiCase(installPath, keyword.text)) return &keyword;
  }
  return nullptr;
}

}  // namespace product_rules
