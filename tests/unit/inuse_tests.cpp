// The quick in-use scan of the Start button and the full check of the update
// procedure: files held by another process, exempt and never-busy names,
// read-only files, the "Ostrel" group, the key group's verdict, the write
// probe of the program folder and WOW64 redirection for system groups.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "engine/GroupRules.h"
#include "res/resource.h"
#include "support/Environment.h"
#include "support/GroupsSupport.h"
#include "updatelist/UpdateList.h"
#include "win32/Platform.h"

using namespace vrtest;

namespace {

// Attributes that a reset to normal clears (Wine keeps reporting archive).
constexpr DWORD kCleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

const std::vector<VersionRow> kVersions = {{"10,2,9,0", 40960}, {"10,3,0,0", 41000}};

class InUseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::string("C:\\inuse\\") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    ASSERT_TRUE(InstallProductAt(folder_));
  }
  void TearDown() override { RemoveProductKeys(); }

  std::string Place(const std::string& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const std::string path = folder_ + name;
    EXPECT_TRUE(WriteWholeFile(path, "installed " + name));
    SetFileAttributesA(path.c_str(), attributes);
    return path;
  }
  // Files "tmp*" left in the program folder.
  int ProbeLeftovers() {
    int count = 0;
    for (const std::string& name : FilesIn(folder_))
      count += _strnicmp(name.c_str(), "tmp", 3) == 0;
    return count;
  }

  std::string folder_;
};

// --- held files and the names each scan leaves alone ---

