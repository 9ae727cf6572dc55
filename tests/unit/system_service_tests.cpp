// The product's service and its installer: the testbed's "Servinst.exe" and
// service program are copied into a common folder of the test's own, and the
// service is registered with the service control manager of the test's
// prefix. Pauses are recorded through the hook, so the 62-second wait costs
// nothing; the Retry/Cancel question is answered by the hook.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "support/SystemSupport.h"
#include "system/MessageBoxes.h"
#include "system/ServiceInstaller.h"
#include "testbed/common/TestbedRegistry.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/UniqueHandle.h"

namespace {

// The removal's wait for the service: a pause before each re-check and
// after the last (62 one-second pauses).
constexpr size_t kWaitPauses = kServiceWaitRechecks + 1;

using vrtest::ResText;
using vrtest::SeamRecorder;
using vrtest::WaitUntil;

bool RegisterService(const std::string& program) {
  win32::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  std::string binary = "\"" + program + "\"";
  win32::ServiceHandle service(CreateServiceA(manager.get(), "qfsvcg", "qfsvcg", SERVICE_ALL_ACCESS,
                                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                              SERVICE_ERROR_IGNORE, binary.c_str(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
  return static_cast<bool>(service) || GetLastError() == ERROR_SERVICE_EXISTS;
}

void UnregisterService() {
  win32::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  win32::ServiceHandle service(OpenServiceA(manager.get(), "qfsvcg", DELETE));
  if (service) DeleteService(service.get());
}

class ServiceInstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    common_ = vrtest::MakeTempFolder("vrcommon");
    ASSERT_FALSE(common_.empty());
    // The updater usually runs from a download folder: the installer must
    // not inherit it.
    elsewhere_ = vrtest::MakeTempFolder("vrcwd");
    ASSERT_TRUE(currentDirectory_.ChangeTo(elsewhere_.c_str()));
    UnregisterService();
    testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstRefuseValue, 0);
    testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstDelayValue, 0);
    // The window that stands for the main dialog: every box's owner.
    owner_ = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(nullptr, owner_);
    SetMessageOwner(owner_);
  }
  void TearDown() override {
    SetMessageOwner(nullptr);
    DestroyWindow(owner_);
    // The installer runs on after RunServiceInstaller returns (its pauses are
    // recorded, not slept); a late "-D" would remove the next test's service.
    WaitUntil([] { return !InstallerRunning(); }, 10000);
    UnregisterService();
  }
  // False also when the processes cannot be listed.
  static bool InstallerRunning() {
    win32::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
      if (lstrcmpiA(entry.szExeFile, "Servinst.exe") == 0) return true;
    }
    return false;
  }

  void InstallInstaller() {
    ASSERT_TRUE(vrtest::CopyFromExeFolder("Servinst.exe", common_));
    ASSERT_TRUE(vrtest::CopyFromExeFolder("qfsvcgen.exe", common_));
  }
  // Lines the installer logged, one per run: "Servinst [-D]" or "Servinst []".
  std::string Log() const {
    std::string log;
    vrtest::ReadWholeFile(common_ + "Servinst.log", &log);
    return log;
  }
  DWORD Runs() const {
    return testbed::ReadDword(testbed::kMarksKey, testbed::kServinstRunsValue, 0);
  }
  // One run with the seams recorded: its result, its pauses, no question.
  void ExpectRun(int32_t result, int32_t install, const std::vector<DWORD>& pauses,
                 const std::string& folder) {
    SeamRecorder recorder;
    EXPECT_EQ(result, RunServiceInstallerIn(folder.c_str(), install));
    EXPECT_EQ(pauses, recorder.pauses);
    EXPECT_TRUE(recorder.boxes.empty());
  }
  // The current directory the installer last ran in.
  static std::string InstallerDirectory() {
    return testbed::ReadText(testbed::kMarksKey, testbed::kServinstDirectoryValue);
  }

  std::string common_;
  std::string elsewhere_;
  win32::ScopedCurrentDirectory currentDirectory_;
  HWND owner_ = nullptr;
};

