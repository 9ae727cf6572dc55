// Loading update lists from a test store into the model, and the target path
// of every folder kind, inside a simulated installation in the test's prefix.
#include <gtest/gtest.h>

#include "list_test_support.h"
#include "updatelist/UpdateList.h"

namespace {

const char* const kProgram = "C:\\vrprog\\";

std::string SystemFolder() {
  char path[MAX_PATH] = {};
  GetSystemDirectoryA(path, sizeof path);
  return std::string(path) + "\\";
}

bool Is64BitPrefix() {
  DWORD attributes = GetFileAttributesA("C:\\windows\\syswow64");
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// An installed product whose control library reports C:\VrTest\Common and
// C:\VrTest\Shared; the list object is made afterwards, as the updater does.
class LoadListTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetProductFoldersForTest();
    listtest::MakeFolder(kProgram);
    listtest::MakeFolder(std::string(kProgram) + "virtualQuirra");
    ASSERT_TRUE(listtest::SetText(listtest::kAppPathsKey, "Path", kProgram));
    ASSERT_TRUE(listtest::CopyLibrary("listqf_cdecl", std::string(kProgram) + "QfControl.dll"));
    tempFilesBefore_ = listtest::CountTempFiles();
  }
  void TearDown() override {
    // Whatever the result, the loader leaves no copy of the list behind.
    EXPECT_EQ(tempFilesBefore_, listtest::CountTempFiles());
    listtest::RemoveProductKeys();
    ResetProductFoldersForTest();
  }
  const char* Target(UpdateList& list, int group, int file) {
    UpdateFile* entry = list.GetFileEntry(group, file);
    return entry ? entry->targetPath : "<no entry>";
  }
  int tempFilesBefore_ = 0;
};

