// Installing one payload file over its target: real files, times, attributes
// and registry values in the test's own prefix; pauses are recorded and
// message boxes answered through the seams.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Leftovers.h"
#include "res/resource.h"
#include "support/Environment.h"
#include "support/FileHolder.h"
#include "support/Files.h"
#include "support/ImportPatch.h"
#include "support/Registry.h"
#include "support/SeamRecorder.h"
#include "system/ProductControlLibrary.h"
#include "testbed/common/ProductKeys.h"
#include "testbed/common/TestbedRegistry.h"
#include "updatelist/UpdateList.h"
#include "win32/DynamicCalls.h"
#include "win32/KillPoint.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/Sha256.h"
#include "win32/UniqueHandle.h"

namespace {

// The time the list gives every payload file: 22 December 2011, 01:41 UTC.
constexpr FILETIME kListTime = {3252985344u, 30195786u};

using testbed::kAppPathsKey;
using testbed::kRunOnceKey;
using vrtest::ExeFolder;
using vrtest::FileHolder;
using vrtest::FilesIn;
using vrtest::KeyExists;
using vrtest::SameTime;
using vrtest::SetText;

HMODULE Store() {
  static HMODULE store = LoadLibraryA((ExeFolder() + "replace_store.dll").c_str());
  return store;
}

std::string Resource(const char* name, const char* type) {
  HRSRC r = FindResourceA(Store(), name, type);
  if (!r) return {};
  const char* data = static_cast<const char*>(LockResource(LoadResource(Store(), r)));
  return std::string(data, SizeofResource(Store(), r));
}

// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadAll(const std::string& path) {
  std::string bytes;
  return vrtest::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}

void WriteAll(const std::string& path, const std::string& data, FILETIME time) {
  win32::FileHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(f) << path;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
  ASSERT_TRUE(SetFileTime(f.get(), &time, &time, &time));
}

FILETIME TimeOf(WORD year) {
  SYSTEMTIME st = {};
  st.wYear = year;
  st.wMonth = 6;
  st.wDay = 1;
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

// A folder of its own under C:\rt, empty, ending in a backslash.
std::string FreshFolder(const std::string& name) {
  CreateDirectoryA("C:\\rt", nullptr);
  std::string folder = "C:\\rt\\" + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

// A digest as the list writes it.
std::string HexText(const uint8_t (&digest)[32]) {
  std::string text;
  char pair[3];
  for (uint8_t byte : digest) {
    snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

int TemporariesIn(const std::string& folder) {
  int n = 0;
  for (const std::string& name : FilesIn(folder))
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), 3, "tmp", 3) == CSTR_EQUAL)
      ++n;
  return n;
}

// The REG_SZ value name of HKLM\subkey (to its first zero), or "<none>".
std::string TextValue(const char* subkey, const char* name) {
  std::string data;
  DWORD type = 0;
  if (!vrtest::ReadValue(subkey, name, &data, &type) || type != REG_SZ) return "<none>";
  return data.c_str();
}

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, Store()) << "replace_store.dll beside the test program";
    seams::SetStoreModule(Store());
  }
  void TearDown() override { seams::SetStoreModule(nullptr); }

  // The engine under test, made once the product's folders are in place,
  // over a list of four groups of four files; Target() names their targets.
  vrtest::DetectedList& List() {
    if (!list_) {
      list_ = std::make_unique<vrtest::DetectedList>();
      FillList(*list_, {}, groups_, program_);
    }
    return *list_;
  }

  // Points file f of group g at target, with the list's time, and loads the
  // list anew (its run state stays).
  void Target(int g, int f, const std::string& target) {
    groups_[g].targets[f] = target;
    FillList(List(), {}, groups_, program_);
  }

  std::vector<vrtest::GroupSpec> groups_ =
      std::vector<vrtest::GroupSpec>(4, {"", "", 0, "", {"", "", "", ""}});
  std::string program_ = "C:\\";  // the list's program folder
  std::unique_ptr<vrtest::DetectedList> list_;
  vrtest::SeamRecorder seams_;  // pauses recorded, boxes answered Cancel unless a test says
  const std::string normal_ = Resource("NORMAL", "RAW");
  const std::string random_ = Resource("RANDOM", "RAW");
};

TEST_F(ReplaceFileTest, ReplacesAnOlderCopyAndStampsTheListsTime) {
  const std::string folder = FreshFolder("older");
  const std::string target = folder + "Help.dll";
  WriteAll(target, "old contents", TimeOf(2005));
  Target(0, 0, target);

  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  // The times first: reading the contents may move the last-access time.
  FILETIME c, a, w;
  ASSERT_TRUE(GetFileTimes(target.c_str(), &c, &a, &w));
  EXPECT_TRUE(SameTime(kListTime, c));
  EXPECT_TRUE(SameTime(kListTime, a));
  EXPECT_TRUE(SameTime(kListTime, w));
  EXPECT_EQ(normal_, ReadAll(target));
  EXPECT_EQ(ReplaceOutcome::Replaced, List().lastReplaceOutcome());
  EXPECT_EQ(0, List().failedFiles());
  EXPECT_EQ(0, TemporariesIn(folder));
  // One pause for the file, one after the extraction; nothing had to wait.
  EXPECT_EQ((std::vector<DWORD>{100, 100}), seams_.pauses);
}

TEST_F(ReplaceFileTest, ReplacesMissingTargetsAndInstallsPayloadsSzddEnlarged) {
  const std::string folder = FreshFolder("missing");
  Target(0, 0, folder + "New.dll");
  Target(0, 1, folder + "Manual.chm");
  // The store entry of the random payload is larger than what it expands to,
  // so the size rule only lets the last of five expansions through.
  ASSERT_GT(Resource("0001.BIN", "FILES").size(), random_.size());

  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(normal_, ReadAll(folder + "New.dll"));
  EXPECT_EQ(1, List().ReplaceFile(0, 1, 0));
  EXPECT_EQ(random_, ReadAll(folder + "Manual.chm"));
  EXPECT_EQ(ReplaceOutcome::Replaced, List().lastReplaceOutcome());
  EXPECT_EQ(0, TemporariesIn(folder));
  EXPECT_EQ(2u, FilesIn(folder).size());
}

