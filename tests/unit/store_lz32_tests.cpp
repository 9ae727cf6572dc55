// LZ32.DLL binding and expansion. The binding tests use stand-in libraries of
// the tests' own (store_fakelz_*.dll); expansion uses the system's LZ32.DLL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Lz32Library.h"
#include "support/Files.h"
#include "win32/UniqueHandle.h"

namespace {

using vrtest::ReadWholeFile;
using vrtest::WriteWholeFile;

// "abcabcabcabc" packed by hand: three literals, then one match of nine bytes
// from ring position 0xFF0, where the expander wrote the first byte.
const char kPackedAbc[] =
    "\x53\x5A\x44\x44\x88\xF0\x27\x33"
    "A\x00\x0C\x00\x00\x00"
    "\x07"
    "abc"
    "\xF0\xF6";
const std::string kPacked(kPackedAbc, sizeof kPackedAbc - 1);
const std::string kExpanded = "abcabcabcabc";

bool AllEntryPointsNull(const Lz32Library& lz) {
  return !lz.lzStart && !lz.lzDone && !lz.copyLzFile && !lz.lzCopy && !lz.lzInit &&
         !lz.getExpandedNameA && !lz.lzOpenFileA && !lz.lzSeek && !lz.lzRead && !lz.lzClose;
}

// The value the next new handle gets. Handle slots are reused lowest (or
// most recently freed) first, so a handle left open by the code under test
// shows up as a different value here.
HANDLE NextHandleValue() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe);
  return probe;
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH] = "";
  DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  return std::string(path, n);
}

std::string SystemLz32Path() { return vrtest::SystemFolder() + "LZ32.DLL"; }

TEST(Lz32BindingTest, LibraryMissingOneRequiredExportIsRefusedAndUnloaded) {
  std::string fake = vrtest::ExeFolder() + "store_fakelz_missing.dll";
  ASSERT_NE(GetFileAttributesA(fake.c_str()), INVALID_FILE_ATTRIBUTES) << fake;
  Lz32Library lz;
  EXPECT_FALSE(lz.BindCandidate(fake.c_str()));
  EXPECT_EQ(lz.module(), nullptr);
  EXPECT_TRUE(AllEntryPointsNull(lz));
  EXPECT_EQ(GetModuleHandleA(fake.c_str()), nullptr) << "refused library still loaded";
  // Load goes on to the system's library when the preferred one is refused.
  HMODULE fallback = lz.Load(fake.c_str());
  EXPECT_EQ(fallback, lz.module());
  EXPECT_EQ(GetModuleHandleA(fake.c_str()), nullptr) << "refused library still loaded";
  // The fallback must be the system's own library, fully bound.
  ASSERT_NE(lz.module(), nullptr);
  EXPECT_STRCASEEQ(ModulePath(lz.module()).c_str(), SystemLz32Path().c_str());
  EXPECT_TRUE(lz.lzCopy && lz.lzInit && lz.lzSeek && lz.lzClose);
  lz.Unload();
  EXPECT_EQ(lz.module(), nullptr);
  EXPECT_TRUE(AllEntryPointsNull(lz));
}

