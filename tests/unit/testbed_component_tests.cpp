// The simulated product's components, each driven the way the updater (or
// Windows) drives it: the service installer against the real service control
// manager, the launcher window by its class, the COM server through
// regsvr32, the control library and the sound-effect library through their
// exports.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/TestbedSupport.h"
#include "testbed/common/FilterRecord.h"
#include "testbed/common/ProductKeys.h"
#include "testbed/common/TestbedRegistry.h"
#include "testbed/comserver/ComServerMark.h"
#include "win32/UniqueHandle.h"

using namespace vrtest;

namespace {

// A counter the testbed's programs keep under the marks key.
DWORD Mark(const char* value) { return testbed::ReadDword(testbed::kMarksKey, value, 0); }

void SetOption(const char* name, DWORD value) {
  ASSERT_TRUE(testbed::WriteDword(testbed::kOptionsKey, name, value));
}

// --- Service installer --------------------------------------------------

class ServiceInstaller : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFromExeFolder("Servinst.exe", folder_));
    ASSERT_TRUE(CopyFromExeFolder("qfsvcgen.exe", folder_));
    SetOption(testbed::kServinstRefuseValue, 0);
    SetOption(testbed::kServinstDelayValue, 0);
  }
  void TearDown() override { Run("-D"); }
  std::string Command(const char* args) { return "\"" + folder_ + "Servinst.exe\" " + args; }
  int Run(const char* args) { return RunAndWait(Command(args)); }
  std::string BinaryPath() {
    win32::ServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    win32::ServiceHandle svc(OpenServiceA(scm.get(), "qfsvcg", SERVICE_QUERY_CONFIG));
    std::vector<BYTE> buf(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
    if (!svc || !QueryServiceConfigA(svc.get(), config, buf.size(), &needed)) return "";
    return config->lpBinaryPathName ? config->lpBinaryPathName : "";
  }
  std::string folder_ = "C:\\Marrowick Common\\";
};

TEST_F(ServiceInstaller, InstallsWithTheProgramBesideItAndRemovesWithDashD) {
  ASSERT_FALSE(IsServiceRegistered("qfsvcg"));
  EXPECT_EQ(0, Run(""));
  EXPECT_TRUE(IsServiceRegistered("qfsvcg"));
  EXPECT_EQ("\"" + folder_ + "qfsvcgen.exe\"", BinaryPath());
  EXPECT_EQ(0, Run(""));  // a second install finds it there
  EXPECT_EQ(0, Run("-D"));
  EXPECT_FALSE(IsServiceRegistered("qfsvcg"));
  EXPECT_EQ(0, Run("-D"));  // nothing left to remove is no failure
  EXPECT_EQ(4, Run("-X"));
}

TEST_F(ServiceInstaller, StopsARunningServiceBeforeRemovingIt) {
  ASSERT_EQ(0, Run(""));
  {
    win32::ServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    win32::ServiceHandle svc(
        OpenServiceA(scm.get(), "qfsvcg", SERVICE_START | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(svc);
    ASSERT_TRUE(StartServiceA(svc.get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS status = {};
    for (int i = 0; i < 50 && QueryServiceStatus(svc.get(), &status) &&
                    status.dwCurrentState != SERVICE_RUNNING;
         ++i)
      Sleep(100);
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
  }
  EXPECT_EQ(0, Run("-D"));
  EXPECT_FALSE(IsServiceRegistered("qfsvcg"));
}

TEST_F(ServiceInstaller, OptionsRefuseOrDelayTheRemoval) {
  ASSERT_EQ(0, Run(""));
  SetOption(testbed::kServinstRefuseValue, 1);
  EXPECT_EQ(3, Run("-D"));
  EXPECT_TRUE(IsServiceRegistered("qfsvcg"));

  // A delay far longer than the test holds the installer before it acts: it
  // has counted its run, and the service is still there.
  SetOption(testbed::kServinstRefuseValue, 0);
  SetOption(testbed::kServinstDelayValue, 600000);
  const DWORD runs = Mark(testbed::kServinstRunsValue);
  {
    ChildProcess slow;
    ASSERT_TRUE(slow.Start(Command("-D")));
    ASSERT_TRUE(WaitUntil([&] { return Mark(testbed::kServinstRunsValue) > runs; }, 10000));
    EXPECT_TRUE(IsServiceRegistered("qfsvcg"));
    EXPECT_FALSE(slow.WaitForExit(0));
  }  // ended before it acted
  EXPECT_TRUE(IsServiceRegistered("qfsvcg"));
  SetOption(testbed::kServinstDelayValue, 100);  // a short one: then it acts
  EXPECT_EQ(0, Run("-D"));
  EXPECT_FALSE(IsServiceRegistered("qfsvcg"));
}

TEST_F(ServiceInstaller, LogsEveryRunWithItsArguments) {
  DWORD before = Mark(testbed::kServinstRunsValue);
  Run("");
  Run("-D");
  EXPECT_EQ(before + 2, Mark(testbed::kServinstRunsValue));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(folder_ + "Servinst.log", &text));
  EXPECT_NE(std::string::npos, text.find("Servinst []\r\nServinst [-D]\r\n")) << text;
}

// --- COM server and regsvr32 ---------------------------------------------

TEST(ComServer, Regsvr32SilentRegistersAndUnregistersAPathWithBlanks) {
  std::string folder = "C:\\Vorrel Recorder Com\\";
  ASSERT_TRUE(CopyFromExeFolder("VrComServer.dll", folder));
  std::string dll = folder + "VrComServer.dll";
  const std::string regsvr = SystemFolder() + "regsvr32.exe";
  DWORD regs = Mark(testbed::kComServerRegisteredValue);

  EXPECT_EQ(0, RunAndWait("\"" + regsvr + "\" /s \"" + dll + "\""));
  EXPECT_EQ(dll, ReadText(testbed::kComServerInprocKey, nullptr));
  EXPECT_EQ(regs + 1, Mark(testbed::kComServerRegisteredValue));

  DWORD unregs = Mark(testbed::kComServerUnregisteredValue);
  EXPECT_EQ(0, RunAndWait("\"" + regsvr + "\" /s /u \"" + dll + "\""));
  EXPECT_FALSE(KeyExists(testbed::kComServerKey));
  EXPECT_EQ(unregs + 1, Mark(testbed::kComServerUnregisteredValue));
}

// --- Control library ------------------------------------------------------

class ControlLibrary : public testing::Test {
 protected:
  void SetFolders(const char* common, const char* shared) {
    ASSERT_TRUE(testbed::WriteText(testbed::kFoldersKey, testbed::kCommonValue, common));
    ASSERT_TRUE(testbed::WriteText(testbed::kFoldersKey, testbed::kSharedValue, shared));
  }
  void TearDown() override {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, testbed::kFoldersKey, testbed::kProductView, 0);
  }
  // The library; unless told otherwise, checked to export every function of
  // the real one.
  win32::Module Load(const char* name, bool everyExport = true) {
    win32::Module m(LoadLibraryA((ExeFolder() + name).c_str()));
    for (const char* f :
         {"QfCtrl_Init", "QfCtrl_GetFolder", "QfCtrl_SetMyRootFolder", "QfCtrl_GetAppPath",
          "QfCtrl_GetSharedPath", "QfCtrl_GetCommonPath", "QfCtrl_AppendExelink"})
      EXPECT_TRUE(!m || !everyExport || GetProcAddress(m.get(), f)) << name << " lacks " << f;
    return m;
  }
};

TEST_F(ControlLibrary, ReportsTheFoldersAsRecordedWithOrWithoutBackslash) {
  win32::Module qf = Load("QfControl.dll");
  ASSERT_TRUE(qf);
  auto getCommon =
      reinterpret_cast<int(__cdecl*)(char*)>(GetProcAddress(qf.get(), "QfCtrl_GetCommonPath"));
  auto getFolder =
      reinterpret_cast<const char*(__cdecl*)(int)>(GetProcAddress(qf.get(), "QfCtrl_GetFolder"));
  char buf[MAX_PATH];
  SetFolders("C:\\P\\Common", "C:\\P\\Shared\\");
  EXPECT_NE(0, getCommon(buf));
  EXPECT_STREQ("C:\\P\\Common", buf);
  EXPECT_STREQ("C:\\P\\Shared\\", getFolder(17));
  EXPECT_STREQ("", getFolder(16));

  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, testbed::kFoldersKey, testbed::kProductView, 0);
  EXPECT_EQ(0, getCommon(buf));
  EXPECT_STREQ("", getFolder(17));
}

TEST_F(ControlLibrary, FlavoursLackAnExportReportNothingOrUseStdcall) {
  SetFolders("C:\\P\\Common\\", "C:\\P\\Shared");
  win32::Module noexport = Load("QfControl_noexport.dll", false);
  ASSERT_TRUE(noexport);
  EXPECT_EQ(nullptr, GetProcAddress(noexport.get(), "QfCtrl_AppendExelink"));
  EXPECT_NE(nullptr, GetProcAddress(noexport.get(), "QfCtrl_GetCommonPath"));

  win32::Module empty = Load("QfControl_empty.dll");
  ASSERT_TRUE(empty);
  char buf[MAX_PATH] = "x";
  EXPECT_EQ(0, reinterpret_cast<int (*)(char*)>(
                   GetProcAddress(empty.get(), "QfCtrl_GetCommonPath"))(buf));
  EXPECT_EQ(nullptr, reinterpret_cast<const char* (*)(int)>(
                         GetProcAddress(empty.get(), "QfCtrl_GetFolder"))(17));

  win32::Module std = Load("QfControl_stdcall.dll");
  ASSERT_TRUE(std);
  auto getCommon =
      reinterpret_cast<int(__stdcall*)(char*)>(GetProcAddress(std.get(), "QfCtrl_GetCommonPath"));
  EXPECT_NE(0, getCommon(buf));
  EXPECT_STREQ("C:\\P\\Common\\", buf);
}

// --- Sound-effect library -------------------------------------------------

int FilterCountOf(const char* library) {
  win32::Module m(LoadLibraryA((ExeFolder() + library).c_str()));
  auto load =
      reinterpret_cast<int (*)(const char*, const char*)>(GetProcAddress(m.get(), "FilterLoad"));
  auto num = reinterpret_cast<int (*)()>(GetProcAddress(m.get(), "FiltersGetNum"));
  auto free = reinterpret_cast<void (*)()>(GetProcAddress(m.get(), "FilterFree"));
  if (!load || !num || !free) return -1;
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  if (!load(testbed::kSoundFxKey, temp)) return -2;
  int n = num();
  free();
  return n;
}

TEST(SoundEffectLibrary, ReportsTheFilterCountOfItsEdition) {
  EXPECT_EQ(3, FilterCountOf("SoundFx3.dll"));
  EXPECT_EQ(5, FilterCountOf("SoundFx5.dll"));
  EXPECT_EQ(-1, FilterCountOf("SoundFx_nogetnum.dll"));
  EXPECT_EQ(5, FilterCountOf("SoundFx.dll"));  // default without an option
  SetOption(testbed::kSoundFxCountValue, 4);
  EXPECT_EQ(4, FilterCountOf("SoundFx.dll"));

  win32::Module m(LoadLibraryA((ExeFolder() + "SoundFx5.dll").c_str()));
  auto load =
      reinterpret_cast<int (*)(const char*, const char*)>(GetProcAddress(m.get(), "FilterLoad"));
  ASSERT_TRUE(load);
  EXPECT_EQ(0, load(nullptr, "C:\\"));
}

// --- Driver installer and filter registrations ----------------------------

TEST(DriverInstaller, LeavesAMarkEachTimeItRuns) {
  std::string folder = "C:\\Drv Test\\";
  ASSERT_TRUE(CopyFromExeFolder("DrvInst.exe", folder));
  DWORD runs = Mark(testbed::kDrvInstRunsValue);
  EXPECT_EQ(0, RunAndWait("\"" + folder + "DrvInst.exe\" /first"));
  EXPECT_EQ(0, RunAndWait("\"" + folder + "DrvInst.exe\""));
  EXPECT_EQ(runs + 2, Mark(testbed::kDrvInstRunsValue));
  EXPECT_LT(0u, FileSize(folder + "DrvInst.log"));
  EXPECT_NE(INVALID_FILE_SIZE, FileSize(folder + "DrvInst.log"));
}

TEST(FilterRegistrations, ChosenLengthsAndOmissionsAreWrittenAndRemoved) {
  std::string exe = "\"" + ExeFolder() + "RegisterFilters.exe\"";
  auto key = [](int n) {
    return std::string(testbed::kFilterInstanceKeyPrefix) + testbed::FilterClsid(n);
  };
  ASSERT_EQ(0, RunAndWait(exe + " --long 3 --omit 20"));
  for (int n = 0; n < testbed::kFilterCount; ++n) {
    std::vector<BYTE> data;
    bool present = ReadBinary(key(n).c_str(), "FilterData", &data);
    EXPECT_EQ(n != 20, present) << n;
    if (!present) continue;
    EXPECT_EQ(n == 3 ? 200u : 64u, data.size()) << n;
    for (DWORD i = 0; i < data.size(); ++i)
      ASSERT_EQ(testbed::FilterRecordByte(n, i), data[i]) << n << " byte " << i;
  }
  ASSERT_EQ(0, RunAndWait(exe + " --remove"));
  for (int n = 0; n < testbed::kFilterCount; ++n) EXPECT_FALSE(KeyExists(key(n).c_str())) << n;
}

// --- Launcher window (needs a display) ------------------------------------

class LauncherWindow : public testing::Test {
 protected:
  void SetUp() override {
    if (CommandLineOption("display").empty()) GTEST_SKIP() << "needs a display (--display=1)";
  }
  HWND Start(const char* flags, const char* cls = "VrOstrel", const char* title = nullptr) {
    if (!launcher_.Start(ExeFolderCommand("VrOstrel.exe", flags))) return nullptr;
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowA(cls, title)) != nullptr; }, 5000);
    return window;
  }
  ChildProcess launcher_;
};

