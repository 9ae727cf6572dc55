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

bool CopyFromBin(const char* name, const std::string& folder, const char* as = nullptr) {
  CreateDirectoryA(folder.c_str(), nullptr);
  return CopyFileA((ExeFolder() + name).c_str(), (folder + (as ? as : name)).c_str(), FALSE);
}

void SetOption(const char* name, DWORD value) {
  ASSERT_TRUE(testbed::WriteDword(testbed::kOptionsKey, name, value));
}

// --- Service installer --------------------------------------------------

class ServiceInstaller : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFromBin("Servinst.exe", folder_));
    ASSERT_TRUE(CopyFromBin("qfsvcgen.exe", folder_));
    SetOption(testbed::kServinstRefuseValue, 0);
    SetOption(testbed::kServinstDelayValue, 0);
  }
  void TearDown() override { Run("-D"); }
  int Run(const char* args) { return RunAndWait("\"" + folder_ + "Servinst.exe\" " + args); }
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

  SetOption(testbed::kServinstRefuseValue, 0);
  SetOption(testbed::kServinstDelayValue, 1500);
  DWORD start = GetTickCount();
  EXPECT_EQ(0, Run("-D"));
  EXPECT_GE(GetTickCount() - start, 1400u);
  EXPECT_FALSE(IsServiceRegistered("qfsvcg"));
}

