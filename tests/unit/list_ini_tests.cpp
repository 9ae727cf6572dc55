// The INI reader's own rules, beyond what it shares with the profile
// functions (list_diff_tests.cpp): unsigned numbers, whole name lists,
// arguments it refuses, the named parse step, memory running out; and the
// bounded name comparison of the loader.
#include <gtest/gtest.h>

#include "support/ListSupport.h"
#include "updatelist/IniFile.h"
#include "win32/AsciiCase.h"

namespace {

const char kList[] =
    "[General]\r\nBig=4294967295\r\nTooBig=4294967296\r\nNegative=-7\r\nWord=abcdefgh\r\n"
    "Empty=\r\nPlus= +12x\r\n\r\n[group0]\r\nfiles = 3\r\n";

TEST(IniFileTest, UnsignedNumbersCoverTheWholeRange) {
  IniFile ini(kList, sizeof kList - 1);
  ASSERT_EQ(IniFile::ParseResult::Ready, ini.Parse());
  const struct {
    const char* section;
    const char* key;
    uint32_t value;
  } kCases[] = {
      {"General", "Big", 4294967295u},
      {"general", "BIG", 4294967295u},
      {"General", "TooBig", 9},  // no 32-bit number: the default, not a wrapped one
      {"General", "Word", 0},    // text reads as 0
      {"General", "Empty", 9},
      {"General", "Missing", 9},
      {"Nowhere", "Big", 9},
      {"General", "Plus", 12},
      {"Group0", "Files", 3},
      {"General", nullptr, 9},
      {nullptr, "Big", 9},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.section ? c.section : "(null)") + "/" + (c.key ? c.key : "(null)"));
    EXPECT_EQ(c.value, ini.GetDword(c.section, c.key, 9));
  }
  EXPECT_EQ(5, ini.GetInt(nullptr, "Big", 5));
  EXPECT_EQ(5, ini.GetInt("General", nullptr, 5));
}

TEST(IniFileTest, NullArgumentsReadNothingAndWriteNothing) {
  IniFile ini(kList, sizeof kList - 1);
  ASSERT_EQ(IniFile::ParseResult::Ready, ini.Parse());
  char buffer[16] = "unchanged";
  EXPECT_EQ(0, ini.GetString("General", nullptr, buffer, sizeof buffer));
  EXPECT_EQ(0, ini.GetString(nullptr, "Big", buffer, sizeof buffer));
  EXPECT_EQ(0, ini.GetString("General", "Big", buffer, 0));
  EXPECT_EQ(0, ini.GetKeyNames(nullptr, buffer, sizeof buffer));
  EXPECT_STREQ("unchanged", buffer);
  EXPECT_EQ(0, ini.GetString("General", "Big", nullptr, 4));
  EXPECT_EQ(0, ini.GetSectionNames(nullptr, 4));
  std::unique_ptr<char[]> names;
  EXPECT_EQ(0, ini.GetKeyNames(nullptr, names));
  EXPECT_EQ(nullptr, names.get());
}

TEST(IniFileTest, WholeNameLists) {
  IniFile ini(kList, sizeof kList - 1);
  std::unique_ptr<char[]> names;
  // Before the parse: an empty list.
  ASSERT_EQ(1, ini.GetSectionNames(names));
  EXPECT_STREQ("", names.get());
  ASSERT_EQ(IniFile::ParseResult::Ready, ini.Parse());
  ASSERT_EQ(1, ini.GetSectionNames(names));
  EXPECT_EQ(0, memcmp("General\0group0\0", names.get(), 16));
  ASSERT_EQ(1, ini.GetKeyNames("GROUP0", names));
  EXPECT_EQ(0, memcmp("files\0", names.get(), 7));
  ASSERT_EQ(1, ini.GetKeyNames("Nowhere", names));
  EXPECT_EQ(0, memcmp("\0", names.get(), 2));
}

// The parse is the only step that needs memory of its own; without it the
// reader answers as for an empty list, and name lists give none.
TEST(IniFileTest, RunningOutOfMemoryGivesAFailureNotAnException) {
  IniFile ini(kList, sizeof kList - 1);
  IniFile::ParseResult result = IniFile::ParseResult::Ready;
  {
    vrtest::FailAllocations fail(0);
    result = ini.Parse();
  }
  EXPECT_EQ(IniFile::ParseResult::OutOfMemory, result);
  EXPECT_EQ(IniFile::ParseResult::OutOfMemory, ini.Parse());  // the step is not repeated
  EXPECT_EQ(9u, ini.GetDword("General", "Big", 9));

  IniFile parsed(kList, sizeof kList - 1);
  ASSERT_EQ(IniFile::ParseResult::Ready, parsed.Parse());
  std::unique_ptr<char[]> sections, keys;
  int32_t gotSections = -1, gotKeys = -1;
  {
    vrtest::FailAllocations fail(0);
    gotSections = parsed.GetSectionNames(sections);
    gotKeys = parsed.GetKeyNames("General", keys);
  }
  EXPECT_EQ(0, gotSections);
  EXPECT_EQ(0, gotKeys);
  EXPECT_EQ(nullptr, sections.get());
  EXPECT_EQ(nullptr, keys.get());
}

// Names are compared without reading past the shorter one: a name at the
// very end of readable memory, shorter than the prefix, is safe.
TEST(AsciiCaseTest, PrefixesAreComparedWithinTheName) {
  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  const DWORD page = system.dwPageSize;
  char* memory = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, memory);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(memory + page, page, PAGE_NOACCESS, &old));
  char* name = memory + page - 3;
  memcpy(name, "PA", 3);  // "PA" and its zero, right before the guard page
  EXPECT_FALSE(win32::StartsWithIgnoringAsciiCase(name, "Path"));
  EXPECT_TRUE(win32::StartsWithIgnoringAsciiCase(name, "pa"));
  EXPECT_TRUE(win32::StartsWithIgnoringAsciiCase("PATH12", "Path"));
  EXPECT_FALSE(win32::StartsWithIgnoringAsciiCase("\x83\x61", "\x83\x41"));  // ヂ is no ア
  EXPECT_TRUE(win32::EqualsIgnoringAsciiCase("MarrowickCommon_Saffra9", "MARROWICKCOMMON_saffra9"));
  EXPECT_FALSE(win32::EqualsIgnoringAsciiCase("driver", "driver "));
  VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace
