// Finding the program folder in the registry and judging files by version.
#include <gtest/gtest.h>

#include "support/ListSupport.h"
#include "system/ProductDetection.h"

namespace {

using vrtest::kAppPathsKey;
using vrtest::kUninstallKey;

class ProgramFolderTest : public testing::Test {
 protected:
  void SetUp() override { vrtest::RemoveProductKeys(); }
  void TearDown() override { vrtest::RemoveProductKeys(); }
  std::string Found() {
    char buffer[kProgramFolderCapacity] = "stale";
    if (!GetProgramFolder(buffer, sizeof buffer)) return "<none>";
    return buffer;
  }
};

TEST_F(ProgramFolderTest, AppPathsFirstThenUninstallEntry) {
  EXPECT_EQ("<none>", Found());
  ASSERT_TRUE(vrtest::SetText(kUninstallKey, "InstallLocation", "C:\\Inst"));
  EXPECT_EQ("C:\\Inst\\", Found());
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", "C:\\Prog\\"));
  EXPECT_EQ("C:\\Prog\\", Found());
}

TEST_F(ProgramFolderTest, EmptyValueCountsAsAbsent) {
  // An empty folder would make every target the root of the drive.
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", ""));
  EXPECT_EQ("<none>", Found());
  ASSERT_TRUE(vrtest::SetText(kUninstallKey, "InstallLocation", "C:\\Inst"));
  EXPECT_EQ("C:\\Inst\\", Found());
  ASSERT_TRUE(vrtest::SetText(kUninstallKey, "InstallLocation", ""));
  EXPECT_EQ("<none>", Found());
}

TEST_F(ProgramFolderTest, DoubleByteLastCharacterGetsItsSeparator) {
  ASSERT_EQ(932u, GetACP());
  // 表 ends in the byte 0x5C, which is not a backslash here.
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", "C:\\\x95\x5c"));
  EXPECT_EQ("C:\\\x95\x5c\\", Found());
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", "C:\\\x95\x5c\\"));
  EXPECT_EQ("C:\\\x95\x5c\\", Found());
}

TEST_F(ProgramFolderTest, LengthLimits) {
  ASSERT_TRUE(vrtest::SetText(kUninstallKey, "InstallLocation", "C:\\Inst"));
  const std::string folder259 = "C:\\" + std::string(256, 'a');
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", folder259));
  EXPECT_EQ(folder259 + "\\", Found());  // 260 characters with the separator

  // 260 characters plus the zero: too long, the next location counts.
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", folder259 + "b"));
  EXPECT_EQ("C:\\Inst\\", Found());
  // 260 bytes without any zero are no folder either.
  const std::string raw260 = folder259 + "c";
  ASSERT_TRUE(vrtest::SetValue(kAppPathsKey, "Path", REG_BINARY, raw260.data(), 260));
  EXPECT_EQ("C:\\Inst\\", Found());
  // A shorter unterminated text is terminated at its length (the byte after
  // the counted ones is no zero, so the registry adds none).
  ASSERT_TRUE(vrtest::SetValue(kAppPathsKey, "Path", REG_SZ, "C:\\Rawxyz", 6));
  EXPECT_EQ("C:\\Raw\\", Found());

  // A caller's buffer too small for the folder and its separator.
  ASSERT_TRUE(vrtest::SetText(kAppPathsKey, "Path", folder259));
  char small[260] = {};
  EXPECT_EQ(0, ReadFolderValue(small, sizeof small, kAppPathsKey, "Path"));
  EXPECT_EQ(0, GetProgramFolder(nullptr, 270));
  EXPECT_EQ(0, ReadFolderValue(small, sizeof small, nullptr, "Path"));
}

// Values that are no usable folder count as absent, whichever of the two
// names holds them: the Uninstall entry is the fallback of App Paths.
TEST_F(ProgramFolderTest, UnusableValuesCountAsAbsent) {
  const DWORD rootAsNumber = 0x005C3A43;  // "C:\\" and a zero
  std::string junk;
  for (int i = 1; i < 256; ++i) junk += static_cast<char>(i);
  const struct {
    const char* what;
    DWORD type;
    std::string data;    // stored as given, no zero added
    const char* folder;  // nullptr: absent
  } kCases[] = {
      {"text", REG_SZ, std::string("C:\\Prog\0", 8), "C:\\Prog\\"},
      {"unterminated text", REG_SZ, "C:\\Prog", "C:\\Prog\\"},
      {"network folder", REG_SZ, std::string("\\\\srv\\share\0", 12), "\\\\srv\\share\\"},
      {"number", REG_DWORD, std::string(reinterpret_cast<const char*>(&rootAsNumber), 4), nullptr},
      {"binary", REG_BINARY, "C:\\Prog", nullptr},
      {"text list", REG_MULTI_SZ, std::string("C:\\A\0C:\\B\0\0", 11), nullptr},
      {"no bytes", REG_SZ, "", nullptr},
      {"relative", REG_SZ, "Prog", nullptr},
      {"parent", REG_SZ, "..\\Prog", nullptr},
      {"drive relative", REG_SZ, "C:Prog", nullptr},
      {"rooted without drive", REG_SZ, "\\Prog", nullptr},
      {"unexpanded", REG_EXPAND_SZ, "%ProgramFiles%\\Vr", nullptr},
      {"junk", REG_SZ, junk, nullptr},
      {"261 characters", REG_SZ, "C:\\" + std::string(258, 'a'), nullptr},
      {"4096 bytes", REG_SZ, "C:\\" + std::string(4093, 'a'), nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string expected = c.folder ? c.folder : "C:\\Inst\\";
    // The byte after the data is no zero: the registry must not add one.
    const std::string stored = c.data + "x";
    ASSERT_TRUE(vrtest::SetText(kUninstallKey, "InstallLocation", "C:\\Inst"));
    ASSERT_TRUE(vrtest::SetValue(kAppPathsKey, "Path", c.type, stored.data(),
                                 static_cast<DWORD>(c.data.size())));
    EXPECT_EQ(expected, Found());
    vrtest::RemoveProductKeys();
    ASSERT_TRUE(vrtest::SetValue(kUninstallKey, "InstallLocation", c.type, stored.data(),
                                 static_cast<DWORD>(c.data.size())));
    EXPECT_EQ(c.folder ? c.folder : "<none>", Found());
    vrtest::RemoveProductKeys();
  }
}

TEST(VersionText, OneRunOfFractionDigits) {
  EXPECT_DOUBLE_EQ(10.29, VersionTextToNumber("10,2,9,0"));
  EXPECT_DOUBLE_EQ(10.3, VersionTextToNumber("10,3,0,0"));
  EXPECT_DOUBLE_EQ(10.3, VersionTextToNumber("10, 3, 0, 0"));
  EXPECT_DOUBLE_EQ(10.3, VersionTextToNumber("10.30.000"));
  EXPECT_DOUBLE_EQ(10.3, VersionTextToNumber("10,30,0"));
  EXPECT_DOUBLE_EQ(10.0, VersionTextToNumber("10"));
  EXPECT_DOUBLE_EQ(0.5, VersionTextToNumber(",5"));
  // The parts after the first separator are one run of digits.
  EXPECT_DOUBLE_EQ(10.01, VersionTextToNumber("10,0,10,0"));
  EXPECT_LT(VersionTextToNumber("10,0,10,0"), VersionTextToNumber("10,0,9,0"));
  EXPECT_EQ(VersionTextToNumber("10,2,10,0"), VersionTextToNumber("10,2,1,0"));
  EXPECT_EQ(0.0, VersionTextToNumber("abc,def"));
  EXPECT_EQ(0.0, VersionTextToNumber(""));
  EXPECT_EQ(0.0, VersionTextToNumber(nullptr));
}

TEST(FileProductVersion, FirstTranslationOnly) {
  const std::string folder = vrtest::ExeFolder();
  char text[kVersionTextCapacity] = "stale";
  ASSERT_EQ(1, GetFileProductVersion((folder + "listver_ja.dll").c_str(), text, sizeof text));
  EXPECT_STREQ("10, 2, 9, 0", text);
  EXPECT_DOUBLE_EQ(10.29, VersionTextToNumber(text));
  // Strings stored under another translation than the first entry: none.
  EXPECT_EQ(0, GetFileProductVersion((folder + "listver_other.dll").c_str(), text, sizeof text));
  EXPECT_EQ(0, GetFileProductVersion((folder + "listver_none.dll").c_str(), text, sizeof text));
  EXPECT_EQ(0, GetFileProductVersion(folder.c_str(), text, sizeof text));
  EXPECT_EQ(0, GetFileProductVersion((folder + "missing.dll").c_str(), text, sizeof text));
  EXPECT_EQ(0, GetFileProductVersion(nullptr, text, sizeof text));
  // A small out buffer gets a cut text, never an overrun.
  char small[4] = {};
  ASSERT_EQ(1, GetFileProductVersion((folder + "listver_ja.dll").c_str(), small, sizeof small));
  EXPECT_STREQ("10,", small);
}

}  // namespace