TEST_F(InUseTest, HeldFilesByName) {
  struct {
    const char* name;
    PreflightResult preflight;  // held: result of the quick scan
    bool fullCheck;             // held: the full check passes
  } const cases[] = {
      {"VrCore.dll", PreflightResult::FileInUse, false},
      {"qfcodec.dll", PreflightResult::NothingInUse, true},
      {"DSETUP.DLL", PreflightResult::NothingInUse, true},
      {"MarrowickEnc.dll", PreflightResult::NothingInUse, true},
      {"VrVDRun.exe", PreflightResult::NothingInUse, true},
      {"drelm.DLL", PreflightResult::FileInUse, true},
      {"Drelm.dll", PreflightResult::NothingInUse, true},
      {"Mobicast.ini", PreflightResult::NothingInUse, false},
      {"page.htm", PreflightResult::NothingInUse, false},
      {"mobicast.INI", PreflightResult::FileInUse, false},
      {"Telvane.dll", PreflightResult::NothingInUse, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Place(c.name);
    vrtest::DetectedList list;
    FillList(list, kVersions, {{"Files", "", 999, "", {folder_ + "Other.dll", path}}});
    SeamRecorder messages(IDOK);
    FileHolder holder(path);
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(c.preflight, list.PreflightInUse());
    EXPECT_TRUE(messages.boxes.empty());
    EXPECT_EQ(c.fullCheck ? 1 : 0, list.CheckAllGroups(true));
    if (c.fullCheck) {
      EXPECT_TRUE(messages.boxes.empty());
      EXPECT_EQ(2, list.state().doneCount);
    } else {
      ASSERT_EQ(1u, messages.boxes.size());
      EXPECT_EQ(ResText(IDS_APP_RUNNING), messages.boxes[0].text);
      EXPECT_EQ(UINT(MB_OK | MB_ICONINFORMATION), messages.boxes[0].type);
      EXPECT_EQ(1, list.state().doneCount);
    }
    // Without the in-use test, held files do not matter.
    EXPECT_EQ(1, list.CheckAllGroups(false));
  }
}

TEST_F(InUseTest, HeldFileIsReportedOnlyWhileReporting) {
  const std::string path = Place("VrCore.dll");
  vrtest::DetectedList list;
  FillList(list, kVersions, {{"Files", "", 999, "", {path}}});
  SeamRecorder messages(IDOK);
  FileHolder holder(path);
  ASSERT_TRUE(holder.holding());
  list.state().reporting = false;
  EXPECT_EQ(0, list.CheckFileFree(0, 0, true));
  EXPECT_EQ(1, list.CheckFileFree(0, 0, false));
  EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(InUseTest, OstrelGroupNeverBlocks) {
  const std::string path = Place("VrOstrel.exe");
  vrtest::DetectedList list;
  FillList(list, kVersions, {{"Ostrel", "", 999, "", {path}}, {"Empty", "", 999, "", {}}});
  FileHolder holder(path);
  ASSERT_TRUE(holder.holding());
  SeamRecorder messages(IDOK);
  EXPECT_EQ(PreflightResult::NothingInUse, list.PreflightInUse());
  EXPECT_EQ(1, list.CheckGroupFiles(0, true));
  // A group without files stops the full check, silently; the scan skips it.
  EXPECT_EQ(0, list.CheckAllGroups(true));
  EXPECT_TRUE(messages.boxes.empty());
  EXPECT_EQ(kApply, list.CheckGroup(0, false, nullptr));  // still installed
}

// --- attributes ---

TEST_F(InUseTest, NeverBusyFilesAreResetToArchiveOnly) {
  const std::string bitmap = Place("VrStartUp.bmp");
  FILETIME stamp = {3252985344u, 30195786u};
  ASSERT_EQ(1, SetFileTimes(bitmap.c_str(), &stamp));
  SetFileAttributesA(bitmap.c_str(),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const std::string help = Place("Help.chm", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  vrtest::DetectedList list;
  FillList(list, kVersions, {{"Files", "", 999, "", {bitmap, help}}});
  EXPECT_EQ(PreflightResult::NothingInUse, list.PreflightInUse());
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(bitmap.c_str()));
  FILETIME write = {};
  ASSERT_EQ(1, GetFileTimes(bitmap.c_str(), nullptr, nullptr, &write));
  EXPECT_EQ(0, CompareFileTime(&stamp, &write));
  // The quick scan leaves other files' attributes as they are; the full
  // check resets them to normal.
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
            GetFileAttributesA(help.c_str()));
  EXPECT_EQ(1, list.CheckAllGroups(true));
  EXPECT_EQ(0u, GetFileAttributesA(help.c_str()) & kCleared);
}

// Needs Wine as a user other than root: root opens read-only files for writing.
TEST_F(InUseTest, ReadOnlyFileIsNotInUse) {
  const std::string help = Place("Help.chm", FILE_ATTRIBUTE_READONLY);
  if (!IsFileLocked(help.c_str())) GTEST_SKIP() << "read-only files are writable to this user";
  vrtest::DetectedList list;
  FillList(list, kVersions, {{"Files", "", 999, "", {help}}});
  SeamRecorder messages(IDOK);
  EXPECT_EQ(0, list.ScanGroupInUse(0));
  EXPECT_EQ(PreflightResult::NothingInUse, list.PreflightInUse());
  EXPECT_NE(0u, GetFileAttributesA(help.c_str()) & FILE_ATTRIBUTE_READONLY);
  {
    FileHolder holder(help);
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(PreflightResult::FileInUse, list.PreflightInUse());
  }
  EXPECT_EQ(1, list.CheckAllGroups(true));
  EXPECT_EQ(0u, GetFileAttributesA(help.c_str()) & kCleared);
  EXPECT_TRUE(messages.boxes.empty());
}

// --- the key group ---

TEST_F(InUseTest, KeyGroupVerdictDecidesBothScans) {
  const std::string key = folder_ + "VRSAFFRA9.exe";
  const std::string core = Place("VrCore.dll");
  SeamRecorder messages(IDNO);
  FileHolder holder(core);
  ASSERT_TRUE(holder.holding());

  ASSERT_TRUE(PlaceKeyFile("10310", key, 40960));  // newer than this update
  {
    vrtest::DetectedList list;
    FillList(list, kVersions, {{"General", "", 999, "", {key, core}}});
    EXPECT_EQ(PreflightResult::NothingInUse,
              list.PreflightInUse());  // the key group is not scanned
    EXPECT_TRUE(messages.boxes.empty());
    EXPECT_EQ(0, list.CheckAllGroups(true));
    EXPECT_EQ(kInstalledNewer, list.lastVerdict());
    ASSERT_EQ(1u, messages.boxes.size());
    EXPECT_EQ(ResText(IDS_INSTALLED_NEWER), messages.boxes[0].text);
  }
  messages.boxes.clear();
  ASSERT_TRUE(PlaceKeyFile("10300", key, 41000));  // the same version; the user says No
  {
    vrtest::DetectedList list;
    FillList(list, kVersions, {{"General", "", 999, "", {key, core}}});
    EXPECT_EQ(PreflightResult::FileInUse,
              list.PreflightInUse());  // applies, held file found, no question
    EXPECT_TRUE(messages.boxes.empty());
    EXPECT_EQ(0, list.CheckAllGroups(true));
    EXPECT_EQ(kDeclined, list.lastVerdict());
    ASSERT_EQ(1u, messages.boxes.size());
    EXPECT_EQ(ResText(IDS_REUPDATE_QUESTION), messages.boxes[0].text);
  }
  messages.boxes.clear();
  messages.answer = IDYES;
  {
    vrtest::DetectedList list;
    FillList(list, kVersions, {{"General", "", 999, "", {key, core}}});
    EXPECT_EQ(1, list.CheckAllGroups(false));
    EXPECT_EQ(kApply, list.lastVerdict());
    // Each full check asks anew.
    EXPECT_EQ(1, list.CheckAllGroups(false));
    EXPECT_EQ(2u, messages.boxes.size());
  }
}

// --- the program folder and the product's keys ---

class KeyLock {
 public:
  // Keeps a handle with full access, so the key can be unlocked again.
  explicit KeyLock(const char* subkey) {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                    nullptr);
    locked_ = key_ && SetDacl("D:(A;;KR;;;WD)");
  }
  ~KeyLock() {
    if (key_) {
      SetDacl("D:(A;;KA;;;WD)");
      RegCloseKey(key_);
    }
  }
  bool locked() const { return locked_; }

 private:
  bool SetDacl(const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      return false;
    }
    LONG rc = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return rc == ERROR_SUCCESS;
  }
  HKEY key_ = nullptr;
  bool locked_ = false;
};