// The plain launcher closes on WM_CLOSE; the ignoring variant stays open.
TEST_F(LauncherWindow, ClosesOnWmCloseUnlessTheIgnoreVariant) {
  for (const bool ignore : {false, true}) {
    SCOPED_TRACE(ignore ? "--ignore-close" : "plain");
    HWND w = Start(ignore ? "--ignore-close" : "");
    ASSERT_NE(nullptr, w);
    SendMessageA(w, WM_CLOSE, 0, 0);  // returns once the message was handled
    EXPECT_EQ(ignore ? w : nullptr, FindWindowA("VrOstrel", nullptr));
    EXPECT_EQ(!ignore, launcher_.WaitForExit(ignore ? 0 : 5000));
  }
}

// The sender's own time-out ends its wait while the handler still sleeps;
// the launcher closes once the handler is done.
TEST_F(LauncherWindow, HangVariantHoldsTheSenderThenCloses) {
  HWND w = Start("--hang-on-close=2000");
  ASSERT_NE(nullptr, w);
  DWORD_PTR result = 0;
  SetLastError(0);
  EXPECT_EQ(0, SendMessageTimeoutA(w, WM_CLOSE, 0, 0, SMTO_NORMAL, 300, &result));
  EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
  EXPECT_TRUE(launcher_.WaitForExit(10000));
}

TEST_F(LauncherWindow, DecoyHasTheTitleButAnotherClass) {
  ASSERT_NE(nullptr, Start("--decoy", nullptr, "VrOstrel"));
  EXPECT_EQ(nullptr, FindWindowA("VrOstrel", nullptr));
}

}  // namespace