TEST_F(ServiceInstallerTest, ServiceIsSeenExactlyWhileRegistered) {
  EXPECT_EQ(0, IsServiceInstalled("qfsvcg"));
  ASSERT_TRUE(RegisterService(common_ + "qfsvcgen.exe"));
  EXPECT_EQ(1, IsServiceInstalled("qfsvcg"));
  EXPECT_EQ(0, IsServiceInstalled("qfsvcg2"));
  UnregisterService();
  EXPECT_EQ(0, IsServiceInstalled("qfsvcg"));
}

TEST_F(ServiceInstallerTest, RemovalRunsTheInstallerWithDashDAndWaitsUntilTheServiceIsGone) {
  InstallInstaller();
  ASSERT_TRUE(RegisterService(common_ + "qfsvcgen.exe"));
  SeamRecorder recorder;  // pauses slept at a tenth, so the installer can act
  recorder.realSleepDivisor = 10;

  EXPECT_EQ(1, RunServiceInstallerIn(common_.c_str(), 0));

  EXPECT_EQ(0, IsServiceInstalled("qfsvcg"));
  EXPECT_TRUE(recorder.boxes.empty());
  ASSERT_FALSE(recorder.pauses.empty());
  EXPECT_EQ(kServiceInstallerStartPauseMs, recorder.pauses[0]);
  EXPECT_EQ(recorder.pauses.size() - 1, recorder.CountPauses(kServiceWaitPauseMs));
  EXPECT_LT(recorder.pauses.size(), kWaitPauses + 1u) << "the wait ended when the service went";
  EXPECT_NE(std::string::npos, Log().find("Servinst [-D]"));
  EXPECT_EQ(common_, InstallerDirectory()) << "the test's own is " << elsewhere_;
}

TEST_F(ServiceInstallerTest, RemovalOfAnAbsentServiceDoesNotWait) {
  InstallInstaller();
  ExpectRun(1, 0, {kServiceInstallerStartPauseMs}, common_);
}

// The installer is one of the update's files: when a removal or an
// installation returns, it has ended and its file is free, whether it had
// anything to do or not. This one takes 1.5 s before it acts (pauses are not
// slept here).
TEST_F(ServiceInstallerTest, RemovalAndInstallationEndOnlyWhenTheInstallerHasEnded) {
  InstallInstaller();
  const struct {
    const char* what;
    bool registered;
    int32_t install;
    bool anotherRunsInstaller;  // started by a run that was ended since
  } kCases[] = {{"removal, no service", false, 0, false},
                {"removal, service registered", true, 0, false},
                {"installation", false, 1, false},
                {"installation, service registered", true, 1, false},
                {"installation beside another run's installer", true, 1, true},
                {"removal beside another run's installer", false, 0, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    if (c.registered && !IsServiceInstalled("qfsvcg")) {
      ASSERT_TRUE(RegisterService(common_ + "qfsvcgen.exe"));
    }
    vrtest::ChildProcess other;
    testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstDelayValue, 1500);
    if (c.anotherRunsInstaller) {
      // The other takes 3 s; this run's own installer none at all.
      testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstDelayValue, 3000);
      const DWORD runsBefore = Runs();
      // The same kind of run as this one, so that both agree on the service.
      const std::string command = "\"" + common_ + "Servinst.exe\"" + (c.install ? "" : " -D");
      ASSERT_TRUE(other.Start(command, common_.c_str()));
      // Once it has counted its run it has read its delay.
      ASSERT_TRUE(WaitUntil([&] { return Runs() > runsBefore; }, 10000));
      Sleep(100);
      testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstDelayValue, 0);
    }
    SeamRecorder recorder;
    EXPECT_EQ(1, RunServiceInstallerIn(common_.c_str(), c.install));
    EXPECT_EQ(0, IsFileLocked((common_ + "Servinst.exe").c_str()));
    EXPECT_EQ(c.install, IsServiceInstalled("qfsvcg"));
    EXPECT_TRUE(recorder.boxes.empty());
    other.WaitForExit(10000);
  }
}