TEST_F(InUseTest, WriteProbeOfFolderAndKeys) {
  vrtest::DetectedList list;
  SeamRecorder messages(IDOK);
  EXPECT_EQ(1, CanWriteProgramFolder());
  EXPECT_EQ(PreflightResult::NothingInUse, list.PreflightInUse());  // no groups
  EXPECT_EQ(PreflightResult::NothingInUse, list.PreflightInUse());
  EXPECT_EQ(0, ProbeLeftovers());
  {
    KeyLock lock(kAppPathsKey);
    ASSERT_TRUE(lock.locked());
    EXPECT_EQ(0, CanOpenKeyForWrite(kAppPathsKey));
    EXPECT_EQ(0, CanWriteProgramFolder());  // no Uninstall key to fall back on
    EXPECT_EQ(PreflightResult::FolderNotWritable, list.PreflightInUse());
    EXPECT_EQ(0, list.CheckAllGroups(true));
    ASSERT_EQ(1u, messages.boxes.size());
    EXPECT_EQ(ResText(IDS_CANNOT_WRITE), messages.boxes[0].text);
    HKEY uninstall = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &uninstall, nullptr));
    RegCloseKey(uninstall);
    EXPECT_EQ(1, CanWriteProgramFolder());
    EXPECT_EQ(0, ProbeLeftovers());
  }
  messages.boxes.clear();
  // A folder that cannot take a file.
  ASSERT_TRUE(InstallProductAt(folder_));
  RemoveDirectoryA(folder_.c_str());
  EXPECT_EQ(PreflightResult::FolderNotWritable, list.PreflightInUse());
  RemoveProductKeys();
  EXPECT_EQ(PreflightResult::NoProgramFolder, list.PreflightInUse());
  EXPECT_EQ(0, list.CheckAllGroups(true));
  ASSERT_EQ(1u, messages.boxes.size());
  EXPECT_EQ(ResText(IDS_NOTHING_TO_UPDATE), messages.boxes[0].text);
  EXPECT_EQ(0, CanOpenKeyForWrite(kAppPathsKey));
}

// --- groups in the real 64-bit system folder ---

TEST_F(InUseTest, SystemGroupsAreCheckedInTheRealSystemFolder) {
  if (!Is64BitWindows()) {
    GTEST_SKIP() << "redirection exists only on 64-bit Windows";
  }
  const std::string target = "C:\\windows\\system32\\inuse_held.dll";
  const std::string real = std::string(testbed::kNativeSystemFolder) + "inuse_held.dll";
  ASSERT_TRUE(WriteWholeFile(real, "64"));
  ASSERT_TRUE(WriteWholeFile("C:\\windows\\syswow64\\inuse_held.dll", "32"));
  FileHolder holder(real);
  ASSERT_TRUE(holder.holding());
  struct {
    const char* name;
    bool redirectionOff;
    bool seen;
  } const cases[] = {{"System", true, true},
                     {"driver x64", false, true},
                     // A 64-bit process is never redirected: it sees the held copy.
                     {"Redirected", false, testbed::kSixtyFourBitProcess}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vrtest::DetectedList list;
    FillList(list, kVersions, {{c.name, "", 999, "", {target}, c.redirectionOff}});
    SeamRecorder messages(IDOK);
    EXPECT_EQ(c.seen ? PreflightResult::FileInUse : PreflightResult::NothingInUse,
              list.PreflightInUse());
    EXPECT_EQ(c.seen ? 0 : 1, list.CheckAllGroups(true));
  }
}

}  // namespace
