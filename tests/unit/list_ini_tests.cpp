// The INI reader over the platform's profile functions.
#include <gtest/gtest.h>

#include "support/ListSupport.h"
#include "updatelist/IniFile.h"

namespace {

class IniFileTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = vrtest::MakeFolder("C:\\vrini") + "list.ini";
    ASSERT_TRUE(vrtest::WriteWholeFile(
        path_,
        "[General]\r\nBig=4294967295\r\nTooBig=4294967296\r\nNegative=-7\r\n"
        "Word=abcdefgh\r\nEmpty=\r\nText=xyz\r\n\r\n[group0]\r\nfiles = 3\r\n"));
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }
  std::string path_;
};

TEST_F(IniFileTest, NumbersCoverTheWholeUnsignedRange) {
  IniFile ini(path_.c_str());
  EXPECT_EQ(4294967295u, ini.GetDword("General", "Big", 1));
  EXPECT_EQ(4294967295u, ini.GetDword("general", "BIG", 1));  // names ignore case
  // No 32-bit number: the default, not a saturated or wrapped value.
  EXPECT_EQ(9u, ini.GetDword("General", "TooBig", 9));
  EXPECT_EQ(0u, ini.GetDword("General", "Word", 9));   // text reads as 0
  EXPECT_EQ(9u, ini.GetDword("General", "Empty", 9));  // as with the profile functions
  EXPECT_EQ(9u, ini.GetDword("General", "Missing", 9));
  EXPECT_EQ(9u, ini.GetDword("Nowhere", "Big", 9));
  EXPECT_EQ(9u, ini.GetDword("General", nullptr, 9));
  EXPECT_EQ(-7, ini.GetInt("General", "Negative", 0));
  EXPECT_EQ(3, ini.GetInt("Group0", "Files", 0));
  EXPECT_EQ(5, ini.GetInt("General", "Missing", 5));
  EXPECT_EQ(5, ini.GetInt(nullptr, "Big", 5));
}

TEST_F(IniFileTest, TextsAreCutToTheBuffer) {
  IniFile ini(path_.c_str());
  char buffer[16] = "unchanged";
  EXPECT_EQ(4, ini.GetString("General", "Word", buffer, 5));
  EXPECT_STREQ("abcd", buffer);
  EXPECT_EQ(3, ini.GetString("General", "Text", buffer, sizeof buffer));
  EXPECT_STREQ("xyz", buffer);
  // A missing section or key gives the empty text.
  EXPECT_EQ(0, ini.GetString("Nowhere", "Text", buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  // No key: nothing read, nothing written.
  strcpy(buffer, "unchanged");
  EXPECT_EQ(0, ini.GetString("General", nullptr, buffer, sizeof buffer));
  EXPECT_STREQ("unchanged", buffer);
  EXPECT_EQ(0, ini.GetString("General", "Text", nullptr, 4));
}

TEST_F(IniFileTest, MissingOrOverlongFileGivesDefaults) {
  IniFile missing("C:\\vrini\\none.ini");
  char buffer[8] = "x";
  EXPECT_EQ(0, missing.GetString("General", "Text", buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(4u, missing.GetDword("General", "Big", 4));
  std::string longPath = "C:\\" + std::string(300, 'a') + ".ini";
  IniFile overlong(longPath.c_str());
  EXPECT_STREQ("", overlong.path());
  EXPECT_EQ(4, overlong.GetInt("General", "Big", 4));
  IniFile none(nullptr);
  EXPECT_STREQ("", none.path());
}

TEST_F(IniFileTest, NameLists) {
  IniFile ini(path_.c_str());
  std::unique_ptr<char[]> names;
  ASSERT_EQ(1, ini.GetSectionNames(names));
  EXPECT_STREQ("General", names.get());
  EXPECT_STREQ("group0", names.get() + strlen("General") + 1);
  ASSERT_EQ(1, ini.GetKeyNames("Group0", names));
  EXPECT_STREQ("files", names.get());
  ASSERT_EQ(1, ini.GetKeyNames("Nowhere", names));
  EXPECT_STREQ("", names.get());
}

}  // namespace
