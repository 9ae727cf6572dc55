// The simulated product as install-product.sh leaves it: run after the
// installer in the same prefix, with the expected version data on the
// command line (--expect-version=10.2.9.0 --expect-product-version=10,2,9,0
// --expect-length=N --expect-display=10.29.000 [--expect-run-value=1]).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/TestbedSupport.h"
#include "testbed/common/ExpectedLayout.h"
#include "testbed/common/FilterRecord.h"
#include "testbed/common/Flavour.h"
#include "testbed/common/ProductKeys.h"
#include "testbed/comserver/ComServerMark.h"
#include "win32/UniqueHandle.h"

using namespace vrtest;

namespace {

constexpr const char* kAppPaths = testbed::kAppPathsKey;
constexpr const char* kUninstall = testbed::kUninstallKey;

std::string WithBackslash(std::string s) {
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

bool IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

class InstalledProduct : public testing::Test {
 protected:
  void SetUp() override {
    if (CommandLineOption("expect-version").empty())
      GTEST_SKIP() << "runs only after install-product (--expect-version=...)";
    program_ = WithBackslash(ReadText(kAppPaths, "Path"));
    ASSERT_FALSE(program_.empty()) << "no App Paths entry";
  }
  std::string program_;
};

TEST_F(InstalledProduct, RegistryEntriesNameTheProgramFolderOfA32BitInstaller) {
  EXPECT_EQ(program_, WithBackslash(ReadText(kUninstall, "InstallLocation")));
  EXPECT_NE(program_.find(std::string(testbed::kProgramSubfolder) + "\\"), std::string::npos)
      << program_;
  // A 32-bit installer on 64-bit Windows lands in "Program Files (x86)".
  EXPECT_EQ(testbed::OnSixtyFourBitWindows() && !testbed::kSixtyFourBitProcess,
            program_.find("Program Files (x86)") != std::string::npos)
      << program_;
  EXPECT_EQ(CommandLineOption("expect-display"), ReadText(kUninstall, "DisplayVersion"));
  EXPECT_FALSE(ReadText(kUninstall, "DisplayName").empty());
  EXPECT_TRUE(IsFolder(program_));
}

TEST_F(InstalledProduct, KeyFileCarriesTheVersionAtItsListedLength) {
  std::string key = program_ + "VRSAFFRA9.exe";
  EXPECT_EQ(CommandLineOption("expect-product-version"), ProductVersion(key));
  EXPECT_EQ(std::stoul(CommandLineOption("expect-length")), FileSize(key));

  // Installed copies are older than any build of the update.
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(key.c_str(), GetFileExInfoStandard, &data));
  SYSTEMTIME st;
  FileTimeToSystemTime(&data.ftLastWriteTime, &st);
  EXPECT_LT(st.wYear, 2011);
}

TEST_F(InstalledProduct, ControlLibraryReportsFoldersThatHoldTheProductsFiles) {
  // Loaded the way the updater loads it: from the program folder.
  win32::Module qf(LoadLibraryA((program_ + "QfControl.dll").c_str()));
  ASSERT_TRUE(qf);
  auto getCommon =
      reinterpret_cast<int (*)(char*)>(GetProcAddress(qf.get(), "QfCtrl_GetCommonPath"));
  auto getFolder =
      reinterpret_cast<const char* (*)(int)>(GetProcAddress(qf.get(), "QfCtrl_GetFolder"));
  ASSERT_TRUE(getCommon && getFolder);
  char common[MAX_PATH] = {};
  ASSERT_NE(0, getCommon(common));
  std::string c = WithBackslash(common);
  EXPECT_TRUE(FileExists(c + "Servinst.exe")) << c;
  EXPECT_TRUE(FileExists(c + "qfsvcgen.exe")) << c;
  EXPECT_TRUE(IsFolder(c + "Saffra9"));
  const char* shared = getFolder(17);
  ASSERT_NE(nullptr, shared);
  EXPECT_TRUE(IsFolder(shared)) << shared;
  EXPECT_TRUE(FileExists(program_ + "virtualQuirra\\DrvInst.exe"));
}

TEST_F(InstalledProduct, ServiceAndComServerAreRegistered) {
  EXPECT_TRUE(IsServiceRegistered("qfsvcg"));
  EXPECT_EQ(program_ + "VrComServer.dll", ReadText(testbed::kComServerInprocKey, nullptr));
}

TEST_F(InstalledProduct, EveryFilterHasItsRegistrationRecord) {
  for (int n = 0; n < testbed::kFilterCount; ++n) {
    std::string key = std::string(testbed::kFilterInstanceKeyPrefix) + testbed::FilterClsid(n);
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadBinary(key.c_str(), "FilterData", &data)) << key;
    ASSERT_EQ(testbed::kFilterDefaultSize, data.size()) << key;
    EXPECT_EQ(2u, *reinterpret_cast<DWORD*>(&data[0]));
    EXPECT_EQ(0x00600000u, *reinterpret_cast<DWORD*>(&data[4]));
    for (DWORD i = 8; i < data.size(); ++i)
      ASSERT_EQ(testbed::FilterRecordByte(n, i), data[i]) << key << " byte " << i;
  }
}

TEST_F(InstalledProduct, RunValueStartsTheUpdaterInResumeMode) {
  std::string run = ReadText(testbed::kRunKey, testbed::kResumeValue);
  if (CommandLineOption("expect-run-value").empty()) {
    EXPECT_TRUE(run.empty()) << run;
  } else {
    ASSERT_GT(run.size(), 3u);
    EXPECT_EQ(" /r", run.substr(run.size() - 3));
  }
}

// With --expect-uplist=<update list>: every file of the list that applies on
// this Windows is installed where the update looks for it, older than the
// update's copy.
TEST_F(InstalledProduct, FilesOfTheUpdateListAreInstalledOlder) {
  const std::string ini = CommandLineOption("expect-uplist");
  if (ini.empty()) GTEST_SKIP() << "no update list given";
  testbed::ProductFolders folders;
  ASSERT_TRUE(testbed::ReadInstalledFolders(&folders));
  testbed::ExpectedLayout layout;
  ASSERT_TRUE(layout.Load(ini, folders, testbed::ThisMachine())) << layout.problem();
  const std::vector<testbed::ExpectedFile> files = layout.ApplicableFiles();
  ASSERT_FALSE(files.empty());
  for (const testbed::ExpectedFile& file : files) {
    testbed::RedirectionOff real(file.redirectionOff);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(file.target.c_str(), GetFileExInfoStandard, &data))
        << file.target;
    EXPECT_LT(CompareFileTime(&data.ftLastWriteTime, &file.time), 0) << file.target;
  }
}

}  // namespace