TEST_F(ReplaceFileTest, KeepsNewerInstalledCopiesExceptGlyphenAndRunmap) {
  const std::string folder = FreshFolder("newer");
  const char* names[] = {"Help.dll", "Glyphen.dll", "runmap.txt", "glyphen.dll.bak"};
  for (int f = 0; f < 3; ++f) {
    WriteAll(folder + names[f], "newer copy", TimeOf(2020));
    Target(1, f, folder + names[f]);
  }
  WriteAll(folder + "RUNMAP.TXT.x", "newer copy", TimeOf(2020));
  Target(2, 0, folder + "RUNMAP.TXT.x");

  EXPECT_EQ(0, List().ReplaceFile(1, 0, 0));
  EXPECT_EQ("newer copy", ReadAll(folder + "Help.dll"));
  EXPECT_EQ(ReplaceOutcome::Skipped, List().lastReplaceOutcome());
  EXPECT_EQ((std::vector<DWORD>{100}), seams_.pauses);  // skipped files pause too

  EXPECT_EQ(1, List().ReplaceFile(1, 1, 0));
  EXPECT_EQ(normal_, ReadAll(folder + "Glyphen.dll"));
  EXPECT_EQ(1, List().ReplaceFile(1, 2, 0));
  EXPECT_EQ(normal_, ReadAll(folder + "runmap.txt"));
  // The names are compared byte for byte, at the end of the path only.
  EXPECT_EQ(0, List().ReplaceFile(2, 0, 0));
  EXPECT_EQ("newer copy", ReadAll(folder + "RUNMAP.TXT.x"));
  EXPECT_EQ(0, List().failedFiles());
  EXPECT_EQ(0, TemporariesIn(folder));
}

TEST_F(ReplaceFileTest, ExistGroupsReplaceOnlyInstalledFilesWithTwoExceptions) {
  const std::string folder = FreshFolder("exist");
  WriteAll(folder + "Present.dll", "old", TimeOf(2005));
  Target(1, 0, folder + "Present.dll");
  Target(1, 1, folder + "Absent.dll");
  Target(1, 2, folder + "Tuvexa.exe");
  groups_[2].name = "virtualquirravista";
  Target(2, 0, folder + "Vista.sys");

  EXPECT_EQ(1, List().ReplaceFile(1, 0, 1));
  EXPECT_EQ(normal_, ReadAll(folder + "Present.dll"));
  EXPECT_EQ(0, List().ReplaceFile(1, 1, 1));
  EXPECT_EQ(ReplaceOutcome::Skipped, List().lastReplaceOutcome());
  EXPECT_EQ("<missing>", ReadAll(folder + "Absent.dll"));
  EXPECT_EQ(1, List().ReplaceFile(1, 2, 1));
  EXPECT_EQ(normal_, ReadAll(folder + "Tuvexa.exe"));
  EXPECT_EQ(1, List().ReplaceFile(2, 0, 1));
  EXPECT_EQ(normal_, ReadAll(folder + "Vista.sys"));
  EXPECT_EQ(0, List().failedFiles());
}

TEST_F(ReplaceFileTest, FailedExpansionOrExtractionKeepsTheOldFile) {
  const std::string folder = FreshFolder("failed");
  WriteAll(folder + "Empty.dll", "old", TimeOf(2005));
  Target(0, 2, folder + "Empty.dll");  // expands to 0 bytes, five times
  WriteAll(folder + "NoEntry.dll", "old", TimeOf(2005));
  Target(3, 0, folder + "NoEntry.dll");  // the store has no "0300.BIN"
  Target(1, 0, folder + "NoFolder\\X.dll");

  EXPECT_EQ(0, List().ReplaceFile(0, 2, 0));
  EXPECT_EQ(ReplaceOutcome::Failed, List().lastReplaceOutcome());
  EXPECT_EQ(1, List().failedFiles());
  EXPECT_EQ("old", ReadAll(folder + "Empty.dll"));
  EXPECT_EQ(0, List().ReplaceFile(3, 0, 0));
  EXPECT_EQ(2, List().failedFiles());
  EXPECT_EQ("old", ReadAll(folder + "NoEntry.dll"));
  EXPECT_EQ(0, List().ReplaceFile(1, 0, 0));  // no temporary without a folder
  EXPECT_EQ(3, List().failedFiles());
  EXPECT_EQ(0, TemporariesIn(folder));
  EXPECT_EQ(2u, FilesIn(folder).size());
}

TEST_F(ReplaceFileTest, EmptyTargetIsSkippedBeforeAnyTemporary) {
  const std::string folder = FreshFolder("empty");
  const int rootTemporaries = TemporariesIn("C:\\");
  win32::ScopedCurrentDirectory cwd;
  ASSERT_TRUE(cwd.ChangeTo(folder.c_str()));
  List();  // file 0 of group 0 has no target

  EXPECT_EQ(0, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(ReplaceOutcome::Skipped, List().lastReplaceOutcome());
  EXPECT_EQ(0, List().failedFiles());
  EXPECT_TRUE(FilesIn(folder).empty());
  EXPECT_EQ(rootTemporaries, TemporariesIn("C:\\"));
}

int g_moveFileExCalls = 0;
BOOL WINAPI CountingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags) {
  ++g_moveFileExCalls;
  return MoveFileExA(from, to, flags);
}

