// The product's rules as data (updatelist/ProductRules.h): every group rule
// judged on every Windows class, every row of the product's table reached
// by a row here, and the way each special name is matched (which the
// in-use and replacement tests show on files).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "updatelist/ProductRules.h"

using namespace product_rules;

namespace {

// One row per group name / "OS" value. "on" has one letter per OsClass,
// Other, Win9x, Nt32, Xp64, Vista32, Vista64: 'y' the group applies, 'r' it
// applies with its files in the real 64-bit system folder, '.' it does not.
// The 9x platform is that of the Win9x class.
struct GroupRow {
  const char* name;
  const char* os;
  const char* on;
  AlsoNeeds alsoNeeds;
};

// clang-format off
const GroupRow kGroupRows[] = {
    {"SoundEffectDX",      "",         "yyyyyy", AlsoNeeds::FullSoundEffectSet},
    // A name rule ignores the "OS" value; names and values ignore case.
    {"soundeffectdx",      "X86",      "yyyyyy", AlsoNeeds::FullSoundEffectSet},
    {"SoundEffectTenvo",   "",         "yyyyyy", AlsoNeeds::EntrySoundEffectSet},
    {"driver 9X",          "",         ".y....", AlsoNeeds::Nothing},
    {"DRIVER 2000/xp",     "X64",      "..y.y.", AlsoNeeds::Nothing},
    {"Driver X64",         "X86",      "...r.r", AlsoNeeds::Nothing},
    {"QfCtrl_64",          "XP64",     "......", AlsoNeeds::Nothing},
    {"qfctrl_shar_64",     "xp64",     "......", AlsoNeeds::Nothing},
    {"QfCtrl_64_Old",      "XP64",     "...y.y", AlsoNeeds::DriverNotInstalled},
    {"QfCtrl_Shar_64_Old", "XP64",     "...y.y", AlsoNeeds::DriverNotInstalled},
    // The control library's names count only with "XP64".
    {"QfCtrl_64",          "X64",      "...y.y", AlsoNeeds::Nothing},
    {"Other",              "XP64",     "...y.y", AlsoNeeds::Nothing},
    {"Other",              "x64",      "...y.y", AlsoNeeds::Nothing},
    {"Other",              "X86",      "yyy.y.", AlsoNeeds::Nothing},
    {"Other",              "anything", "yyyyyy", AlsoNeeds::Nothing},
    {"Other",              "",         "yyyyyy", AlsoNeeds::Nothing},
};
// clang-format on

TEST(ProductRules, GroupRulesOnEveryWindowsClass) {
  const GroupRuleTable table = GroupRules();
  std::set<size_t> reached;
  for (const GroupRow& row : kGroupRows) {
    const GroupRule& rule = FindGroupRule(row.name, row.os);
    reached.insert(static_cast<size_t>(&rule - table.rows));
    EXPECT_EQ(row.alsoNeeds, rule.alsoNeeds) << row.name << " / " << row.os;
    std::string seen;
    for (int c = 0; c <= static_cast<int>(OsClass::Vista64); ++c) {
      const OsClass osClass = static_cast<OsClass>(c);
      const bool applies = RuleAppliesOn(rule, osClass, osClass != OsClass::Win9x);
      seen += !applies ? '.' : RuleTurnsRedirectionOff(rule, osClass) ? 'r' : 'y';
    }
    EXPECT_EQ(row.on, seen) << row.name << " / " << row.os;
  }
  // A rule of the product that no row here reaches is a rule nobody tested.
  for (size_t r = 0; r < table.count; ++r) {
    EXPECT_EQ(1u, reached.count(r)) << "no test row reaches group rule " << r;
  }
}

TEST(ProductRules, TheNinexRuleFollowsThePlatformNotTheClass) {
  // An unclassified 9x system counts as class Other; NT 4.0 is class Other too.
  const GroupRule& rule = FindGroupRule("driver 9X", "");
  EXPECT_TRUE(RuleAppliesOn(rule, OsClass::Other, false));
  EXPECT_FALSE(RuleAppliesOn(rule, OsClass::Other, true));
}

TEST(ProductRules, SpecialNamesAreMatchedAsTheirRoleSays) {
  const struct {
    const char* path;
    FileRole role;
    bool has;
  } rows[] = {
      // Path endings, byte for byte.
      {"C:\\P\\VrStartUp.bmp", kNeverBusy, true},
      {"C:\\P\\XVrStartUp.bmp", kNeverBusy, true},
      {"C:\\P\\vrstartup.bmp", kNeverBusy, false},
      {"C:\\P\\Glyphen.dll", kAlwaysReplaced, true},
      {"C:\\P\\Tuvexa.exe", kInstalledDespiteExist, true},
      {"C:\\P\\Tuvexa.exe", kAlwaysReplaced, false},
      // Whole file names, case ignored.
      {"C:\\P\\dsetup.DLL", kNeverTested, true},
      {"C:\\P\\XDSETUP.dll", kNeverTested, false},
      {"C:\\P\\vrvdrun.exe", kNotTestedByFullCheck, true},
      {"C:\\P\\vrvdrun.exe", kNeverBusy, false},
      {"C:\\P\\VrComServer.dll", kNotTestedByFullCheck, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.has, FileHasRole(row.path, row.role)) << row.path << " role " << row.role;
  }
  EXPECT_TRUE(GroupHasRole("ostrel", kLauncherGroup));
  EXPECT_FALSE(GroupHasRole("Ostrel", kGroupInstalledDespiteExist));
  EXPECT_TRUE(GroupHasRole("VIRTUALQUIRRAVISTA", kGroupInstalledDespiteExist));
}

}  // namespace