TEST_F(ServiceInstallerTest, InstallationRunsTheInstallerWithoutArgumentAndNoQuestion) {
  InstallInstaller();
  ExpectRun(1, 1, {kServiceInstallerStartPauseMs}, common_);
  EXPECT_TRUE(WaitUntil([] { return IsServiceInstalled("qfsvcg") == 1; }, 10000));
  EXPECT_NE(std::string::npos, Log().find("Servinst []"));
  EXPECT_EQ(std::string::npos, Log().find("-D"));
  EXPECT_EQ(common_, InstallerDirectory()) << "the test's own is " << elsewhere_;
}

TEST_F(ServiceInstallerTest, ServiceThatStaysAsksRetryOrCancelAfterSixtyTwoSeconds) {
  InstallInstaller();
  ASSERT_TRUE(RegisterService(common_ + "qfsvcgen.exe"));
  testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstRefuseValue, 1);
  const DWORD runsBefore = Runs();

  SeamRecorder recorder;
  recorder.answers = {IDRETRY, IDCANCEL};
  EXPECT_EQ(1, RunServiceInstallerIn(common_.c_str(), 0));

  // Installer, 62 one-second pauses, the question; Retry repeats all of it.
  std::vector<DWORD> cycle{kServiceInstallerStartPauseMs};
  cycle.insert(cycle.end(), kWaitPauses, kServiceWaitPauseMs);
  std::vector<DWORD> expected = cycle;
  expected.insert(expected.end(), cycle.begin(), cycle.end());
  EXPECT_EQ(expected, recorder.pauses);

  ASSERT_EQ(2u, recorder.boxes.size());
  for (const vrtest::Box& box : recorder.boxes) {
    EXPECT_EQ(owner_, box.owner);
    EXPECT_EQ(ResText(IDS_APP_RUNNING), box.text);
    EXPECT_EQ(ResText(IDS_TITLE), box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL | MB_ICONINFORMATION), box.type);
  }
  // Each question comes after the last pause of its cycle.
  EXPECT_EQ(cycle.size(), recorder.boxes[0].pausesBefore);
  EXPECT_EQ(expected.size(), recorder.boxes[1].pausesBefore);
  EXPECT_TRUE(WaitUntil([&] { return Runs() == runsBefore + 2; }, 10000))
      << "the installer ran once per attempt";
  EXPECT_EQ(1, IsServiceInstalled("qfsvcg"));
}

TEST_F(ServiceInstallerTest, MissingInstallerStillWaitsForTheService) {
  ASSERT_TRUE(RegisterService("C:\\windows\\system32\\notepad.exe"));
  SeamRecorder recorder;
  recorder.answers = {IDCANCEL};
  EXPECT_EQ(0, RunServiceInstallerIn(common_.c_str(), 0));
  EXPECT_EQ(std::vector<DWORD>(kWaitPauses, kServiceWaitPauseMs), recorder.pauses);
  EXPECT_EQ(1u, recorder.boxes.size());
}

TEST_F(ServiceInstallerTest, FolderNamedLikeTheInstallerIsNotStarted) {
  ASSERT_TRUE(CreateDirectoryA((common_ + "Servinst.exe").c_str(), nullptr));
  ExpectRun(0, 1, {}, common_);
  ExpectRun(0, 0, {}, common_);
}

TEST_F(ServiceInstallerTest, UnknownCommonFolderDoesNothingAtAll) {
  InstallInstaller();
  ASSERT_TRUE(RegisterService(common_ + "qfsvcgen.exe"));
  ExpectRun(0, 0, {}, "");
  ExpectRun(0, 1, {}, "");
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(1, IsServiceInstalled("qfsvcg"));
}

// Runs in a prefix that reports Windows 98 (see CMakeLists.txt).
TEST_F(ServiceInstallerTest, NinetyEightFamilyDoesNothing) {
  if (IsNtPlatform()) GTEST_SKIP() << "needs a Windows 9x version in the prefix";
  InstallInstaller();
  ExpectRun(0, 0, {}, common_);
  ExpectRun(0, 1, {}, common_);
  EXPECT_TRUE(Log().empty());
}

}  // namespace