// NT replaces in one MoveFileExA; where kernel32 lacks it (or on the 9x
// family, where it is a stub that fails) the old copy is moved aside.
TEST_F(ReplaceFileTest, ReplacesWithMoveFileExWhereWindowsHasItAndAsideWhereNot) {
  for (const bool have : {true, false}) {
    SCOPED_TRACE(have ? "with MoveFileExA" : "without MoveFileExA");
    const std::string folder = FreshFolder(have ? "movefileex" : "aside");
    const std::string target = folder + "Help.dll";
    WriteAll(target, "old contents", TimeOf(2005));
    Target(0, 0, target);
    win32::Kernel32Calls calls = win32::Kernel32();
    calls.MoveFileExA = have ? CountingMoveFileEx : nullptr;
    g_moveFileExCalls = 0;
    win32::SetKernel32CallsForTest(&calls);
    EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
    win32::SetKernel32CallsForTest(nullptr);
    EXPECT_EQ(normal_, ReadAll(target));
    EXPECT_EQ(0, TemporariesIn(folder));
    EXPECT_EQ(have && IsNtPlatform() ? 1 : 0, g_moveFileExCalls);
  }
}

TEST_F(ReplaceFileTest, TargetHeldOpenElsewhereStaysIntactWithItsAttributes) {
  const std::string folder = FreshFolder("held");
  const std::string target = folder + "Busy.dll";
  WriteAll(target, "in use", TimeOf(2005));
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  Target(0, 0, target);
  {
    FileHolder holder(target);
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(0, List().ReplaceFile(0, 0, 0));
    EXPECT_EQ(ReplaceOutcome::Failed, List().lastReplaceOutcome());
    EXPECT_EQ(1, List().failedFiles());
    // The replace step was tried once and then 50 more times, 100 ms apart.
    EXPECT_EQ(std::vector<DWORD>(52, 100), seams_.pauses);
    EXPECT_EQ(0, TemporariesIn(folder));
  }
  EXPECT_EQ("in use", ReadAll(target));
  EXPECT_NE(0u, GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY);

  // Once the file is free, the same call replaces it.
  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(normal_, ReadAll(target));
  EXPECT_EQ(0u, GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(0, TemporariesIn(folder));
}

TEST_F(ReplaceFileTest, ReadOnlyTargetIsReplaced) {
  const std::string folder = FreshFolder("readonly");
  const std::string target = folder + "Locked.txt";
  WriteAll(target, "read-only", TimeOf(2005));
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  {
    win32::FileHandle probe(
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (probe) GTEST_SKIP() << "read-only files can be written here (Wine running as root)";
  }
  Target(0, 0, target);
  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  FILETIME w;
  ASSERT_TRUE(GetFileTimes(target.c_str(), nullptr, nullptr, &w));
  EXPECT_TRUE(SameTime(kListTime, w));
  EXPECT_EQ(normal_, ReadAll(target));
  EXPECT_EQ(0u, GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY);
}

// Hidden and system copies are replaced like any other; where a folder name
// leaves no room for the temporary beside a target at the path limit, or the
// folder has gone, the file fails and nothing else changes.
TEST_F(ReplaceFileTest, AttributesPathLimitAndVanishedFolders) {
  const std::string folder = FreshFolder("limits");
  const std::string deep = folder + std::string(240 - folder.size(), 'd') + "\\";
  const std::string deeper = folder + std::string(250 - folder.size(), 'e') + "\\";
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(deeper.c_str(), nullptr));
  const struct {
    std::string target;
    DWORD attributes;
    bool replaced;
  } kCases[] = {
      {folder + "Hidden.dll", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, true},
      // Second bytes 0x5C and a blank: the temporary lands in the right folder.
      {FreshFolder("\x83\x5C\x95\x5C Vr") + "\x83\x5C.dll", FILE_ATTRIBUTE_NORMAL, true},
      {deep + std::string(259 - deep.size(), 'n'), FILE_ATTRIBUTE_NORMAL, true},  // 259
      {deeper + "f.dll", FILE_ATTRIBUTE_NORMAL, false},  // no room for a temporary's name
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target);
    ASSERT_LE(c.target.size(), 259u);
    WriteAll(c.target, "old contents", TimeOf(2005));
    ASSERT_TRUE(SetFileAttributesA(c.target.c_str(), c.attributes));
    Target(0, 0, c.target);
    EXPECT_EQ(c.replaced ? 1 : 0, List().ReplaceFile(0, 0, 0));
    EXPECT_EQ(c.replaced ? normal_ : "old contents", ReadAll(c.target));
  }
  EXPECT_EQ(0, TemporariesIn(folder));
  EXPECT_EQ(0, TemporariesIn(deep));
  EXPECT_EQ(1u, FilesIn(deeper).size());  // f.dll alone, no temporary of any name

  // The folder goes between the check and the install.
  const std::string gone = FreshFolder("vanished");
  Target(0, 0, gone + "File.dll");
  ASSERT_TRUE(RemoveDirectoryA(gone.c_str()));
  EXPECT_EQ(0, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(ReplaceOutcome::Failed, List().lastReplaceOutcome());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(gone.c_str()));
}

TEST_F(ReplaceFileTest, RunOnceNamesTheDriverInstallerQuotedOnVistaAndLater) {
  const std::string program = FreshFolder("Program Files");
  CreateDirectoryA((program + "virtualQuirra").c_str(), nullptr);
  const std::string target = program + "virtualQuirra\\DrvInst.exe";
  program_ = program;
  Target(0, 0, target);
  {
    win32::RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, key.put()) ==
        ERROR_SUCCESS)
      RegDeleteValueA(key.get(), testbed::kDriverInstallerValue);
  }

  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(normal_, ReadAll(target));
  const std::string value = TextValue(kRunOnceKey, testbed::kDriverInstallerValue);
  const OsClass osClass = List().GetOsClass();
  if (osClass == OsClass::Vista32 || osClass == OsClass::Vista64)
    EXPECT_EQ("\"" + target + "\"", value);
  else
    EXPECT_EQ("<none>", value) << "class " << static_cast<int>(osClass);
}

