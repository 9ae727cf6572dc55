// Which groups apply, the key file's version and length with the messages
// they cause, the driver state, the sound-effect probe and the install and
// registration passes. Runs in 64-bit Windows 7, 32-bit Vista and 32-bit XP
// prefixes; expectations follow GetOsClass().
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/GroupRules.h"
#include "res/resource.h"
#include "support/Environment.h"
#include "support/GroupsSupport.h"
#include "support/RecordingPort.h"
#include "testbed/common/ProductKeys.h"
#include "updatelist/UpdateList.h"
#include "win32/Seams.h"

using namespace vrtest;

namespace {

// The last two rows of the shipped version table, plus one of our own.
const std::vector<VersionRow> kVersions = {
    {"10,2,8,0", 40000}, {"10,2,9,0", 40960}, {"10,3,0,0", 41000}};

class GroupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::string("C:\\groups\\") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    ASSERT_TRUE(InstallProductAt(folder_));
    keyPath_ = folder_ + "VRSAFFRA9.exe";
  }
  void TearDown() override { RemoveProductKeys(); }

  // One key group: the key file and one more file of the program folder.
  void FillKeyGroup(DetectedList& list, const std::vector<VersionRow>& versions = kVersions) {
    FillList(list, versions, {{"General", "", 999, "", {keyPath_, folder_ + "VrCore.dll"}}});
  }

  std::string folder_;
  std::string keyPath_;
};

// --- the shipped list's groups on this Windows ---

