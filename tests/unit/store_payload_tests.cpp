// The "FILES" store, read from a resource-only library of the tests' own
// (store_fixture.dll) through the store-module seam.
#include <gtest/gtest.h>
#include <limits.h>

#include <string>

#include "engine/PayloadStore.h"
#include "support/Files.h"
#include "win32/Seams.h"

namespace {

using vrtest::ReadWholeFile;
using vrtest::WriteWholeFile;

// What store_fixture.rc stores as "0609.BIN".
std::string FixturePayload() {
  std::string s;
  for (int i = 0; i < 5000; ++i) s += static_cast<char>((i * 7 + 3) % 256);
  return s;
}

// What it stores as "MSG.TXT": Shift-JIS with CR LF line ends and no zero
// (0x95 0x5C in the last line is a double-byte character, not a backslash).
const char kFixtureMsg[] =
    "\x8d\x58\x90\x56\x97\x9a\x97\xf0\x0d\x0a\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93\x20\x31"
    "\x30\x2e\x33\x30\x0d\x0a\x81\x45\x95\x5c\x8e\xa6\x82\xcc\x8f\x43\x90\xb3\x0d\x0a";

class PayloadStoreTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string dll = vrtest::ExeFolder() + "store_fixture.dll";
    fixture_ = LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  static void TearDownTestSuite() {
    if (fixture_) FreeLibrary(fixture_);
    fixture_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(fixture_, nullptr) << "store_fixture.dll beside the test program";
    seams::SetStoreModule(fixture_);
    folder_ = vrtest::MakeTempFolder("payload");
  }
  void TearDown() override { seams::SetStoreModule(nullptr); }

  static HMODULE fixture_;
  std::string folder_;
};
HMODULE PayloadStoreTest::fixture_ = nullptr;

TEST(PayloadEntryNameTest, FormatsGroupThenFileWithAtLeastTwoDigits) {
  struct Case {
    int32_t group, file;
    const char* name;
  } cases[] = {{0, 31, "0031.bin"},   {6, 9, "0609.bin"},    {9, 0, "0900.bin"},
               {10, 5, "1005.bin"},   {1, 100, "01100.bin"}, {10, 100, "10100.bin"},
               {101, 0, "10100.bin"}, {-1, 2, "-102.bin"}};
  for (const Case& c : cases) {
    char name[32] = "junk";
    ASSERT_TRUE(PayloadStore::PayloadEntryName(c.group, c.file, name, sizeof name));
    EXPECT_STREQ(name, c.name) << c.group << "," << c.file;
  }
}

TEST(PayloadEntryNameTest, AnyTwoIndicesFitThirtyTwoCharacters) {
  char name[32];
  ASSERT_TRUE(PayloadStore::PayloadEntryName(INT_MIN, INT_MIN, name, sizeof name));
  EXPECT_STREQ(name, "-2147483648-2147483648.bin");
  ASSERT_TRUE(PayloadStore::PayloadEntryName(INT_MAX, INT_MAX, name, sizeof name));
  EXPECT_STREQ(name, "21474836472147483647.bin");
  // A buffer too small gives false and an empty text, never a cut name.
  char small[8] = "junk";
  EXPECT_FALSE(PayloadStore::PayloadEntryName(0, 31, small, sizeof small));
  EXPECT_STREQ(small, "");
  EXPECT_FALSE(PayloadStore::PayloadEntryName(0, 31, nullptr, 32));
}

// The entry is found without regard to the case of its name or type, in the
// store module when no module is named, and replaces a longer file whole.
TEST_F(PayloadStoreTest, ExtractWritesTheWholeEntry) {
  const struct {
    const char* file;
    bool fixtureNamed;
    const char* name;
    const char* type;
    size_t existing;  // bytes the file held before; 0: no file
  } kCases[] = {{"lower.out", true, "0609.bin", "FILES", 0},
                {"upper.out", true, "0609.BIN", "FILES", 0},
                {"mixed.out", true, "0609.Bin", "FILES", 0},
                {"type.out", true, "0609.bin", "files", 0},
                {"existing.bin", true, "0609.bin", "FILES", 12000},
                {"seam.bin", false, "0609.bin", "FILES", 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::string path = folder_ + c.file;
    if (c.existing) {
      ASSERT_TRUE(WriteWholeFile(path, std::string(c.existing, 'x')));
    }
    ASSERT_EQ(PayloadStore::ExtractResourceToFile(path.c_str(), c.fixtureNamed ? fixture_ : nullptr,
                                                  c.name, c.type),
              1);
    std::string got;
    ASSERT_TRUE(ReadWholeFile(path, &got));
    EXPECT_EQ(got, FixturePayload());
    EXPECT_TRUE(vrtest::NotHeldOpen(path));
  }
}

TEST_F(PayloadStoreTest, ExtractRefusesMissingEmptyOrUnwritable) {
  std::string path = folder_ + "missing.bin";
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(path.c_str(), fixture_, "0610.bin", "FILES"), 0);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing created";
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(path.c_str(), fixture_, "0609.bin", "OTHER"), 0);
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(path.c_str(), fixture_, "EMPTY.BIN", "FILES"), 0);
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(path.c_str(), fixture_, nullptr, "FILES"), 0);
  EXPECT_EQ(PayloadStore::ExtractResourceToFile("", fixture_, "0609.bin", "FILES"), 0);
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(nullptr, fixture_, "0609.bin", "FILES"), 0);
  std::string noFolder = folder_ + "no such folder\\x.bin";
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(noFolder.c_str(), fixture_, "0609.bin", "FILES"),
            0);
  // A file held open without sharing cannot be replaced.
  std::string held = folder_ + "held.bin";
  HANDLE h = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(PayloadStore::ExtractResourceToFile(held.c_str(), fixture_, "0609.bin", "FILES"), 0);
  CloseHandle(h);
}

TEST_F(PayloadStoreTest, TextHasExactBytesAndTerminator) {
  std::string text = "previous";
  ASSERT_EQ(PayloadStore::LoadResourceText(text, fixture_, "msg.txt", "FILES"), 1);
  ASSERT_EQ(text.size(), sizeof kFixtureMsg - 1);
  EXPECT_EQ(text, std::string(kFixtureMsg, sizeof kFixtureMsg - 1));
  EXPECT_EQ(text.c_str()[text.size()], '\0');
  EXPECT_EQ(text.compare(text.size() - 2, 2, "\r\n"), 0);
  // Binary entries come through whole, zero bytes included.
  ASSERT_EQ(PayloadStore::LoadResourceText(text, fixture_, "0609.BIN", "FILES"), 1);
  EXPECT_EQ(text, FixturePayload());
}

TEST_F(PayloadStoreTest, TextFailureLeavesOutputUnchanged) {
  std::string text = "previous";
  EXPECT_EQ(PayloadStore::LoadResourceText(text, fixture_, "NOPE.TXT", "FILES"), 0);
  EXPECT_EQ(PayloadStore::LoadResourceText(text, fixture_, "EMPTY.BIN", "FILES"), 0);
  EXPECT_EQ(PayloadStore::LoadResourceText(text, fixture_, nullptr, "FILES"), 0);
  EXPECT_EQ(PayloadStore::LoadResourceText(text, fixture_, "MSG.TXT", nullptr), 0);
  EXPECT_EQ(text, "previous");
}

}  // namespace