// Everybody gets `access` to HKLM\subkey (made when missing), passed on to
// its subkeys as `inheritance` says; nobody gets more.
void SetEverybodyAccess(const char* subkey, DWORD access = KEY_ALL_ACCESS,
                        DWORD inheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT) {
  win32::RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0,
                                           READ_CONTROL | WRITE_DAC, nullptr, key.put(), nullptr));
  EXPLICIT_ACCESS_A ea = {};
  char everyone[] = "EVERYONE";
  BuildExplicitAccessWithNameA(&ea, everyone, access, SET_ACCESS, inheritance);
  PACL acl = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclA(1, &ea, nullptr, &acl));
  SECURITY_DESCRIPTOR sd;
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &sd));
  LocalFree(acl);
}

TEST_F(ReplaceFileTest, RunOnceKeyRefusedKeepsTheOldDriverInstaller) {
  const OsClass osClass = List().GetOsClass();
  if (osClass != OsClass::Vista32 && osClass != OsClass::Vista64)
    GTEST_SKIP() << "no RunOnce value before Vista";
  const std::string program = FreshFolder("refused");
  CreateDirectoryA((program + "virtualQuirra").c_str(), nullptr);
  const std::string target = program + "virtualQuirra\\DrvInst.exe";
  WriteAll(target, "old installer", TimeOf(2005));
  program_ = program;
  Target(0, 0, target);

  // Everybody may read the key, nobody may write it.
  ASSERT_NO_FATAL_FAILURE(SetEverybodyAccess(kRunOnceKey, KEY_READ, NO_INHERITANCE));
  {
    win32::RegKey probe;
    ASSERT_NE(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_ALL_ACCESS, probe.put()));
  }

  EXPECT_EQ(0, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(ReplaceOutcome::Failed, List().lastReplaceOutcome());
  EXPECT_EQ("old installer", ReadAll(target));
  EXPECT_EQ(0, TemporariesIn(program + "virtualQuirra\\"));
}

// "qfsvcgen.exe" in the common folder: a failed replacement asks whether to
// stop the service through "Servinst.exe -D" and try again.
class ServiceProgramTest : public ReplaceFileTest {
 protected:
  void SetUp() override {
    ReplaceFileTest::SetUp();
    // Folders of this test alone: a service installer started by an earlier
    // test may still be running from its own.
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    program_ = FreshFolder("prog-" + name);
    common_ = FreshFolder("common-" + name);
    ASSERT_TRUE(SetText(kAppPathsKey, "Path", program_));
    ASSERT_TRUE(SetText(testbed::kFoldersKey, testbed::kCommonValue, common_));
    ASSERT_TRUE(vrtest::CopyFromExeFolder("QfControl.dll", program_));
    ASSERT_TRUE(vrtest::CopyFromExeFolder("Servinst.exe", common_));
    ASSERT_STREQ(common_.c_str(), List().environment().folders().common);
    target_ = common_ + "qfsvcgen.exe";
    WriteAll(target_, "running service", TimeOf(2005));
    Target(1, 0, target_);
    ASSERT_TRUE(win32::LoadResString(IDS_APP_RUNNING, expectedText_, sizeof expectedText_));
    // Not the folder the installer must run in.
    ASSERT_TRUE(currentDirectory_.ChangeTo(program_.c_str()));
  }

  // Servinst.log lines, once the installer has written them (it runs on its
  // own after ShellExecute returns; on a busy machine a program can take
  // seconds to start).
  std::string ServinstLog(size_t atLeast) {
    std::string log;
    for (int i = 0; i < 400; ++i) {
      log = ReadAll(common_ + "Servinst.log");
      if (log != "<missing>" && log.size() >= atLeast) break;
      Sleep(50);
    }
    return log;
  }

  std::string program_, common_, target_;
  char expectedText_[512] = {};
  win32::ScopedCurrentDirectory currentDirectory_;
};

TEST_F(ServiceProgramTest, RetryAsksAgainUntilTheServiceHasLetGo) {
  auto holder = std::make_unique<FileHolder>(target_);
  ASSERT_TRUE(holder->holding());
  // First Retry: still held, so the question comes again; the second Retry
  // follows the holder's exit.
  seams_.answerBox = [&](const vrtest::Box&) {
    if (seams_.boxes.size() == 2) holder->Release();
    return IDRETRY;
  };

  EXPECT_EQ(1, List().ReplaceFile(1, 0, 0));
  EXPECT_EQ(normal_, ReadAll(target_));
  EXPECT_EQ(ReplaceOutcome::Replaced, List().lastReplaceOutcome());
  EXPECT_EQ(0, List().failedFiles());
  ASSERT_EQ(2u, seams_.boxes.size());
  for (const vrtest::Box& m : seams_.boxes) {
    // The one rule of every box: the updater's title (no dialog here, so
    // no owner).
    EXPECT_EQ(nullptr, m.owner);
    EXPECT_EQ(vrtest::ResText(IDS_TITLE), m.caption);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL), m.type);
    EXPECT_EQ(expectedText_, m.text);
  }
  // The service installer was started with "-D" after each Retry.
  const std::string log = ServinstLog(2 * strlen("Servinst [-D]\r\n"));
  EXPECT_EQ("Servinst [-D]\r\nServinst [-D]\r\n", log);
  EXPECT_EQ(common_, testbed::ReadText(testbed::kMarksKey, testbed::kServinstDirectoryValue));
  EXPECT_EQ(0, TemporariesIn(common_));
}

TEST_F(ServiceProgramTest, CancelKeepsTheOldServiceProgram) {
  FileHolder holder(target_);
  ASSERT_TRUE(holder.holding());

  EXPECT_EQ(0, List().ReplaceFile(1, 0, 0));
  EXPECT_EQ(ReplaceOutcome::Failed, List().lastReplaceOutcome());
  EXPECT_EQ(1u, seams_.boxes.size());
  holder.Release();
  EXPECT_EQ("running service", ReadAll(target_));
  EXPECT_EQ("<missing>", ReadAll(common_ + "Servinst.log"));
  EXPECT_EQ(0, TemporariesIn(common_));
}

