// The product's rules as data: which groups of the update list apply on which
// Windows and whether their files lie in the real 64-bit system folder, the
// file and group names that the checks and the replacement treat specially,
// and the keywords of a group's "Install Path". Only tables and lookups over
// them: nothing here touches a file, a key or a library, so every layer above
// win32/ may read it.
//
// A new Windows-family rule is one row of kGroupRules (ProductRules.cpp) and
// one row of the test table in tests/unit/rules_tests.cpp, which fails while
// any row of the product's table is left without a test row.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "win32/Platform.h"

// Where a group's "Install Path" puts its files.
enum class FolderKind { Program, SharedLibrary, Common, EditionCommon, System, VirtualDrive };

namespace product_rules {

// --- group rules: group name or "OS" value x Windows ---

// A set of Windows: one bit per OsClass, and one bit for the 9x platform as
// GetVersionExA reports it (asked at the check, whatever the class says).
using WindowsSet = uint32_t;
constexpr WindowsSet ClassBit(OsClass osClass) { return 1u << static_cast<uint32_t>(osClass); }
constexpr WindowsSet kNoWindows = 0;
constexpr WindowsSet kNinexPlatform = 1u << 16;
constexpr WindowsSet kSixtyFourBit = ClassBit(OsClass::Xp64) | ClassBit(OsClass::Vista64);
constexpr WindowsSet kEveryClass = ClassBit(OsClass::Other) | ClassBit(OsClass::Win9x) |
                                   ClassBit(OsClass::Nt32) | kSixtyFourBit |
                                   ClassBit(OsClass::Vista32);
constexpr WindowsSet kThirtyTwoBit = kEveryClass & ~kSixtyFourBit;

// What a rule asks of the machine beyond its Windows; the group check finds
// it out only where the Windows fits.
enum class AlsoNeeds {
  Nothing,
  FullSoundEffectSet,   // the library of the group's "KeyNo" file has the full filter set
  EntrySoundEffectSet,  // ... the entry edition's set
  DriverNotInstalled,   // DriverState is not Present
};

struct GroupRule {
  const char* groupName;  // "Name", case ignored; null: any name
  const char* osValue;    // "OS", case ignored; null: any value
  WindowsSet appliesOn;
  AlsoNeeds alsoNeeds;
  // On 64-bit Windows the group's files lie in the real 64-bit system
  // folder: they are read, tested and written with WOW64 redirection off.
  bool realSystemFolder;
};

struct GroupRuleTable {
  const GroupRule* rows;
  size_t count;
};

// Every group rule in the order they are judged; the last matches any group.
GroupRuleTable GroupRules();

// The first rule whose name and "OS" value match the group's. Name rules
// come first, so a group with a rule's name ignores its "OS" value.
const GroupRule& FindGroupRule(const char* groupName, const char* osValue);

// Whether the rule lets its group apply on this Windows (before AlsoNeeds).
bool RuleAppliesOn(const GroupRule& rule, OsClass osClass, bool ntPlatform);

// Whether the rule puts its group's files in the real 64-bit system folder
// on this Windows.
bool RuleTurnsRedirectionOff(const GroupRule& rule, OsClass osClass);

// --- special file and group names ---

// The roles a file has by its name. Each role is matched one way.
enum FileRole : uint32_t {
  // The quick in-use scan resets its attributes and never counts it busy.
  // Matched against the end of the path, byte for byte.
  kNeverBusy = 1u << 0,
  // Shared components that other programs may hold: neither in-use scan
  // tests them. Matched against the file name, case ignored.
  kNeverTested = 1u << 1,
  // The full check before the install does not test it either. File name,
  // case ignored.
  kNotTestedByFullCheck = 1u << 2,
  // Replaced even where the installed copy is newer: it must match this
  // update. End of the path, byte for byte.
  kAlwaysReplaced = 1u << 3,
  // Installed by a group with "Exist" even where no copy is there yet. End
  // of the path, byte for byte.
  kInstalledDespiteExist = 1u << 4,
};

struct SpecialFile {
  const char* name;  // a file name, or the ending of one (".htm")
  uint32_t roles;    // FileRole bits
};

// The roles a group has by its name ("Name", case ignored).
enum GroupRole : uint32_t {
  // The launcher's group: never scanned for files in use, never blocks an
  // update, installed anyway.
  kLauncherGroup = 1u << 0,
  // Every file of the group is installed despite "Exist".
  kGroupInstalledDespiteExist = 1u << 1,
};

struct SpecialGroup {
  const char* name;
  uint32_t roles;  // GroupRole bits
};

bool FileHasRole(const char* path, FileRole role);
bool GroupHasRole(const char* groupName, GroupRole role);

// --- install-path keywords ---

struct InstallPathKeyword {
  const char* text;  // the whole "Install Path", ASCII case ignored
  FolderKind kind;
  // For FolderKind::System: the driver folder under the system folder
  // ("drivers\" on NT, "IOSUBSYS\" on 9x) rather than the system folder.
  bool driverFolder;
};

// The keyword the whole text names, or null (the program folder, with the
// text as a subfolder).
const InstallPathKeyword* FindInstallPathKeyword(const char* installPath);

}  // namespace product_rules