TEST_F(ServiceInstaller, LogsEveryRunWithItsArguments) {
  DWORD before = testbed::ReadDword(testbed::kMarksKey, testbed::kServinstRunsValue, 0);
  Run("");
  Run("-D");
  EXPECT_EQ(before + 2, testbed::ReadDword(testbed::kMarksKey, testbed::kServinstRunsValue, 0));
  char log[4096] = {};
  win32::FileHandle f(CreateFileA((folder_ + "Servinst.log").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
  ASSERT_TRUE(f);
  DWORD read = 0;
  ReadFile(f.get(), log, sizeof log - 1, &read, nullptr);
  std::string text(log, read);
  EXPECT_NE(std::string::npos, text.find("Servinst []\r\nServinst [-D]\r\n")) << text;
}

// --- COM server and regsvr32 ---------------------------------------------

TEST(ComServer, Regsvr32SilentRegistersAndUnregistersAPathWithBlanks) {
  std::string folder = "C:\\Vorrel Recorder Com\\";
  ASSERT_TRUE(CopyFromBin("VrComServer.dll", folder));
  std::string dll = folder + "VrComServer.dll";
  char sys[MAX_PATH];
  GetSystemDirectoryA(sys, sizeof sys);
  std::string regsvr = std::string(sys) + "\\regsvr32.exe";
  DWORD regs = testbed::ReadDword(testbed::kMarksKey, testbed::kComServerRegisteredValue, 0);

  EXPECT_EQ(0, RunAndWait("\"" + regsvr + "\" /s \"" + dll + "\""));
  EXPECT_EQ(dll, ReadText(testbed::kComServerInprocKey, nullptr));
  EXPECT_EQ(regs + 1,
            testbed::ReadDword(testbed::kMarksKey, testbed::kComServerRegisteredValue, 0));

  DWORD unregs = testbed::ReadDword(testbed::kMarksKey, testbed::kComServerUnregisteredValue, 0);
  EXPECT_EQ(0, RunAndWait("\"" + regsvr + "\" /s /u \"" + dll + "\""));
  EXPECT_FALSE(KeyExists(testbed::kComServerKey));
  EXPECT_EQ(unregs + 1,
            testbed::ReadDword(testbed::kMarksKey, testbed::kComServerUnregisteredValue, 0));
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
  win32::Module Load(const char* name) {
    return win32::Module(LoadLibraryA((ExeFolder() + name).c_str()));
  }
  static const char* const kExports[7];
};
const char* const ControlLibrary::kExports[7] = {
    "QfCtrl_Init",          "QfCtrl_GetFolder",     "QfCtrl_SetMyRootFolder", "QfCtrl_GetAppPath",
    "QfCtrl_GetSharedPath", "QfCtrl_GetCommonPath", "QfCtrl_AppendExelink"};

TEST_F(ControlLibrary, ReportsTheFoldersAsRecordedWithOrWithoutBackslash) {
  win32::Module qf = Load("QfControl.dll");
  ASSERT_TRUE(qf);
  for (const char* name : kExports) EXPECT_NE(nullptr, GetProcAddress(qf.get(), name)) << name;
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
  win32::Module noexport = Load("QfControl_noexport.dll");
  ASSERT_TRUE(noexport);
  EXPECT_EQ(nullptr, GetProcAddress(noexport.get(), "QfCtrl_AppendExelink"));
  EXPECT_NE(nullptr, GetProcAddress(noexport.get(), "QfCtrl_GetCommonPath"));

  win32::Module empty = Load("QfControl_empty.dll");
  ASSERT_TRUE(empty);
  for (const char* name : kExports) EXPECT_NE(nullptr, GetProcAddress(empty.get(), name)) << name;
  char buf[MAX_PATH] = "x";
  EXPECT_EQ(0, reinterpret_cast<int (*)(char*)>(
                   GetProcAddress(empty.get(), "QfCtrl_GetCommonPath"))(buf));
  EXPECT_EQ(nullptr, reinterpret_cast<const char* (*)(int)>(
                         GetProcAddress(empty.get(), "QfCtrl_GetFolder"))(17));

  win32::Module std = Load("QfControl_stdcall.dll");
  ASSERT_TRUE(std);
  for (const char* name : kExports) EXPECT_NE(nullptr, GetProcAddress(std.get(), name)) << name;
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
  ASSERT_TRUE(CopyFromBin("DrvInst.exe", folder));
  DWORD runs = testbed::ReadDword(testbed::kMarksKey, testbed::kDrvInstRunsValue, 0);
  EXPECT_EQ(0, RunAndWait("\"" + folder + "DrvInst.exe\" /first"));
  EXPECT_EQ(0, RunAndWait("\"" + folder + "DrvInst.exe\""));
  EXPECT_EQ(runs + 2, testbed::ReadDword(testbed::kMarksKey, testbed::kDrvInstRunsValue, 0));
  EXPECT_LT(0u, FileSize(folder + "DrvInst.log"));
  EXPECT_NE(INVALID_FILE_SIZE, FileSize(folder + "DrvInst.log"));
}

TEST(FilterRegistrations, ChosenLengthsAndOmissionsAreWrittenAndRemoved) {
  std::string exe = "\"" + ExeFolder() + "RegisterFilters.exe\"";
  ASSERT_EQ(0, RunAndWait(exe + " --long 3 --omit 20"));
  for (int n = 0; n < testbed::kFilterCount; ++n) {
    std::string key = std::string(testbed::kFilterInstanceKeyPrefix) + testbed::FilterClsid(n);
    std::vector<BYTE> data;
    bool present = ReadBinary(key.c_str(), "FilterData", &data);
    EXPECT_EQ(n != 20, present) << n;
    if (!present) continue;
    EXPECT_EQ(n == 3 ? 200u : 64u, data.size()) << n;
    for (DWORD i = 0; i < data.size(); ++i)
      ASSERT_EQ(testbed::FilterRecordByte(n, i), data[i]) << n << " byte " << i;
  }
  ASSERT_EQ(0, RunAndWait(exe + " --remove"));
  for (int n = 0; n < testbed::kFilterCount; ++n)
    EXPECT_FALSE(KeyExists(
        (std::string(testbed::kFilterInstanceKeyPrefix) + testbed::FilterClsid(n)).c_str()));
}

// --- Launcher window (needs a display) ------------------------------------

class LauncherWindow : public testing::Test {
 protected:
  void SetUp() override {
    if (CommandLineOption("display").empty()) GTEST_SKIP() << "needs a display (--display=1)";
  }
  void TearDown() override {
    if (process_) {
      TerminateProcess(process_.get(), 9);
      WaitForSingleObject(process_.get(), 5000);
    }
  }
  HWND Start(const char* flags, const char* cls = "VrOstrel", const char* title = nullptr) {
    process_.reset(StartProcess("\"" + ExeFolder() + "VrOstrel.exe\" " + flags));
    for (int i = 0; i < 100; ++i) {
      if (HWND w = FindWindowA(cls, title)) return w;
      Sleep(50);
    }
    return nullptr;
  }
  bool Exits(DWORD ms) { return WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
  win32::KernelHandle process_;
};

TEST_F(LauncherWindow, ClosesOnWmClose) {
  HWND w = Start("");
  ASSERT_NE(nullptr, w);
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(nullptr, FindWindowA("VrOstrel", nullptr));
  EXPECT_TRUE(Exits(5000));
}

TEST_F(LauncherWindow, IgnoreVariantStaysOpen) {
  HWND w = Start("--ignore-close");
  ASSERT_NE(nullptr, w);
  SendMessageA(w, WM_CLOSE, 0, 0);
  Sleep(500);
  EXPECT_EQ(w, FindWindowA("VrOstrel", nullptr));
  EXPECT_FALSE(Exits(0));
}

TEST_F(LauncherWindow, HangVariantHoldsTheSenderThenCloses) {
  HWND w = Start("--hang-on-close=2000");
  ASSERT_NE(nullptr, w);
  DWORD_PTR result = 0;
  DWORD start = GetTickCount();
  EXPECT_EQ(0, SendMessageTimeoutA(w, WM_CLOSE, 0, 0, SMTO_NORMAL, 300, &result));
  EXPECT_LT(GetTickCount() - start, 1500u);
  EXPECT_TRUE(Exits(10000));
}

TEST_F(LauncherWindow, DecoyHasTheTitleButAnotherClass) {
  ASSERT_NE(nullptr, Start("--decoy", nullptr, "VrOstrel"));
  EXPECT_EQ(nullptr, FindWindowA("VrOstrel", nullptr));
}

}  // namespace