TEST_F(LoadListTest, EveryFolderKind) {
  listtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(store.loaded());
  UpdateList list;
  ASSERT_EQ(14, list.LoadList());
  EXPECT_STREQ(kProgram, list.programFolder);
  EXPECT_STREQ("VRSAFFRA9.exe", list.keyFile);
  ASSERT_EQ(2, list.versionCount);
  EXPECT_STREQ("10,3,0,0", list.versions[1].version);
  EXPECT_EQ(4294967295u, list.versions[1].length);
  ASSERT_EQ(10, list.groupCount);

  EXPECT_STREQ("C:\\vrprog\\VRSAFFRA9.exe", Target(list, 0, 0));
  EXPECT_EQ(3252985344u, list.GetFileEntry(0, 0)->timeLow);
  EXPECT_EQ(30195786u, list.GetFileEntry(0, 0)->timeHigh);
  // 表 ends in the byte 0x5C: the whole double-byte name is kept.
  EXPECT_STREQ("C:\\vrprog\\\x95\x5c.dll", Target(list, 0, 1));
  EXPECT_EQ(1, list.GetFileEntry(0, 1)->registerServer);
  EXPECT_EQ(999, list.groups[0].keyNumber);

  EXPECT_STREQ("C:\\VrTest\\Shared\\a.ax", Target(list, 1, 0));  // "sharedlib"
  EXPECT_EQ(1, list.groups[1].existOnly);
  EXPECT_STREQ("C:\\VrTest\\Common\\Servinst.exe", Target(list, 2, 0));
  EXPECT_STREQ("C:\\VrTest\\Common\\\\Saffra9\\preset.ini", Target(list, 3, 0));

  const std::string system = SystemFolder();
  const int32_t off = Is64BitPrefix() ? 1 : 0;
  const std::string driverFolder = system + (IsNtPlatform() ? "drivers\\" : "IOSUBSYS\\");
  EXPECT_EQ(driverFolder, list.groups[4].folderText);
  EXPECT_EQ(driverFolder + "vrdrv.sys", Target(list, 4, 0));
  EXPECT_EQ(off, list.groups[4].redirectionOff);
  EXPECT_EQ(system + "vrsys.dll", Target(list, 5, 0));
  EXPECT_EQ(off, list.groups[5].redirectionOff);
  EXPECT_EQ(0, list.groups[0].redirectionOff);

  EXPECT_STREQ("C:\\vrprog\\virtualQuirra\\Vista\\vq.sys", Target(list, 6, 0));
  DWORD vista = GetFileAttributesA("C:\\vrprog\\virtualQuirra\\Vista");
  EXPECT_TRUE(vista != INVALID_FILE_ATTRIBUTES && (vista & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_STREQ("C:\\vrprog\\Doc\\help.chm", Target(list, 7, 0));  // "Doc" is no keyword

  // "Files" 3 with only "Path0": two files with nothing.
  ASSERT_EQ(3, list.groups[8].fileCount);
  EXPECT_STREQ("C:\\vrprog\\only.txt", Target(list, 8, 0));
  for (int d = 1; d < 3; ++d) {
    EXPECT_STREQ("", Target(list, 8, d));
    EXPECT_EQ(0u, list.GetFileEntry(8, d)->timeLow);
    EXPECT_EQ(0u, list.GetFileEntry(8, d)->timeHigh);
  }
  EXPECT_STREQ("1,2,3,4", list.groups[8].keyVersion);
  // List paths ending in a backslash or without one name no file.
  EXPECT_STREQ("", Target(list, 9, 0));
  EXPECT_STREQ("", Target(list, 9, 1));

  EXPECT_EQ(nullptr, list.GetFileEntry(10, 0));
  EXPECT_EQ(nullptr, list.GetFileEntry(-1, 0));
  EXPECT_EQ(nullptr, list.GetFileEntry(8, 3));
  EXPECT_EQ(1, list.ClearList());
  EXPECT_EQ(0, list.groupCount);
  EXPECT_STREQ("", list.keyFile);
  EXPECT_EQ(nullptr, list.GetFileEntry(0, 0));
}

TEST_F(LoadListTest, UnknownFoldersGiveNoTargetInsteadOfTheDriveRoot) {
  listtest::StoreLibrary store("liststore_kinds");
  ASSERT_TRUE(listtest::CopyLibrary("listqf_none", std::string(kProgram) + "QfControl.dll"));
  UpdateList list;
  ASSERT_EQ(14, list.LoadList());
  EXPECT_STREQ("", Target(list, 1, 0));
  EXPECT_STREQ("", Target(list, 2, 0));
  EXPECT_STREQ("", Target(list, 3, 0));
  EXPECT_STREQ("C:\\vrprog\\VRSAFFRA9.exe", Target(list, 0, 0));
}

TEST_F(LoadListTest, VariantListsLoadWhatTheyHold) {
  {
    listtest::StoreLibrary store("liststore_noversions");
    UpdateList list;
    EXPECT_EQ(1, list.LoadList());
    EXPECT_EQ(0, list.versionCount);
    EXPECT_STREQ("C:\\vrprog\\a.exe", Target(list, 0, 0));
  }
  {
    // Group0 and Group2 are missing: empty groups without files.
    listtest::StoreLibrary store("liststore_missing");
    UpdateList list;
    EXPECT_EQ(1, list.LoadList());
    ASSERT_EQ(3, list.groupCount);
    EXPECT_EQ(0, list.groups[0].fileCount);
    EXPECT_STREQ("", list.groups[0].name);
    EXPECT_STREQ("C:\\vrprog\\b.exe", Target(list, 1, 0));
    EXPECT_EQ(0, list.groups[2].fileCount);
  }
}

TEST_F(LoadListTest, AbsurdCountsNeitherCrashNorHang) {
  {
    listtest::StoreLibrary store("liststore_overflow");
    UpdateList list;
    EXPECT_EQ(0, list.LoadList());  // neither table can be had
    EXPECT_EQ(0, list.versionCount);
    EXPECT_EQ(0, list.groupCount);
  }
  listtest::StoreLibrary store("liststore_huge");
  UpdateList list;
  const DWORD start = GetTickCount();
  const int32_t total = list.LoadList();
  EXPECT_LT(GetTickCount() - start, 20000u);
  EXPECT_EQ(0, list.versionCount);
  int64_t sum = 0;
  for (int32_t g = 0; g < list.groupCount; ++g) sum += list.groups[g].fileCount;
  EXPECT_EQ(sum, total);
  if (list.groupCount == 0) return;  // the table of 200000 groups was not had
  ASSERT_EQ(200000, list.groupCount);
  EXPECT_EQ(0, list.groups[1].fileCount);  // negative
  EXPECT_EQ(0, list.groups[2].fileCount);  // larger than the address space
  EXPECT_STREQ("last", list.groups[199999].name);
  EXPECT_STREQ("C:\\vrprog\\last.bin", Target(list, 199999, 0));
  if (list.groups[0].fileCount > 0) {
    EXPECT_STREQ("C:\\vrprog\\first.bin", Target(list, 0, 0));
    EXPECT_STREQ("", Target(list, 0, 999999));
  }
}

TEST_F(LoadListTest, ATargetTooLongMakesTheListUnloadable) {
  listtest::StoreLibrary store("liststore_overlong");
  UpdateList list;
  EXPECT_EQ(0, list.LoadList());
  EXPECT_EQ(0, list.groupCount);
}

// A value longer than its field is read cut by the profile functions; cut,
// it may name another file or version. Folders and names that lead out of
// their folder would put files anywhere on the disk. Each such list counts
// as not loadable, as a target too long to compose does.
class ListLoaderRefuses : public LoadListTest {
 protected:
  void ExpectRefused(const char* const* stores, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      SCOPED_TRACE(stores[i]);
      ResetProductFoldersForTest();
      listtest::StoreLibrary store(stores[i]);
      ASSERT_TRUE(store.loaded());
      UpdateList list;
      EXPECT_EQ(0, list.LoadList())
          << "first target: " << Target(list, 0, 0)
          << ", version: " << (list.versions ? list.versions[0].version : "");
      EXPECT_EQ(0, list.groupCount);
    }
  }
};

TEST_F(ListLoaderRefuses, ValuesLongerThanTheirField) {
  // "...\VRSAFFRA9.exe.bak" cut to "...\VRSAFFRA9.exe"; "10,0...01" to "10,0...0".
  const char* const kStores[] = {"liststore_cutpath", "liststore_cutversion"};
  ExpectRefused(kStores, sizeof kStores / sizeof kStores[0]);
}

TEST_F(ListLoaderRefuses, FoldersAndNamesThatLeaveTheirFolder) {
  const char* const kStores[] = {
      "liststore_hostile_upfolder",    "liststore_hostile_midup",
      "liststore_hostile_slashfolder", "liststore_hostile_drivefolder",
      "liststore_hostile_rootfolder",  "liststore_hostile_slashname",
      "liststore_hostile_colonname",   "liststore_hostile_dotname",
      "liststore_hostile_dotdotname",
  };
  ExpectRefused(kStores, sizeof kStores / sizeof kStores[0]);
}

TEST_F(LoadListTest, NoListNoProductNoLoad) {
  {
    listtest::StoreLibrary store("liststore_nolist");
    UpdateList list;
    EXPECT_EQ(0, list.LoadList());
  }
  listtest::RemoveProductKeys();
  listtest::StoreLibrary store("liststore_kinds");
  UpdateList list;
  EXPECT_EQ(0, list.LoadList());
  EXPECT_EQ(0, list.groupCount);
}

TEST_F(LoadListTest, BuildTargetPathBounds) {
  UpdateList list;
  char out[260] = "stale";
  strcpy(list.programFolder, kProgram);
  EXPECT_TRUE(list.BuildTargetPath("X:\\b\\f.txt", "Sub", FolderKind::Program, out, sizeof out));
  EXPECT_STREQ("C:\\vrprog\\Sub\\f.txt", out);
  EXPECT_TRUE(list.BuildTargetPath("", "", FolderKind::Program, out, sizeof out));
  EXPECT_STREQ("", out);
  // 259 characters fit, 260 do not.
  const std::string name250 = std::string(245, 'n') + ".txt";
  EXPECT_TRUE(
      list.BuildTargetPath(("X:\\" + name250).c_str(), "", FolderKind::Program, out, sizeof out));
  EXPECT_EQ(259u, strlen(out));
  EXPECT_FALSE(
      list.BuildTargetPath(("X:\\n" + name250).c_str(), "", FolderKind::Program, out, sizeof out));
  EXPECT_STREQ("", out);
  // No program folder: no target at all, never "\f.txt".
  list.programFolder[0] = '\0';
  EXPECT_TRUE(list.BuildTargetPath("X:\\b\\f.txt", "", FolderKind::Program, out, sizeof out));
  EXPECT_STREQ("", out);
  EXPECT_TRUE(list.BuildTargetPath("X:\\b\\f.txt", "", FolderKind::System, out, sizeof out));
  EXPECT_STREQ("", out);

  EXPECT_EQ(FolderKind::SharedLibrary, UpdateList::KindOfInstallPath("SHAREDLIB"));
  EXPECT_EQ(FolderKind::Program, UpdateList::KindOfInstallPath("SharedLib2"));
  EXPECT_EQ(FolderKind::System, UpdateList::KindOfInstallPath("Driver"));
  EXPECT_EQ(FolderKind::VirtualDrive, UpdateList::KindOfInstallPath("virtualquirravista"));
  EXPECT_EQ(FolderKind::Program, UpdateList::KindOfInstallPath(""));
}

}  // namespace