// Known answers: the digest the build writes into the list is Python's.
// The lengths around 56 and 64 bytes (and one block later) are where the
// padding and the length field need one block or two.
TEST(Sha256, KnownAnswers) {
  const struct {
    std::string data;
    const char* digest;
  } kCases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : kCases) {
    uint8_t want[32];
    ASSERT_TRUE(win32::ParseDigest(c.digest, want));
    // Whole, in uneven pieces across the block boundaries, and byte by byte.
    for (const size_t piece : {c.data.size() + 1, size_t{77}, size_t{1}}) {
      if (piece == 1 && c.data.size() > 1000) continue;
      win32::Sha256 hash;
      for (size_t at = 0; at < c.data.size(); at += piece)
        hash.Update(c.data.data() + at, std::min<size_t>(piece, c.data.size() - at));
      uint8_t got[32];
      hash.Final(got);
      EXPECT_EQ(0, memcmp(got, want, 32)) << c.data.size() << " bytes in pieces of " << piece;
    }
  }
}

// An expanded copy that is not what the list says never reaches the target.
// Without a digest, a payload that SZDD enlarged passes only the fifth
// expansion's size rule; with the right digest the first expansion counts.
TEST_F(ReplaceFileTest, ExpandedCopyMustHaveTheListsLengthAndDigest) {
  struct Payload {
    const std::string* bytes;
    uint8_t digest[32];
    uint8_t flipped[32];
  } payloads[2] = {{&normal_, {}, {}}, {&random_, {}, {}}};
  for (Payload& p : payloads) {
    win32::Sha256 hash;
    hash.Update(p.bytes->data(), p.bytes->size());
    hash.Final(p.digest);
    memcpy(p.flipped, p.digest, sizeof p.flipped);
    p.flipped[17] ^= 0x01;
  }
  enum Digest { kNone, kRight, kFlipped };
  const struct {
    const char* name;
    int entry;  // 0: compresses, 1: enlarged by SZDD
    DWORD extraLength;
    Digest digest;
    bool replaced;
    int expansions;
  } kCases[] = {
      {"both right", 0, 0, kRight, true, 1},
      {"one bit of the digest", 0, 0, kFlipped, false, 5},
      {"one byte too long", 0, 1, kRight, false, 5},
      {"enlarged, digest right", 1, 0, kRight, true, 1},
      {"enlarged, no digest", 1, 0, kNone, true, 5},
      {"enlarged, one bit of the digest", 1, 0, kFlipped, false, 5},
  };
  const std::string folder = FreshFolder("verified");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Payload& payload = payloads[c.entry];
    const std::string target = folder + "Help.dll";
    WriteAll(target, "old contents", TimeOf(2005));
    const std::string n = std::to_string(c.entry);
    groups_[0].extraLines =
        "Size" + n + "=" + std::to_string(payload.bytes->size() + c.extraLength) + "\n";
    if (c.digest != kNone)
      groups_[0].extraLines += "Hash" + n + "=" +
                               HexText(c.digest == kFlipped ? payload.flipped : payload.digest) +
                               "\n";
    Target(0, c.entry, target);
    const int32_t failedBefore = List().failedFiles();
    EXPECT_EQ(c.replaced ? 1 : 0, List().ReplaceFile(0, c.entry, 0));
    EXPECT_EQ(c.replaced ? *payload.bytes : "old contents", ReadAll(target));
    EXPECT_EQ(c.replaced ? 0 : 1, List().failedFiles() - failedBefore);
    EXPECT_EQ(c.expansions, List().lastExpansions());
    EXPECT_EQ(0, TemporariesIn(folder));
  }
}

// The files FlushFileBuffers was called for, by their final path.
std::vector<std::string> g_flushed;
vrtest::ImportPatch* g_flushPatch = nullptr;
BOOL WINAPI RecordingFlush(HANDLE file) {
  char path[MAX_PATH + 8] = {};
  if (GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED) > 0)
    g_flushed.push_back(strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path);
  return g_flushPatch->original<decltype(FlushFileBuffers)>()(file);
}

std::vector<std::string> g_moveProblems;
BOOL WINAPI CheckingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(from, GetFileExInfoStandard, &data))
    g_moveProblems.push_back("new copy missing");
  else if (!SameTime(data.ftLastWriteTime, kListTime))
    g_moveProblems.push_back("new copy not stamped before it takes the name");
  if (std::none_of(g_flushed.begin(), g_flushed.end(),
                   [&](const std::string& p) { return lstrcmpiA(p.c_str(), from) == 0; }))
    g_moveProblems.push_back("new copy not flushed before it takes the name");
  if (!(flags & MOVEFILE_WRITE_THROUGH)) g_moveProblems.push_back("no write-through");
  return MoveFileExA(from, to, flags);
}

// A kill right after the rename must not leave a copy stamped "now", which
// would look newer than every later update; a power cut must find the new
// data on the disc before the name points at it.
TEST_F(ReplaceFileTest, NewCopyIsStampedAndFlushedBeforeItTakesTheTargetsName) {
  const std::string folder = FreshFolder("stamped");
  WriteAll(folder + "Help.dll", "old contents", TimeOf(2005));
  Target(0, 0, folder + "Help.dll");
  vrtest::ImportPatch flush("kernel32.dll", "FlushFileBuffers", &RecordingFlush);
  ASSERT_TRUE(flush.active());
  g_flushPatch = &flush;
  win32::Kernel32Calls calls = win32::Kernel32();
  calls.MoveFileExA = CheckingMoveFileEx;
  g_moveProblems.clear();
  g_flushed.clear();
  win32::SetKernel32CallsForTest(&calls);
  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  win32::SetKernel32CallsForTest(nullptr);
  if (!IsNtPlatform()) GTEST_SKIP() << "the 9x family has no MoveFileExA";
  EXPECT_EQ(std::vector<std::string>{}, g_moveProblems);
}