TEST_F(GroupsTest, ShippedListGroupsApplyByWindowsClass) {
  HMODULE store = LoadLibraryA((ExeFolder() + "groups_store.dll").c_str());
  ASSERT_NE(nullptr, store);
  seams::SetStoreModule(store);
  vrtest::DetectedList list;
  ASSERT_EQ(14, list.LoadList());
  seams::SetStoreModule(nullptr);
  FreeLibrary(store);
  ASSERT_EQ(10, list.model().groupCount());
  ASSERT_TRUE(PlaceKeyFile("10290", keyPath_, 6750544));

  const OsClass osClass = list.GetOsClass();
  if (ExpectedOsClass() >= 0) {
    EXPECT_EQ(ExpectedOsClass(), static_cast<int>(osClass));
  }
  const bool sixtyFour = osClass == OsClass::Xp64 || osClass == OsClass::Vista64;
  const std::vector<int> applying = sixtyFour ? std::vector<int>{0, 1, 2, 4, 6, 7, 8, 9}
                                              : std::vector<int>{0, 1, 3, 5, 6, 7, 8, 9};
  SeamRecorder messages(IDOK);
  int32_t expectedFiles = 0;
  for (int g = 0; g < list.model().groupCount(); ++g) {
    const bool applies = std::find(applying.begin(), applying.end(), g) != applying.end();
    bool redirection = g != 4;  // the opposite of what CheckGroup must write
    EXPECT_EQ(applies ? kApply : kSkip, list.CheckGroup(g, true, &redirection)) << "group " << g;
    // Only the 64-bit driver's name asks for the real system folder.
    EXPECT_EQ(g == 4 && sixtyFour, redirection) << "group " << g;
    EXPECT_EQ(g == 0 ? 0 : -1, list.FindKeyFile(g)) << "group " << g;
    if (applies) expectedFiles += list.model().group(g).fileCount;
  }
  EXPECT_EQ(expectedFiles, list.CountApplicableFiles());
  // The driver folders lie in the system directory; only 64-bit Windows
  // needs redirection off to reach them.
  EXPECT_EQ(sixtyFour, list.model().group(4).redirectionOff);
  EXPECT_NE(nullptr, strstr(list.model().file(5, 0).targetPath, "\\drivers\\cdrvrdrv.sys"));
  EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(GroupsTest, NameAndOsRules) {
  vrtest::DetectedList list;
  const OsClass osClass = list.GetOsClass();
  const bool sixtyFour = group_rules::IsSixtyFourBitClass(osClass);
  const std::string file = folder_ + "any.dll";
  FillList(list, kVersions,
           {{"driver 9X", "", 999, "", {file}},
            {"DRIVER 2000/xp", "X64", 999, "", {file}},  // name wins over "OS"
            {"Driver X64", "X86", 999, "", {file}},
            {"Other", "x64", 999, "", {file}},
            {"Other", "X86", 999, "", {file}},
            {"Other", "anything", 999, "", {file}}});
  bool redirection = !sixtyFour;  // the opposite of what CheckGroup(2) must write
  EXPECT_EQ(kSkip, list.CheckGroup(0, false, nullptr));  // every tested Windows is NT
  EXPECT_EQ(osClass == OsClass::Nt32 || osClass == OsClass::Vista32 ? kApply : kSkip,
            list.CheckGroup(1, false, nullptr));
  EXPECT_EQ(sixtyFour ? kApply : kSkip, list.CheckGroup(2, false, &redirection));
  if (sixtyFour) {
    EXPECT_TRUE(redirection);
  }
  EXPECT_EQ(sixtyFour ? kApply : kSkip, list.CheckGroup(3, false, &redirection));
  EXPECT_FALSE(redirection);
  EXPECT_EQ(sixtyFour ? kSkip : kApply, list.CheckGroup(4, false, nullptr));
  EXPECT_EQ(kApply, list.CheckGroup(5, false, nullptr));
}

// --- the key file's version and length ---

struct VersionCase {
  const char* id;  // key file build
  DWORD length;    // padded length
  bool reporting;
  bool interactive;
  GroupVerdict verdict;
  UINT message;  // 0: none
};

TEST_F(GroupsTest, KeyFileVersionsAndMessages) {
  const VersionCase cases[] = {
      {"10290", 40960, true, true, kApply, 0},            // listed, older
      {"10280", 40000, true, true, kApply, 0},            // listed, older
      {"10005", 40960, true, true, kNothingToUpdate, 0},  // unlisted, older: silent
      {"10310", 40960, true, true, kInstalledNewer, IDS_INSTALLED_NEWER},
      {"10310", 40960, false, true, kInstalledNewer, 0},                      // not reporting
      {"10310", 40960, true, false, kInstalledNewer, 0},                      // not interactive
      {"10290", 40000, true, true, kNothingToUpdate, IDS_NOTHING_TO_UPDATE},  // wrong length
      {"10290", 40000, false, true, kNothingToUpdate, 0},
      {nullptr, 0, true, true, kNothingToUpdate, IDS_NOTHING_TO_UPDATE},  // not installed
      {nullptr, 0, true, false, kNothingToUpdate, 0},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(std::string(c.id ? c.id : "none") + " length " + std::to_string(c.length));
    DeleteFileA(keyPath_.c_str());
    if (c.id) {
      ASSERT_TRUE(PlaceKeyFile(c.id, keyPath_, c.length));
    }
    vrtest::DetectedList list;
    FillKeyGroup(list);
    list.state().reporting = c.reporting;
    SeamRecorder messages(IDOK);
    EXPECT_EQ(c.verdict, list.CheckGroup(0, c.interactive, nullptr));
    if (c.message == 0) {
      EXPECT_TRUE(messages.boxes.empty());
    } else {
      ASSERT_EQ(1u, messages.boxes.size());
      EXPECT_EQ(ResText(c.message), messages.boxes[0].text);
      EXPECT_EQ(ResText(IDS_TITLE), messages.boxes[0].caption);
      EXPECT_EQ(UINT(MB_OK | MB_ICONINFORMATION), messages.boxes[0].type);
    }
  }
}

TEST_F(GroupsTest, SameVersionAsksOncePerRun) {
  ASSERT_TRUE(PlaceKeyFile("10300", keyPath_, 41000));
  SeamRecorder messages(IDYES);
  {
    vrtest::DetectedList list;
    FillKeyGroup(list);
    EXPECT_EQ(kApply, list.CheckGroup(0, true, nullptr));
    ASSERT_EQ(1u, messages.boxes.size());
    EXPECT_EQ(ResText(IDS_REUPDATE_QUESTION), messages.boxes[0].text);
    EXPECT_EQ(UINT(MB_YESNO | MB_ICONQUESTION), messages.boxes[0].type);
    EXPECT_TRUE(list.state().reupdateConfirmed);
    // The install pass checks the group again: no second question.
    EXPECT_EQ(kApply, list.CheckGroup(0, true, nullptr));
    EXPECT_EQ(1u, messages.boxes.size());
  }
  messages.boxes.clear();
  messages.answer = IDNO;
  {
    vrtest::DetectedList list;
    FillKeyGroup(list);
    EXPECT_EQ(kDeclined, list.CheckGroup(0, true, nullptr));
    EXPECT_FALSE(list.state().reupdateConfirmed);
    EXPECT_EQ(1u, messages.boxes.size());
  }
  messages.boxes.clear();
  {
    vrtest::DetectedList list;
    FillKeyGroup(list);
    list.state().resumeRun = true;
    EXPECT_EQ(kApply, list.CheckGroup(0, true, nullptr));
    EXPECT_TRUE(messages.boxes.empty());
  }
  {
    // Not interactive: applies without asking, and counts as the answer.
    vrtest::DetectedList list;
    FillKeyGroup(list);
    EXPECT_EQ(kApply, list.CheckGroup(0, false, nullptr));
    EXPECT_EQ(kApply, list.CheckGroup(0, true, nullptr));
    EXPECT_TRUE(messages.boxes.empty());
  }
}

TEST_F(GroupsTest, ExplicitKeyNumberComparesWithKeyVersion) {
  const std::string other = folder_ + "Other.dll";
  ASSERT_TRUE(PlaceKeyFile("10290", other));
  struct {
    int32_t keyNo;
    const char* keyVersion;
    GroupVerdict verdict;
    bool confirmed;  // counts as the re-update answer
  } const cases[] = {
      {1, "", kInstalledNewer, false},  // reference 0
      {1, "10,3,0,0", kApply, false},   // older than this update
      {1, "10,2,9,0", kApply, true},    // same, but not the product's key file: no question
      {1, "10,2,8,0", kInstalledNewer, false},
      {0, "10,3,0,0", kNothingToUpdate, false},  // file not installed
      {2, "10,3,0,0", kSkip, false},             // no such file
      {-1, "10,3,0,0", kSkip, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.keyNo) + " " + c.keyVersion);
    vrtest::DetectedList list;
    FillList(list, kVersions,
             {{"Codec", "", c.keyNo, c.keyVersion, {folder_ + "Missing.dll", other}}});
    list.state().reporting = true;
    SeamRecorder messages(IDNO);
    EXPECT_EQ(c.verdict, list.CheckGroup(0, true, nullptr));
    EXPECT_TRUE(messages.boxes.empty());
    EXPECT_EQ(c.confirmed, list.state().reupdateConfirmed);
  }
}