TEST(Lz32BindingTest, OptionalExportsMayBeAbsentAndDestructionUnloads) {
  std::string fake = vrtest::ExeFolder() + "store_fakelz_required.dll";
  {
    Lz32Library lz;
    HMODULE m = lz.Load(fake.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_STRCASEEQ(ModulePath(m).c_str(), fake.c_str());
    EXPECT_NE(GetModuleHandleA(fake.c_str()), nullptr);
    EXPECT_TRUE(lz.lzCopy && lz.lzInit && lz.getExpandedNameA && lz.lzOpenFileA && lz.lzSeek &&
                lz.lzRead && lz.lzClose);
    EXPECT_FALSE(lz.lzStart || lz.lzDone || lz.copyLzFile);
    // Bound once, Load keeps the binding whatever it is asked next.
    EXPECT_EQ(lz.Load(nullptr), m);
  }
  EXPECT_EQ(GetModuleHandleA(fake.c_str()), nullptr);
}

TEST(Lz32BindingTest, SystemLibraryIsLoadedByFullPathNeverBySearch) {
  // Plant a stand-in named LZ32.DLL in a folder that the loader's search by
  // bare name visits before the system directory.
  std::string folder = vrtest::MakeTempFolder("plant");
  std::string planted = folder + "LZ32.DLL";
  ASSERT_TRUE(vrtest::CopyFromExeFolder("store_fakelz_required.dll", planted));
  ASSERT_TRUE(SetDllDirectoryA(folder.c_str()));
  HMODULE bySearch = LoadLibraryA("LZ32.DLL");
  bool searchFindsPlant = bySearch && !GetProcAddress(bySearch, "LZStart");
  if (bySearch) FreeLibrary(bySearch);

  Lz32Library lz;
  HMODULE m = lz.Load(nullptr);
  std::string loaded = m ? ModulePath(m) : "";
  lz.Unload();
  SetDllDirectoryA(nullptr);
  DeleteFileA(planted.c_str());

  ASSERT_NE(m, nullptr);
  EXPECT_STRCASEEQ(loaded.c_str(), SystemLz32Path().c_str());
  if (!searchFindsPlant) {
    GTEST_SKIP() << "this loader prefers its built-in LZ32.DLL to the planted one, so the "
                    "planted copy could not have been picked either way";
  }
}

class ExpandFileTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = vrtest::MakeTempFolder("expand");
    source_ = folder_ + "abc.bi_";
    ASSERT_TRUE(WriteWholeFile(source_, kPacked));
  }
  std::string folder_;
  std::string source_;
  Lz32Library lz_;
};

// Each expansion replaces whatever the destination held, leaves no file
// open, and binds the library on demand (it is not loaded beforehand).
TEST_F(ExpandFileTest, ExpandsOrCopiesOverTheDestination) {
  std::string deep = folder_;
  while (deep.size() < 170) deep += "a-rather-long-folder-name\\";
  ASSERT_FALSE(vrtest::MakeFolder(deep).empty());
  const std::string plain = std::string("not compressed\r\n") + std::string(3, '\0') + "SZDD";
  const struct {
    const char* what;
    std::string source, dest, bytes, old, expected;
  } kCases[] = {
      {"packed, over a longer file", source_, folder_ + "abc.bin", kPacked,
       std::string(100000, 'z'), kExpanded},
      {"not compressed: copied verbatim", folder_ + "plain.txt", folder_ + "plain.out", plain, "",
       plain},
      {"paths of more than 128 characters", deep + "abc.bi_", deep + "abc.bin", kPacked,
       "old contents, longer than the new ones", kExpanded},
  };
  ASSERT_GT(kCases[2].source.size(), 128u);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteWholeFile(c.source, c.bytes));
    if (!c.old.empty()) {
      ASSERT_TRUE(WriteWholeFile(c.dest, c.old));
    }
    ASSERT_EQ(lz_.ExpandFile(c.dest.c_str(), c.source.c_str()), 1);
    EXPECT_NE(lz_.module(), nullptr);
    std::string got;
    ASSERT_TRUE(ReadWholeFile(c.dest, &got));
    EXPECT_EQ(got, c.expected);
    EXPECT_TRUE(vrtest::NotHeldOpen(c.dest));
    EXPECT_TRUE(vrtest::NotHeldOpen(c.source));
  }
}