// A scanner holding the installed copy (sharing everything) keeps it from
// being opened: its time is read from the folder entry, so a newer copy is
// still kept; where even that cannot be read the file fails, untouched.
TEST_F(ReplaceFileTest, NewerCopyHeldByAScannerIsKeptOrFailsButIsNeverOverwritten) {
  const std::string folder = FreshFolder("scanned");
  const std::string target = folder + "Help.dll";
  WriteAll(target, "newer copy", TimeOf(2020));
  Target(0, 0, target);
  FileHolder scanner(target, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ASSERT_TRUE(scanner.holding());

  EXPECT_EQ(0, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(ReplaceOutcome::Skipped, List().lastReplaceOutcome());

  win32::Kernel32Calls calls = win32::Kernel32();
  calls.GetFileAttributesExA = nullptr;  // Windows 95
  win32::SetKernel32CallsForTest(&calls);
  EXPECT_EQ(0, List().ReplaceFile(0, 0, 0));
  win32::SetKernel32CallsForTest(nullptr);
  EXPECT_EQ(ReplaceOutcome::Failed, List().lastReplaceOutcome());
  scanner.Release();
  EXPECT_EQ("newer copy", ReadAll(target));
  EXPECT_EQ(0, TemporariesIn(folder));
}

// --------------------------------------------------------------------------
// Records of temporaries and marks (engine/Leftovers.h)

int RecordCount() {
  win32::RegKey key;
  DWORD values = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, leftovers::kRecordKey, 0, KEY_READ, key.put()) !=
          ERROR_SUCCESS ||
      RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  return static_cast<int>(values);
}

// The data of the record of path, or "<none>".
std::string RecordData(const std::string& path) {
  return TextValue(leftovers::kRecordKey, path.c_str());
}

int g_recordsDuringPause = -1;
void RecordRecords(DWORD) { g_recordsDuringPause = std::max(g_recordsDuringPause, RecordCount()); }

// Temporaries are recorded while they exist; what a killed run left is
// removed at the next start, an installed copy moved aside goes back onto
// its target, files the updater did not record stay, and the updater's key
// goes once nothing is left in it.
TEST_F(ReplaceFileTest, LeftoversOfAKilledRunAreSettledAtTheNextStart) {
  const std::string folder = FreshFolder("killed");
  WriteAll(folder + "Help.dll", "old contents", TimeOf(2005));
  Target(0, 0, folder + "Help.dll");
  Target(0, 1, folder + "Gone.dll");
  Target(0, 2, folder + "Other.dll");
  seams_.onPause = RecordRecords;
  EXPECT_EQ(1, List().ReplaceFile(0, 0, 0));
  EXPECT_EQ(2, g_recordsDuringPause);  // the extracted and the expanded copy
  EXPECT_EQ(0, RecordCount());
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));

  // What a run killed at various moments leaves.
  WriteAll(folder + "tmpA.tmp", "aside: installed copy", TimeOf(2005));  // target gone
  WriteAll(folder + "tmpB.tmp", "aside: old copy", TimeOf(2005));        // target in place
  WriteAll(folder + "Other.dll", "new copy", TimeOf(2011));
  WriteAll(folder + "tmpC.tmp", "half expanded", TimeOf(2011));
  ASSERT_TRUE(SetFileAttributesA((folder + "tmpC.tmp").c_str(), FILE_ATTRIBUTE_READONLY));
  WriteAll(folder + "tmpD.tmp", "somebody else's", TimeOf(2011));
  ASSERT_TRUE(leftovers::Record((folder + "tmpA.tmp").c_str(), (folder + "Gone.dll").c_str()));
  ASSERT_TRUE(leftovers::Record((folder + "tmpB.tmp").c_str(), (folder + "Other.dll").c_str()));
  ASSERT_TRUE(leftovers::Record((folder + "tmpC.tmp").c_str(), nullptr));
  ASSERT_TRUE(leftovers::Record((folder + "tmpE.tmp").c_str(), nullptr));  // already gone

  EXPECT_EQ(4, leftovers::RemoveEarlierLeftovers(List().model(), List().GetOsClass()));
  EXPECT_EQ("aside: installed copy", ReadAll(folder + "Gone.dll"));
  EXPECT_EQ("new copy", ReadAll(folder + "Other.dll"));
  EXPECT_EQ((std::vector<std::string>{"Gone.dll", "Help.dll", "Other.dll", "tmpD.tmp"}), [&] {
    auto names = FilesIn(folder);
    std::sort(names.begin(), names.end());
    return names;
  }());
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
}

// A temporary made inside a span with WOW64 redirection off is recorded so,
// to be settled in the same view (the settlement itself:
// integration_leftovers_tests.cpp).
TEST_F(ReplaceFileTest, RecordsSayWhetherRedirectionWasOff) {
  const std::string folder = FreshFolder("views");
  const std::string mark(1, leftovers::kRedirectionOffMark);
  for (const bool off : {true, false}) {
    SCOPED_TRACE(off ? "redirection off" : "redirection on");
    ScopedRedirectionOff span(off);
    RecordedTemporary temporary;
    ASSERT_TRUE(temporary.MakeIn(folder.c_str()));
    EXPECT_EQ(off ? mark : "", RecordData(temporary.path()));
    ASSERT_TRUE(leftovers::Record((folder + "tmp2.tmp").c_str(), (folder + "T.dll").c_str()));
    EXPECT_EQ((off ? mark : "") + folder + "T.dll", RecordData(folder + "tmp2.tmp"));
    leftovers::Forget((folder + "tmp2.tmp").c_str());
  }
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
}

// Who may do what to a key: each ACE as "S-1-5-18 allow f003f", its DACL's
// protection from inheritance and its owner.
struct KeySecurity {
  std::vector<std::string> entries;
  bool isProtected = false;
  std::string owner;
};

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string s = text;
  LocalFree(text);
  return s;
}