TEST_F(GroupsTest, GroupWithoutKeyFileAppliesWhenNothingIsInstalled) {
  vrtest::DetectedList list;
  FillList(list, kVersions,
           {{"Doc", "", 999, "", {folder_ + "Doc\\a.htm", folder_ + "Doc\\b.htm"}},
            {"Empty", "", 999, "", {}},
            {"Empty", "", 0, "", {}}});
  EXPECT_EQ(kApply, list.CheckGroup(0, true, nullptr));
  EXPECT_EQ(kApply, list.CheckGroup(1, true, nullptr));
  EXPECT_EQ(kSkip, list.CheckGroup(2, true, nullptr));  // KeyNo 0 of no files
  EXPECT_EQ(2, list.CountApplicableFiles());
}

TEST_F(GroupsTest, KeyFileIsRecognisedByNameOnly) {
  vrtest::DetectedList list;
  const std::vector<GroupSpec> groups = {
      {"G", "", 999, "", {"", folder_ + "vrsaffra9.EXE", folder_ + "VRSAFFRA9.exe"}}};
  FillList(list, kVersions, groups);
  EXPECT_EQ(1, list.FindKeyFile(0));
  EXPECT_TRUE(list.model().IsKeyFile("C:\\x\\VrSaffra9.exe"));
  EXPECT_TRUE(list.model().IsKeyFile("VRSAFFRA9.exe"));
  EXPECT_FALSE(list.model().IsKeyFile("C:\\x\\VRSAFFRA9.exe.bak"));
  EXPECT_FALSE(list.model().IsKeyFile(""));
  std::string text = ListText(kVersions, groups, "C:\\");
  text.replace(text.find("VRSAFFRA9.exe"), strlen("VRSAFFRA9.exe"), "");  // KeyFile=
  ASSERT_EQ(3, list.LoadText(text, "C:\\"));
  EXPECT_EQ(-1, list.FindKeyFile(0));  // an empty name never matches an empty path
}