TEST_F(ExpandFileTest, MissingSourceFailsAndLeaksNoHandle) {
  std::string missing = folder_ + "missing.bi_";
  std::string dest = folder_ + "missing.bin";
  // Warm up: the first call binds the library and may allocate for good.
  ASSERT_EQ(lz_.ExpandFile(dest.c_str(), missing.c_str()), 0);
  HANDLE before = NextHandleValue();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(lz_.ExpandFile(dest.c_str(), missing.c_str()), 0);
  EXPECT_EQ(NextHandleValue(), before);
  // Nothing was created for a source that is not there.
  EXPECT_EQ(GetFileAttributesA(dest.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ExpandFileTest, LeakProbeSeesAHandleLeftOpen) {
  // Guards the leak tests: one file left open must change the probe.
  HANDLE before = NextHandleValue();
  win32::FileHandle h(CreateFileA(source_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  EXPECT_NE(NextHandleValue(), before);
  h.reset();
  EXPECT_EQ(NextHandleValue(), before);
}

TEST_F(ExpandFileTest, RepeatedExpansionsReleaseEveryLzHandle) {
  // LZ32 keeps at most 16 open compressed files; a handle not closed would
  // make the 17th expansion fail.
  ASSERT_EQ(lz_.ExpandFile((folder_ + "warm.bin").c_str(), source_.c_str()), 1);
  HANDLE before = NextHandleValue();
  for (int i = 0; i < 40; ++i) {
    std::string dest = folder_ + "rep" + std::to_string(i) + ".bin";
    ASSERT_EQ(lz_.ExpandFile(dest.c_str(), source_.c_str()), 1) << "expansion " << i;
  }
  EXPECT_EQ(NextHandleValue(), before);
}

TEST_F(ExpandFileTest, RefusesWhatCannotBeDone) {
  EXPECT_EQ(lz_.ExpandFile(nullptr, source_.c_str()), 0);
  EXPECT_EQ(lz_.ExpandFile((folder_ + "x").c_str(), nullptr), 0);
  EXPECT_EQ(lz_.ExpandFile("", source_.c_str()), 0);
  EXPECT_EQ(lz_.ExpandFile((folder_ + "no folder\\x.bin").c_str(), source_.c_str()), 0);
  // A destination held open without sharing cannot be replaced; the source
  // is released all the same.
  std::string held = folder_ + "held.bin";
  win32::FileHandle h(
      CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(h);
  EXPECT_EQ(lz_.ExpandFile(held.c_str(), source_.c_str()), 0);
  EXPECT_TRUE(vrtest::NotHeldOpen(source_));
}

// Packs made on the build machine by szddpack (store_szdd_check.py prepare),
// expanded here through the system's LZ32.DLL. The folder comes as
// --szdd-dir=<Windows path>; without it these tests do not apply.
std::string SzddFolder() {
  std::string dir = vrtest::CommandLineOption("szdd-dir");
  for (char& c : dir)
    if (c == '/') c = '\\';
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  return dir;
}

TEST(SzddRoundTrip, EveryPackExpandsByteExactlyThroughLz32) {
  std::string dir = SzddFolder();
  if (dir.empty()) GTEST_SKIP() << "no --szdd-dir given";
  WIN32_FIND_DATAA found;
  win32::FindHandle find(FindFirstFileA((dir + "*.sz").c_str(), &found));
  ASSERT_TRUE(find) << dir;
  std::vector<std::string> names;
  do {
    std::string name = found.cFileName;
    names.push_back(name.substr(0, name.size() - 3));
  } while (FindNextFileA(find.get(), &found));
  ASSERT_GE(names.size(), 10u) << "the prepared inputs are missing";

  std::string out = vrtest::MakeTempFolder("roundtrip");
  Lz32Library lz;
  for (const std::string& name : names) {
    std::string original, expanded;
    ASSERT_TRUE(ReadWholeFile(dir + name, &original)) << name;
    ASSERT_EQ(lz.ExpandFile((out + name).c_str(), (dir + name + ".sz").c_str()), 1) << name;
    ASSERT_TRUE(ReadWholeFile(out + name, &expanded)) << name;
    EXPECT_EQ(expanded.size(), original.size()) << name;
    EXPECT_TRUE(expanded == original) << name << ": contents differ";
    DeleteFileA((out + name).c_str());
  }
}

}  // namespace