KeySecurity ReadKeySecurity(const char* subkey) {
  KeySecurity result;
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, READ_CONTROL, key.put()) != ERROR_SUCCESS)
    return result;
  const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  RegGetKeySecurity(key.get(), what, nullptr, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  if (RegGetKeySecurity(key.get(), what, buffer.data(), &size) != ERROR_SUCCESS) return result;
  PSECURITY_DESCRIPTOR sd = buffer.data();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  result.isProtected = (control & SE_DACL_PROTECTED) != 0;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (GetSecurityDescriptorOwner(sd, &owner, &defaulted) && owner) result.owner = SidText(owner);
  BOOL present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl) {
    result.entries.push_back("no DACL: everybody");
    return result;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    char text[128];
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
      snprintf(text, sizeof text, "%s allow %lx", SidText(&ace->SidStart).c_str(),
               static_cast<unsigned long>(ace->Mask));
    } else {
      snprintf(text, sizeof text, "ACE of type %u", header->AceType);
    }
    result.entries.push_back(text);
  }
  return result;
}

// The records and marks decide what an administrator deletes and moves: only
// Administrators and SYSTEM may touch their keys, whatever the maker's key
// allows (an installer may have opened it to everybody), and a key that was
// there before is made so before anything in it is believed.
TEST(LeftoverKeys, OnlyAdministratorsAndTheSystemMayTouchThem) {
  if (!IsNtPlatform()) GTEST_SKIP() << "the 9x family has no security";
  const std::string record = "C:\\rt\\tmp1.tmp";
  char fullControl[16];
  snprintf(fullControl, sizeof fullControl, "%lx", static_cast<unsigned long>(KEY_ALL_ACCESS));
  const std::vector<std::string> wanted = {std::string("S-1-5-32-544 allow ") + fullControl,
                                           std::string("S-1-5-18 allow ") + fullControl};
  struct Case {
    const char* what;
    std::function<void()> before;
  } cases[] = {
      {"new keys below a maker's key open to everybody",
       [] { SetEverybodyAccess("SOFTWARE\\Marrowick"); }},
      {"keys that were there, open to everybody",
       [] {
         SetEverybodyAccess(leftovers::kUpdaterKey);
         SetEverybodyAccess(leftovers::kRecordKey);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.before();
    ASSERT_TRUE(leftovers::Record(record.c_str(), nullptr));
    for (const char* subkey : {leftovers::kUpdaterKey, leftovers::kRecordKey}) {
      SCOPED_TRACE(subkey);
      const KeySecurity security = ReadKeySecurity(subkey);
      EXPECT_EQ(wanted, security.entries);
      EXPECT_EQ("S-1-5-32-544", security.owner);
      EXPECT_TRUE(security.isProtected);
    }
    leftovers::Forget(record.c_str());
    EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
  }
}

// Marks stay until cleared; the updater's key goes with the last mark or
// record, never the maker's key above it.
TEST(LeftoverKeys, MarksStayUntilClearedAndTheKeyGoesWhenEmpty) {
  using leftovers::Mark;
  const std::string record = "C:\\rt\\tmp2.tmp";
  struct Step {
    const char* what;
    std::function<void()> act;
    bool unfinished, serviceRemoved, records, updaterKey;
  } steps[] = {
      {"update unfinished", [] { leftovers::SetMark(Mark::UpdateUnfinished, true); }, true, false,
       false, true},
      {"service removed", [] { leftovers::SetMark(Mark::ServiceRemoved, true); }, true, true, false,
       true},
      {"a record", [&] { leftovers::Record(record.c_str(), nullptr); }, true, true, true, true},
      {"update finished", [] { leftovers::SetMark(Mark::UpdateUnfinished, false); }, false, true,
       true, true},
      {"record forgotten", [&] { leftovers::Forget(record.c_str()); }, false, true, false, true},
      {"service back", [] { leftovers::SetMark(Mark::ServiceRemoved, false); }, false, false, false,
       false},
      {"cleared again", [] { leftovers::SetMark(Mark::ServiceRemoved, false); }, false, false,
       false, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(s.unfinished, leftovers::HasMark(Mark::UpdateUnfinished));
    EXPECT_EQ(s.serviceRemoved, leftovers::HasMark(Mark::ServiceRemoved));
    EXPECT_EQ(s.records, KeyExists(leftovers::kRecordKey));
    EXPECT_EQ(s.updaterKey, KeyExists(leftovers::kUpdaterKey));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Marrowick"));
  }
  // Only a DWORD 1 is a mark.
  for (const auto& value : {std::make_pair(REG_SZ, std::string("1\0", 2)),
                            std::make_pair(REG_DWORD, std::string("\2\0\0\0", 4)),
                            std::make_pair(REG_BINARY, std::string("\1\0\0\0", 4))}) {
    SCOPED_TRACE(value.first);
    ASSERT_TRUE(vrtest::SetValue(leftovers::kUpdaterKey, "UpdateUnfinished", value.first,
                                 value.second.data(), static_cast<DWORD>(value.second.size())));
    EXPECT_FALSE(leftovers::HasMark(Mark::UpdateUnfinished));
  }
  leftovers::SetMark(Mark::UpdateUnfinished, false);
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
}

// RegFlushKey as the updater calls it, seen by the test: whether the value
// watched for was in the key at that moment.
using RegFlushKeyFn = LONG(WINAPI*)(HKEY);
RegFlushKeyFn g_realFlush = nullptr;
std::string g_watched;
std::vector<bool> g_flushes;
LONG WINAPI WatchingFlush(HKEY key) {
  g_flushes.push_back(RegQueryValueExA(key, g_watched.c_str(), nullptr, nullptr, nullptr,
                                       nullptr) == ERROR_SUCCESS);
  return g_realFlush(key);
}

// A record, an aside record and a mark are on the disc when the call that
// writes them returns: a power cut right after must not lose them (Wine's
// registry survives a killed process, so only the call itself can be seen).
TEST(LeftoverKeys, RecordsAndMarksAreFlushedOnceWritten) {
  vrtest::ImportPatch patch("advapi32.dll", "RegFlushKey", &WatchingFlush);
  ASSERT_TRUE(patch.active()) << "the test program imports advapi32!RegFlushKey";
  g_realFlush = patch.original<LONG WINAPI(HKEY)>();
  using leftovers::Mark;
  struct Case {
    const char* what;
    std::string watched;
    std::function<void()> act;
    bool present;
  } cases[] = {
      {"record", "C:\\rt\\tmp3.tmp", [] { leftovers::Record("C:\\rt\\tmp3.tmp", nullptr); }, true},
      {"aside record", "C:\\rt\\tmp4.tmp",
       [] { leftovers::Record("C:\\rt\\tmp4.tmp", "C:\\rt\\T.dll"); }, true},
      {"mark set", "UpdateUnfinished", [] { leftovers::SetMark(Mark::UpdateUnfinished, true); },
       true},
      {"other mark set", "ServiceRemoved", [] { leftovers::SetMark(Mark::ServiceRemoved, true); },
       true},
      {"mark cleared", "UpdateUnfinished",
       [] { leftovers::SetMark(Mark::UpdateUnfinished, false); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_watched = c.watched;
    g_flushes.clear();
    c.act();
    EXPECT_EQ(std::vector<bool>{c.present}, g_flushes);
  }
  leftovers::Forget("C:\\rt\\tmp3.tmp");
  leftovers::Forget("C:\\rt\\tmp4.tmp");
  leftovers::SetMark(Mark::ServiceRemoved, false);
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
}

// CreateFileA as the updater calls it, seen by the test: for every new file
// of GetTempFileNameA's form, whether its record was there first.
std::vector<std::string> g_made;
vrtest::ImportPatch* g_createPatch = nullptr;
HANDLE WINAPI WatchingCreateFile(LPCSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
  const char* base = strrchr(name, '\\');
  if (disposition == CREATE_NEW && base && _strnicmp(base + 1, "tmp", 3) == 0)
    g_made.push_back(RecordData(name));
  return g_createPatch->original<decltype(CreateFileA)>()(name, access, share, security,
                                                          disposition, flags, templateFile);
}

// A temporary is recorded before it exists, so that a run ending at any
// moment leaves nothing that no record names; it is made empty, under
// GetTempFileNameA's form of name, in the target's folder, and goes with its
// record. Where none can be made, nothing is left.
TEST(RecordedTemporary, IsRecordedBeforeItIsMadeBesideItsTarget) {
  const std::string folder = FreshFolder("beside");
  vrtest::ImportPatch create("kernel32.dll", "CreateFileA", &WatchingCreateFile);
  ASSERT_TRUE(create.active());
  g_createPatch = &create;
  g_made.clear();
  {
    RecordedTemporary temporary;
    ASSERT_TRUE(temporary.MakeBeside((folder + "Target.dll").c_str()));
    const std::string made = temporary.path();
    EXPECT_EQ(0, lstrcmpiA(made.substr(0, folder.size() + 3).c_str(), (folder + "tmp").c_str()));
    EXPECT_EQ(".tmp", made.substr(made.size() - 4));
    EXPECT_EQ("", ReadAll(made));
    EXPECT_EQ("", RecordData(made));
    EXPECT_EQ(std::vector<std::string>{""}, g_made) << "made before its record";
  }
  EXPECT_TRUE(FilesIn(folder).empty());
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));

  RecordedTemporary none;
  EXPECT_FALSE(none.MakeBeside((folder + "No\\T.dll").c_str()));  // no such folder
  EXPECT_FALSE(none.MakeBeside("Target.dll"));                    // no folder at all
  EXPECT_FALSE(none.MakeIn((folder + std::string(MAX_PATH - 13 - folder.size(), 'x')).c_str()));
  EXPECT_STREQ("", none.path());
  EXPECT_TRUE(FilesIn(folder).empty());
  EXPECT_FALSE(KeyExists(leftovers::kUpdaterKey));
}

#ifdef VR_KILL_POINTS
// The killable build ends itself where only the replacement without
// MoveFileExA goes (the 9x family): between moving the installed copy aside
// and moving the new one in. The target is missing then; its aside copy was
// recorded before it moved, and the next start puts it back. The run to be
// ended is a second process of this program, which finds VR_KILL_AT set.
TEST_F(ReplaceFileTest, KilledBetweenMovingAsideAndMovingIn) {
  const std::string folder = FreshFolder("killed-aside");
  const std::string target = folder + "Help.dll";
  if (GetEnvironmentVariableA("VR_KILL_AT", nullptr, 0) != 0) {
    WriteAll(target, "old contents", TimeOf(2005));
    Target(0, 0, target);
    win32::Kernel32Calls calls = win32::Kernel32();
    calls.MoveFileExA = nullptr;
    win32::SetKernel32CallsForTest(&calls);
    List().ReplaceFile(0, 0, 0);
    win32::SetKernel32CallsForTest(nullptr);
    FAIL() << "the run went past the point";
  }
  char self[MAX_PATH] = {};
  ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, sizeof self));
  std::string command = std::string("\"") + self + "\" --gtest_filter=" +
                        testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() +
                        "." + testing::UnitTest::GetInstance()->current_test_info()->name();
  ASSERT_TRUE(SetEnvironmentVariableA("VR_KILL_AT", "replace: moved aside, new not in"));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &info);
  SetEnvironmentVariableA("VR_KILL_AT", nullptr);
  ASSERT_TRUE(started);
  win32::KernelHandle process(info.hProcess), thread(info.hThread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 60000));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(process.get(), &code));
  ASSERT_EQ(win32::kKillPointExitCode, code);

  EXPECT_EQ("<missing>", ReadAll(target));
  EXPECT_EQ(2, RecordCount());  // the aside copy and the expanded copy
  Target(0, 0, target);         // the list the next start settles against
  EXPECT_EQ(2, leftovers::RemoveEarlierLeftovers(List().model(), List().GetOsClass()));
  EXPECT_EQ("old contents", ReadAll(target));
  EXPECT_EQ(0, TemporariesIn(folder));
  EXPECT_EQ(0, RecordCount());
}
#endif

}  // namespace