TEST_F(GroupsTest, KeyFileLengthMustMatchItsVersionRow) {
  vrtest::DetectedList list;
  FillKeyGroup(list);
  EXPECT_FALSE(list.KeyFileMatchesLength(0, 0));  // not installed
  ASSERT_TRUE(PlaceKeyFile("10290", keyPath_, 40960));
  EXPECT_TRUE(list.KeyFileMatchesLength(0, 0));
  ASSERT_TRUE(PlaceKeyFile("10290", keyPath_, 41000));  // the length of another row
  EXPECT_FALSE(list.KeyFileMatchesLength(0, 0));
  EXPECT_TRUE(list.KeyFileMatchesLength(0, 1));  // not the key file: never measured
  FillKeyGroup(list, {});
  EXPECT_TRUE(list.KeyFileMatchesLength(0, 0));  // no table: nothing to measure against
}

// --- the driver state and the 64-bit control library groups ---

TEST_F(GroupsTest, DriverStateFollowsTheRealSystemFolder) {
  const bool sixtyFour = Is64BitWindows();
  const std::vector<GroupSpec> qfGroups = {
      {"QfCtrl_64", "XP64", 999, "", {folder_ + "a.dll"}},
      {"QfCtrl_Shar_64", "xp64", 999, "", {folder_ + "a.dll"}},
      {"QfCtrl_64_Old", "XP64", 999, "", {folder_ + "a.dll"}},
      {"QfCtrl_Shar_64_Old", "XP64", 999, "", {folder_ + "a.dll"}},
      {"Other64", "XP64", 999, "", {folder_ + "a.dll"}}};
  if (!sixtyFour) {
    vrtest::DetectedList list;
    EXPECT_EQ(DriverState::NotSixtyFourBit, list.environment().driverState());
    FillList(list, kVersions, qfGroups);
    for (int g = 0; g < 5; ++g) EXPECT_EQ(kSkip, list.CheckGroup(g, false, nullptr)) << g;
    return;
  }
  if (!testbed::kSixtyFourBitProcess) {
    // A copy in the folder WOW64 shows this process does not count.
    ASSERT_FALSE(MakeFolder(SystemFolder() + "drivers").empty());
    ASSERT_TRUE(WriteWholeFile(SystemFolder() + "drivers\\cdrvrdrv.sys", "32"));
  }
  const std::string driver = std::string(testbed::kNativeSystemFolder) + "drivers\\cdrvrdrv.sys";
  {
    vrtest::DetectedEnvironment environment;
    EXPECT_EQ(DriverState::Absent, environment.driverState());
    const std::string text = ListText(kVersions, qfGroups, "C:\\");
    const ListInputs inputs{environment.folders(), environment.osClass(), "C:\\"};
    const UpdateList model =
        UpdateList::Parse(text.data(), static_cast<DWORD>(text.size()), inputs);
    RunState state;
    UpdateEngine list(model, environment, nullptr, state);
    const GroupVerdict expected[] = {kSkip, kSkip, kApply, kApply, kApply};
    for (int g = 0; g < 5; ++g) EXPECT_EQ(expected[g], list.CheckGroup(g, false, nullptr)) << g;
    ASSERT_TRUE(WriteWholeFile(driver, "64"));
    environment.Detect();
    EXPECT_EQ(DriverState::Absent, environment.driverState());  // kept once known
  }
  {
    vrtest::DetectedList list;  // a new environment looks again
    EXPECT_EQ(DriverState::Present, list.environment().driverState());
    FillList(list, kVersions, qfGroups);
    const GroupVerdict expected[] = {kSkip, kSkip, kSkip, kSkip, kApply};
    for (int g = 0; g < 5; ++g) EXPECT_EQ(expected[g], list.CheckGroup(g, false, nullptr)) << g;
  }
  DeleteFileA(driver.c_str());
}

// --- the sound-effect filter library ---

