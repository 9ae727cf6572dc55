// Loading update lists from a test store into the model, and the target path
// of every folder kind, inside a simulated installation in the test's prefix.
#include <gtest/gtest.h>

#include "support/Environment.h"
#include "support/ImportPatch.h"
#include "support/ListSupport.h"
#include "system/ProductDetection.h"
#include "updatelist/UpdateList.h"

namespace {

const char* const kProgram = "C:\\vrprog\\";

// An installed product whose control library reports C:\VrTest\Common and
// C:\VrTest\Shared; the list object is made afterwards, as the updater does.
class LoadListTest : public testing::Test {
 protected:
  void SetUp() override {
    vrtest::MakeFolder(kProgram);
    vrtest::MakeFolder(std::string(kProgram) + "virtualQuirra");
    ASSERT_TRUE(vrtest::SetText(vrtest::kAppPathsKey, "Path", kProgram));
    ASSERT_TRUE(vrtest::CopyLibrary("listqf_cdecl", std::string(kProgram) + "QfControl.dll"));
  }
  void TearDown() override { vrtest::RemoveProductKeys(); }
  const char* Target(const vrtest::DetectedList& list, int group, int file) {
    return list.model().file(group, file).targetPath;
  }
};

TEST_F(LoadListTest, EveryFolderKind) {
  vrtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(store.loaded());
  vrtest::DetectedList list;
  ASSERT_EQ(14, list.LoadList());
  EXPECT_STREQ(kProgram, list.model().programFolder());
  EXPECT_STREQ("VRSAFFRA9.exe", list.model().keyFile());
  ASSERT_EQ(2, list.model().versionCount());
  EXPECT_STREQ("10,3,0,0", list.model().version(1).version);
  EXPECT_EQ(4294967295u, list.model().version(1).length);
  ASSERT_EQ(10, list.model().groupCount());

  EXPECT_STREQ("C:\\vrprog\\VRSAFFRA9.exe", Target(list, 0, 0));
  EXPECT_EQ(3252985344u, list.model().file(0, 0).timeLow);
  EXPECT_EQ(30195786u, list.model().file(0, 0).timeHigh);
  // 表 ends in the byte 0x5C: the whole double-byte name is kept.
  EXPECT_STREQ("C:\\vrprog\\\x95\x5c.dll", Target(list, 0, 1));
  EXPECT_EQ(1, list.model().file(0, 1).registerServer);
  EXPECT_EQ(999, list.model().group(0).keyNumber);

  EXPECT_STREQ("C:\\VrTest\\Shared\\a.ax", Target(list, 1, 0));  // "sharedlib"
  EXPECT_TRUE(list.model().group(1).existOnly);
  EXPECT_STREQ("C:\\VrTest\\Common\\Servinst.exe", Target(list, 2, 0));
  EXPECT_STREQ("C:\\VrTest\\Common\\\\Saffra9\\preset.ini", Target(list, 3, 0));

  const std::string system = vrtest::SystemFolder();
  const bool off = vrtest::Is64BitWindows();
  const std::string driverFolder = system + (IsNtPlatform() ? "drivers\\" : "IOSUBSYS\\");
  EXPECT_EQ(driverFolder, list.model().group(4).folderText);
  EXPECT_EQ(driverFolder + "vrdrv.sys", Target(list, 4, 0));
  EXPECT_EQ(off, list.model().group(4).redirectionOff);
  EXPECT_EQ(system + "vrsys.dll", Target(list, 5, 0));
  EXPECT_EQ(off, list.model().group(5).redirectionOff);
  EXPECT_FALSE(list.model().group(0).redirectionOff);

  EXPECT_STREQ("C:\\vrprog\\virtualQuirra\\Vista\\vq.sys", Target(list, 6, 0));
  DWORD vista = GetFileAttributesA("C:\\vrprog\\virtualQuirra\\Vista");
  EXPECT_TRUE(vista != INVALID_FILE_ATTRIBUTES && (vista & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_STREQ("C:\\vrprog\\Doc\\help.chm", Target(list, 7, 0));  // "Doc" is no keyword

  // "Files" 3 with only "Path0": two files with nothing.
  ASSERT_EQ(3, list.model().group(8).fileCount);
  EXPECT_STREQ("C:\\vrprog\\only.txt", Target(list, 8, 0));
  for (int d = 1; d < 3; ++d) {
    EXPECT_STREQ("", Target(list, 8, d));
    EXPECT_EQ(0u, list.model().file(8, d).timeLow);
    EXPECT_EQ(0u, list.model().file(8, d).timeHigh);
  }
  EXPECT_STREQ("1,2,3,4", list.model().group(8).keyVersion);
  // List paths ending in a backslash or without one name no file.
  EXPECT_STREQ("", Target(list, 9, 0));
  EXPECT_STREQ("", Target(list, 9, 1));
  // An index outside the list is the caller's fault: the program stops
  // rather than read beside the tables.
  EXPECT_DEATH((void)list.model().group(10), "");
  EXPECT_DEATH((void)list.model().group(-1), "");
  EXPECT_DEATH((void)list.model().file(8, 3), "");

  // A list is replaced whole: text that is no list leaves nothing of the old one.
  EXPECT_EQ(0, list.LoadText("", kProgram));
  EXPECT_EQ(0, list.model().groupCount());
  EXPECT_STREQ("", list.model().keyFile());
}

TEST_F(LoadListTest, UnknownFoldersGiveNoTargetInsteadOfTheDriveRoot) {
  vrtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(vrtest::CopyLibrary("listqf_none", std::string(kProgram) + "QfControl.dll"));
  vrtest::DetectedList list;
  ASSERT_EQ(14, list.LoadList());
  EXPECT_STREQ("", Target(list, 1, 0));
  EXPECT_STREQ("", Target(list, 2, 0));
  EXPECT_STREQ("", Target(list, 3, 0));
  EXPECT_STREQ("C:\\vrprog\\VRSAFFRA9.exe", Target(list, 0, 0));
}

TEST_F(LoadListTest, VariantListsLoadWhatTheyHold) {
  {
    vrtest::StoreLibrary store("liststore_noversions");
    vrtest::DetectedList list;
    EXPECT_EQ(1, list.LoadList());
    EXPECT_EQ(0, list.model().versionCount());
    EXPECT_STREQ("C:\\vrprog\\a.exe", Target(list, 0, 0));
  }
  {
    // Group0 and Group2 are missing: empty groups without files.
    vrtest::StoreLibrary store("liststore_missing");
    vrtest::DetectedList list;
    EXPECT_EQ(1, list.LoadList());
    ASSERT_EQ(3, list.model().groupCount());
    EXPECT_EQ(0, list.model().group(0).fileCount);
    EXPECT_STREQ("", list.model().group(0).name);
    EXPECT_STREQ("C:\\vrprog\\b.exe", Target(list, 1, 0));
    EXPECT_EQ(0, list.model().group(2).fileCount);
  }
}

TEST_F(LoadListTest, AbsurdCountsNeitherCrashNorHang) {
  {
    vrtest::StoreLibrary store("liststore_overflow");
    vrtest::DetectedList list;
    EXPECT_EQ(0, list.LoadList());  // neither table can be had
    EXPECT_EQ(0, list.model().versionCount());
    EXPECT_EQ(0, list.model().groupCount());
  }
  // 200000 groups declared, a handful present: the loader reads what the
  // list has. A hang is caught by the test's time limit; how long a load
  // takes is the benchmark's business (docs/BENCHMARK.md), not this test's.
  vrtest::StoreLibrary store("liststore_huge");
  vrtest::DetectedList list;
  const int32_t total = list.LoadList();
  EXPECT_EQ(0, list.model().versionCount());
  int64_t sum = 0;
  for (int32_t g = 0; g < list.model().groupCount(); ++g) sum += list.model().group(g).fileCount;
  EXPECT_EQ(sum, total);
  if (list.model().groupCount() == 0) return;  // the table of 200000 groups was not had
  ASSERT_EQ(200000, list.model().groupCount());
  EXPECT_EQ(0, list.model().group(1).fileCount);  // negative
  EXPECT_EQ(0, list.model().group(2).fileCount);  // larger than the address space
  EXPECT_STREQ("last", list.model().group(199999).name);
  EXPECT_STREQ("C:\\vrprog\\last.bin", Target(list, 199999, 0));
  if (list.model().group(0).fileCount > 0) {
    EXPECT_STREQ("C:\\vrprog\\first.bin", Target(list, 0, 0));
    EXPECT_STREQ("", Target(list, 0, 999999));
  }
}

TEST_F(LoadListTest, ATargetTooLongMakesTheListUnloadable) {
  vrtest::StoreLibrary store("liststore_overlong");
  vrtest::DetectedList list;
  EXPECT_EQ(0, list.LoadList());
  EXPECT_EQ(0, list.model().groupCount());
}

// A value longer than its field is read cut by the profile functions; cut,
// it may name another file or version. Folders and names that lead out of
// their folder would put files anywhere on the disk. Each such list counts
// as not loadable, as a target too long to compose does.
using ListLoaderRefuses = LoadListTest;

TEST_F(ListLoaderRefuses, ValuesLongerThanTheirField) {
  // "...\VRSAFFRA9.exe.bak" cut to "...\VRSAFFRA9.exe"; "10,0...01" to "10,0...0".
  for (const char* name : {"liststore_cutpath", "liststore_cutversion"}) {
    SCOPED_TRACE(name);
    vrtest::StoreLibrary store(name);
    ASSERT_TRUE(store.loaded());
    vrtest::DetectedList list;
    EXPECT_EQ(0, list.LoadList()) << "first target: " << Target(list, 0, 0) << ", version: "
                                  << (list.model().versionCount() > 0
                                          ? list.model().version(0).version
                                          : "");
    EXPECT_EQ(0, list.model().groupCount());
  }
}

TEST_F(LoadListTest, NoListNoProductNoLoad) {
  {
    vrtest::StoreLibrary store("liststore_nolist");
    vrtest::DetectedList list;
    EXPECT_EQ(0, list.LoadList());
  }
  vrtest::RemoveProductKeys();
  vrtest::StoreLibrary store("liststore_kinds");
  vrtest::DetectedList list;
  EXPECT_EQ(0, list.LoadList());
  EXPECT_EQ(0, list.model().groupCount());
}

TEST_F(LoadListTest, BuildTargetPathBounds) {
  vrtest::DetectedEnvironment environment;
  ListInputs inputs{environment.folders(), environment.osClass(), kProgram};
  char out[260] = "stale";
  EXPECT_TRUE(BuildTargetPath("X:\\b\\f.txt", "Sub", FolderKind::Program, inputs, out, sizeof out));
  EXPECT_STREQ("C:\\vrprog\\Sub\\f.txt", out);
  EXPECT_TRUE(BuildTargetPath("", "", FolderKind::Program, inputs, out, sizeof out));
  EXPECT_STREQ("", out);
  // 259 characters fit, 260 do not.
  const std::string name250 = std::string(245, 'n') + ".txt";
  EXPECT_TRUE(BuildTargetPath(("X:\\" + name250).c_str(), "", FolderKind::Program, inputs, out,
                              sizeof out));
  EXPECT_EQ(259u, strlen(out));
  EXPECT_FALSE(BuildTargetPath(("X:\\n" + name250).c_str(), "", FolderKind::Program, inputs, out,
                               sizeof out));
  EXPECT_STREQ("", out);
  // No program folder: no target at all, never "\f.txt".
  inputs.programFolder = "";
  EXPECT_TRUE(BuildTargetPath("X:\\b\\f.txt", "", FolderKind::Program, inputs, out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_TRUE(BuildTargetPath("X:\\b\\f.txt", "", FolderKind::System, inputs, out, sizeof out));
  EXPECT_STREQ("", out);

  EXPECT_EQ(FolderKind::SharedLibrary, KindOfInstallPath("SHAREDLIB"));
  EXPECT_EQ(FolderKind::Program, KindOfInstallPath("SharedLib2"));
  EXPECT_EQ(FolderKind::System, KindOfInstallPath("Driver"));
  EXPECT_EQ(FolderKind::VirtualDrive, KindOfInstallPath("virtualquirravista"));
  EXPECT_EQ(FolderKind::Program, KindOfInstallPath(""));
}

}  // namespace

// Lists that name targets outside their folders, cut values or digests that
// cannot be read are refused as a whole; what a careful build writes loads.
TEST_F(LoadListTest, ListsThatCouldLeadOutOfTheirFoldersAreRefused) {
  const std::string hash(64, 'a');
  const struct {
    std::string installPath;
    std::string path;
    std::string extra;
    bool loads;
  } kCases[] = {
      {"Tools", "X:\\b\\f.dll", "", true},
      {"\x83\x5C\\\x95\x5C a", "X:\\b\\\x83\x5C.dll", "", true},  // second bytes 0x5C, blanks
      {"..\\x", "X:\\b\\f.dll", "", false},
      {"a\\..\\..\\b", "X:\\b\\f.dll", "", false},
      {"a\\. .", "X:\\b\\f.dll", "", false},
      {"a/b", "X:\\b\\f.dll", "", false},
      {"C:x", "X:\\b\\f.dll", "", false},
      {"\\Windows", "X:\\b\\f.dll", "", false},
      {"Tools", "X:\\b\\..", "", false},
      {"Tools", "X:\\b\\.", "", false},
      {"Tools", "X:\\b\\a/f.dll", "", false},
      {"Tools", "X:\\b\\c:f.dll", "", false},
      {"Tools", "..", "", false},
      {std::string(260, 'i'), "X:\\b\\f.dll", "", false},  // would be cut to 259
      {"Tools", "X:\\" + std::string(258, 'p'), "", false},
      {"Tools", "X:\\b\\f.dll", "Size0=12\r\nHash0=" + hash + "\r\n", true},
      {"Tools", "X:\\b\\f.dll", "Hash0=" + hash.substr(1) + "\r\n", false},
      {"Tools", "X:\\b\\f.dll", "Hash0=" + hash + "0\r\n", false},
      {"Tools", "X:\\b\\f.dll", "Hash0=" + hash.substr(2) + "zz\r\n", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.installPath + " | " + c.path + " | " + c.extra);
    const std::string ini =
        "[General]\r\nGroup=1\r\nVersions=0\r\n\r\n[Group0]\r\nName=G\r\n"
        "Install Path=" +
        c.installPath + "\r\nFiles=1\r\nPath0=" + c.path + "\r\n" + c.extra;
    vrtest::StoreLibrary store = vrtest::StoreLibrary::WithList(ini);
    ASSERT_TRUE(store.loaded());
    vrtest::DetectedList list;
    EXPECT_EQ(c.loads ? 1 : 0, list.LoadList());
    if (!c.loads || c.extra.empty()) continue;
    const UpdateFile* file = &list.model().file(0, 0);
    EXPECT_TRUE(file->hasSize && file->expandedSize == 12u);
    EXPECT_TRUE(file->hasDigest && file->digest[0] == 0xAA && file->digest[31] == 0xAA);
  }
}

// The list is read from the store entry in memory: no copy of it is made
// that another program of the user could change or replace while the
// updater reads it, so the temporary folder plays no part. (The journeys
// watch the folder during a whole update.)
TEST_F(LoadListTest, NeedsNoTemporaryFolder) {
  vrtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(store.loaded());
  vrtest::ScopedTempVariables nowhere("C:\\" + std::string(300, 't'));
  char temp[MAX_PATH] = {};
  const DWORD n = GetTempPathA(sizeof temp, temp);
  ASSERT_TRUE(n == 0 || n >= sizeof temp) << "the temporary folder is still usable";
  vrtest::DetectedList list;
  EXPECT_EQ(14, list.LoadList());
}

// Before Windows XP, CompareStringA knows no LOCALE_INVARIANT and fails with
// ERROR_INVALID_PARAMETER; Wine accepts it whatever version it reports. With
// the program's own import of CompareStringA answering as Windows 2000 does,
// every versioned entry, group and file of the list is still found.
namespace {
vrtest::ImportPatch* g_compareString = nullptr;
int WINAPI CompareStringBeforeXp(LCID locale, DWORD flags, LPCSTR a, int aLength, LPCSTR b,
                                 int bLength) {
  if (locale == LOCALE_INVARIANT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return g_compareString->original<decltype(CompareStringA)>()(locale, flags, a, aLength, b,
                                                               bLength);
}
}  // namespace

TEST_F(LoadListTest, LoadsWhereCompareStringKnowsNoInvariantLocale) {
  vrtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(store.loaded());
  vrtest::ImportPatch patch("kernel32.dll", "CompareStringA", &CompareStringBeforeXp);
  g_compareString = &patch;
  ASSERT_TRUE(patch.active());
  SetLastError(0);
  ASSERT_EQ(0, CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, "a", 1, "A", 1));
  ASSERT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  vrtest::DetectedList list;
  EXPECT_EQ(14, list.LoadList());
  ASSERT_EQ(2, list.model().versionCount());
  EXPECT_STREQ("10,3,0,0", list.model().version(1).version);
  ASSERT_EQ(10, list.model().groupCount());
  EXPECT_STREQ("C:\\vrprog\\only.txt", Target(list, 8, 0));
  g_compareString = nullptr;
}

// Memory that runs out at any allocation of a load gives the load's failure
// (or, once there is enough, the whole list), never an exception.
TEST_F(LoadListTest, RunningOutOfMemoryAnywhereGivesNoListOrTheWholeList) {
  vrtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(store.loaded());
  int32_t total = 0;
  long allowed = 0;
  for (; allowed < 2000 && total != 14; ++allowed) {
    vrtest::DetectedList list;
    {
      vrtest::FailAllocations fail(allowed);
      total = list.LoadList();
    }
    ASSERT_TRUE(total == 0 || total == 14) << "after " << allowed << " allocations: " << total;
  }
  EXPECT_EQ(14, total);
  EXPECT_GT(allowed, 1) << "the load allocates nothing that could fail";
  double number = -1;
  {
    vrtest::FailAllocations fail(0);
    number = VersionTextToNumber("1234567890,1234567890");  // longer than a short string
  }
  EXPECT_EQ(0, number);
}