std::string EnvText(const char* name) {
  char value[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? value : "";
}

TEST_F(GroupsTest, SoundEffectProbeCountsFilters) {
  struct {
    const char* library;
    SoundEffectSet result;
    bool loaded;  // FilterLoad was called
    bool freed;
    bool tempUnreadable;  // the temporary folder cannot be read
  } const cases[] = {
      {"groups_sfx3.dll", SoundEffectSet::Entry, true, true, false},
      {"groups_sfx5.dll", SoundEffectSet::Full, true, true, false},
      {"groups_sfx4.dll", SoundEffectSet::Full, true, true, false},
      {"groups_sfx2.dll", SoundEffectSet::None, true, true, false},
      {"groups_sfx3_stdcall.dll", SoundEffectSet::Entry, true, true, false},
      {"groups_sfx5_loadfails.dll", SoundEffectSet::None, true, false, false},
      {"groups_sfx5_nofree.dll", SoundEffectSet::None, false, false, false},
      {"missing_sfx.dll", SoundEffectSet::None, false, false, false},
      {"groups_sfx3.dll", SoundEffectSet::None, false, false, true},
  };
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  // Longer than any path GetTempPathA hands out.
  const std::string overlong = "C:\\" + std::string(300, 't');
  vrtest::DetectedList list;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.library) +
                 (c.tempUnreadable ? ", temporary folder unreadable" : ""));
    for (const char* name : {"GROUPS_SFX_KEY", "GROUPS_SFX_TEMP", "GROUPS_SFX_FREED"})
      SetEnvironmentVariableA(name, nullptr);
    const std::string path = ExeFolder() + c.library;
    std::unique_ptr<vrtest::ScopedTempVariables> redirected;
    if (c.tempUnreadable) {
      redirected.reset(new vrtest::ScopedTempVariables(overlong));
      char probe[MAX_PATH] = {};
      const DWORD n = GetTempPathA(sizeof probe, probe);
      ASSERT_TRUE(n == 0 || n >= sizeof probe) << "the temporary folder is still readable";
    }
    EXPECT_EQ(c.result, ProbeSoundEffectSet(path.c_str()));
    EXPECT_EQ(c.loaded, !EnvText("GROUPS_SFX_KEY").empty());
    EXPECT_EQ(c.freed, EnvText("GROUPS_SFX_FREED") == "1");
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));  // unloaded on every path
    if (c.loaded) {
      EXPECT_EQ(testbed::kSoundFxKey, EnvText("GROUPS_SFX_KEY"));
      EXPECT_EQ(temp, EnvText("GROUPS_SFX_TEMP"));
    }
  }
  EXPECT_EQ(SoundEffectSet::None, ProbeSoundEffectSet(""));
}

TEST_F(GroupsTest, SoundEffectGroupsFollowTheInstalledSet) {
  const std::string library = folder_ + "VrSound.dll";
  vrtest::DetectedList list;
  FillList(list, kVersions,
           {{"SoundEffectDX", "X86", 0, "", {library}},  // "OS" is not read
            {"SoundEffectTenvo", "", 0, "", {library}},
            {"SoundEffectDX", "", 3, "", {library}}});
  EXPECT_EQ(kSkip, list.CheckGroup(0, false, nullptr));  // not installed
  ASSERT_TRUE(CopyFileA((ExeFolder() + "groups_sfx5.dll").c_str(), library.c_str(), FALSE));
  // Applies by name; the library has no version, so the key check ends in
  // NothingToUpdate for the full set and Skip for the entry group.
  EXPECT_EQ(kNothingToUpdate, list.CheckGroup(0, false, nullptr));
  EXPECT_EQ(kSkip, list.CheckGroup(1, false, nullptr));
  EXPECT_EQ(kSkip, list.CheckGroup(2, false, nullptr));  // KeyNo out of range
  ASSERT_TRUE(CopyFileA((ExeFolder() + "groups_sfx3.dll").c_str(), library.c_str(), FALSE));
  EXPECT_EQ(kSkip, list.CheckGroup(0, false, nullptr));
  EXPECT_EQ(kNothingToUpdate, list.CheckGroup(1, false, nullptr));
}

// --- the install and registration passes ---

std::string Formatted(UINT id, const std::string& path) {
  char text[600] = {};
  snprintf(text, sizeof text, ResText(id).c_str(), path.c_str());
  return text;
}

class PassesTest : public GroupsTest {
 protected:
  void SetUp() override {
    GroupsTest::SetUp();
    store_ = LoadLibraryA((ExeFolder() + "replace_store.dll").c_str());
    ASSERT_NE(nullptr, store_);
    seams::SetStoreModule(store_);
    // A report answered "stop": the one after the file that makes stopAtDone_
    // files done, or the status line of file stopBeforeDone_.
    port_.goOn = [this](const ProgressReport& r) {
      EXPECT_EQ(4, r.total);
      return r.done != (r.hasText ? stopBeforeDone_ : stopAtDone_);
    };
  }
  void TearDown() override {
    seams::SetStoreModule(nullptr);
    if (store_) FreeLibrary(store_);
    GroupsTest::TearDown();
  }
  // Two groups of two files each (store entries 0000, 0001, 0100, 0101).
  void FillTwoGroups(DetectedList& list) {
    FillList(list, kVersions,
             {{"First", "", 999, "", {folder_ + "a1.bin", folder_ + "a2.bin"}},
              {"Second", "", 999, "", {folder_ + "b1.bin", folder_ + "b2.bin"}}});
  }
  HMODULE store_ = nullptr;
  SeamRecorder pauses_;
  RecordingPort port_;
  std::vector<ProgressReport>& calls_ = port_.reports;
  int32_t stopAtDone_ = -1;
  int32_t stopBeforeDone_ = -1;
};

TEST_F(PassesTest, InstallReportsEveryFileAndReplacesIt) {
  vrtest::DetectedList list;
  FillTwoGroups(list);
  list.state().reporting = true;
  EXPECT_EQ(4, list.CountApplicableFiles());
  EXPECT_EQ(4, list.InstallAll(&port_, 4));
  EXPECT_FALSE(list.state().reporting);
  EXPECT_EQ(4, list.state().doneCount);
  ASSERT_EQ(8u, calls_.size());
  const char* names[] = {"a1.bin", "a2.bin", "b1.bin", "b2.bin"};
  for (int f = 0; f < 4; ++f) {
    EXPECT_EQ(f, calls_[2 * f].done);
    EXPECT_EQ(Formatted(IDS_UPDATING_FMT, folder_ + names[f]), calls_[2 * f].text);
    EXPECT_EQ(f + 1, calls_[2 * f + 1].done);
    EXPECT_FALSE(calls_[2 * f + 1].hasText);
    EXPECT_TRUE(FileExists((folder_ + names[f]).c_str())) << names[f];
  }
}

// Loads the code under test makes, by whether WOW64 redirection was off.
std::vector<std::string> g_loadsInSpans;
int g_loadsOutsideSpans = 0;
void RecordLoad(const char* path, bool redirectionOff) {
  if (redirectionOff) {
    g_loadsInSpans.push_back(path);
  } else {
    ++g_loadsOutsideSpans;
  }
}

// A library loaded while redirection is off would come from the 64-bit
// system folder on 64-bit Windows and fail in a 32-bit process: the key
// file's version reader and LZ32 are bound before any such span.
TEST_F(PassesTest, NoLibraryIsLoadedWhileRedirectionIsOff) {
  const std::string target = SystemFolder() + "groups_span.dll";
  const std::string real = testbed::OnSixtyFourBitWindows()
                               ? std::string(testbed::kNativeSystemFolder) + "groups_span.dll"
                               : target;
  ASSERT_TRUE(PlaceKeyFile("10290", real));
  // Older than the list's time, so that the install pass replaces it.
  const SYSTEMTIME y2005 = {2005, 1, 0, 1, 0, 0, 0, 0};
  FILETIME old;
  ASSERT_TRUE(SystemTimeToFileTime(&y2005, &old));
  ASSERT_EQ(1, SetFileTimes(real.c_str(), &old));
  g_loadsInSpans.clear();
  g_loadsOutsideSpans = 0;
  seams::SetLoadObserver(RecordLoad);
  {
    vrtest::DetectedList list;
    // The system kind's group: its key file is read and replaced there.
    FillList(list, kVersions, {{"System", "", 0, "10,3,0,0", {target}, 1}});
    EXPECT_EQ(kApply, list.CheckGroup(0, false, nullptr));
    EXPECT_EQ(1, list.InstallAll(nullptr, 0));
  }
  seams::SetLoadObserver(nullptr);
  DeleteFileA(real.c_str());
  EXPECT_EQ(std::vector<std::string>{}, g_loadsInSpans);
  EXPECT_GT(g_loadsOutsideSpans, 0);  // LZ32 at least, bound before the install span
}

TEST_F(PassesTest, StopAfterAGroupsLastFileEndsThePass) {
  vrtest::DetectedList list;
  FillTwoGroups(list);
  stopAtDone_ = 2;
  EXPECT_EQ(2, list.InstallAll(&port_, 4));
  EXPECT_TRUE(list.state().abort);
  EXPECT_TRUE(FileExists((folder_ + "a2.bin").c_str()));  // kept
  EXPECT_FALSE(FileExists((folder_ + "b1.bin").c_str()));
  EXPECT_EQ(4u, calls_.size());

  // A stop asked at a file's status line leaves that file alone.
  vrtest::DetectedList again;
  FillTwoGroups(again);
  for (const char* name : {"a1.bin", "a2.bin"}) DeleteFileA((folder_ + name).c_str());
  calls_.clear();
  stopAtDone_ = -1;
  stopBeforeDone_ = 1;
  EXPECT_EQ(1, again.InstallAll(&port_, 4));
  EXPECT_TRUE(FileExists((folder_ + "a1.bin").c_str()));
  EXPECT_FALSE(FileExists((folder_ + "a2.bin").c_str()));
  EXPECT_EQ(1, again.state().doneCount);
  // A new pass starts afresh.
  stopBeforeDone_ = -1;
  EXPECT_EQ(4, again.InstallAll(nullptr, 0));
  EXPECT_FALSE(again.state().abort);
}

TEST_F(PassesTest, SystemGroupIsInstalledIntoTheRealSystemFolder) {
  if (!Is64BitWindows()) GTEST_SKIP() << "redirection exists only on 64-bit Windows";
  const std::string target = SystemFolder() + "groups_sys.bin";
  vrtest::DetectedList list;
  // A "SYS" group: not named "driver x64", but its files lie in System32.
  FillList(list, kVersions, {{"System", "", 999, "", {target}, 1}});
  EXPECT_EQ(1, list.InstallAll(nullptr, 0));
  const std::string real = std::string(testbed::kNativeSystemFolder) + "groups_sys.bin";
  EXPECT_TRUE(FileExists(real.c_str()));
  EXPECT_FALSE(FileExists("C:\\windows\\syswow64\\groups_sys.bin"));
  DeleteFileA(real.c_str());
}

TEST_F(PassesTest, RegistrationRunsOnlyFlaggedExistingServers) {
  const std::string server = folder_ + "VrComServer.dll";
  ASSERT_TRUE(CopyFileA((ExeFolder() + "VrComServer.dll").c_str(), server.c_str(), FALSE));
  GroupSpec servers = {
      "Servers", "", 999, "", {server, folder_ + "Missing.dll", folder_ + "Plain.dll"}};
  servers.registerFlags = {1, 1, 0};
  GroupSpec elsewhere = {"Elsewhere", Is64BitWindows() ? "X86" : "X64", 999, "", {server}};
  elsewhere.registerFlags = {1};
  vrtest::DetectedList list;
  FillList(list, kVersions, {servers, elsewhere});
  port_.goOn = [](const ProgressReport& r) {
    EXPECT_EQ(4, r.total);
    return false;  // the registration pass cannot be stopped and leaves abort alone
  };
  list.state().abort = true;
  EXPECT_EQ(1, list.RegisterAll(RegistrationPass::Register, &port_, 4, IDS_PROCESSING_FMT));
  EXPECT_TRUE(list.state().abort);
  ASSERT_EQ(3u, calls_.size());
  EXPECT_EQ(Formatted(IDS_PROCESSING_FMT, server), calls_[0].text);
  EXPECT_EQ(1, calls_[0].done);
  EXPECT_EQ(3, calls_[2].done);
  calls_.clear();
  EXPECT_EQ(1, list.RegisterAll(RegistrationPass::Unregister, &port_, 4, 0));  // no status line
  EXPECT_TRUE(calls_.empty());
}

}  // namespace
