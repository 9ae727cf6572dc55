#include "support/IntegrationSupport.h"

#include <shlobj.h>
#include <stdio.h>

#include "testbed/common/ProductKeys.h"
#include "win32/Seams.h"

namespace vrtest {

namespace {

struct Discovery {
  Installation installation;
  testbed::ExpectedLayout layout;
  std::string problem;
};

Discovery Discover() {
  Discovery d;
  Installation& in = d.installation;
  const testbed::Machine machine = testbed::ThisMachine();
  in.win64 = machine.SixtyFourBit();
  testbed::ProductFolders folders;
  if (!testbed::ReadInstalledFolders(&folders)) {
    d.problem = "no App Paths entry or product folders: the product is not installed";
    return d;
  }
  char programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles)) ||
      !SamePath(folders.program, std::string(programFiles) + testbed::kProgramSubfolder + "\\")) {
    d.problem = "program folder " + folders.program + " is not the installer's default";
    return d;
  }
  in.program = folders.program;
  in.common = folders.common;
  in.shared = folders.shared;
  in.edition = testbed::FolderOf("MarrowickCommon_Saffra9", folders, machine);
  in.drivers = testbed::FolderOf("driver", folders, machine);
  const std::string ini = WindowsPath(CommandLineOption("payload-dir")) + "\\UPLIST.INI";
  if (!d.layout.Load(ini, folders, machine, WindowsPath(CommandLineOption("sources"))))
    d.problem = d.layout.problem();
  return d;
}

const Discovery& Discovered() {
  static const Discovery discovery = Discover();
  return discovery;
}

}  // namespace

const Installation& Installed() { return Discovered().installation; }
const std::string& InstallationProblem() { return Discovered().problem; }
const testbed::ExpectedLayout& Layout() { return Discovered().layout; }
const std::vector<ListFile>& ExpectedFiles() { return Layout().files(); }
int TotalFiles() { return static_cast<int>(ExpectedFiles().size()); }

std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool FileTimes(const std::string& path, FILETIME* creation, FILETIME* access, FILETIME* write) {
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileTime(file, creation, access, write) != FALSE;
  CloseHandle(file);
  return ok;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TimeText(const FILETIME& t) {
  SYSTEMTIME s = {};
  FileTimeToSystemTime(&t, &s);
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", s.wYear, s.wMonth, s.wDay,
           s.wHour, s.wMinute, s.wSecond, s.wMilliseconds);
  return text;
}

bool SamePath(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

void RealStoreTest::SetUp() {
  ASSERT_EQ("", InstallationProblem());
  const std::string storePath = WindowsPath(CommandLineOption("store"));
  store_ = LoadLibraryExA(storePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, store_) << "--store=" << storePath << " missing or not loadable";
  seams::SetStoreModule(store_);
}

void RealStoreTest::TearDown() {
  seams::SetStoreModule(nullptr);
  if (store_) FreeLibrary(store_);
}

}  // namespace vrtest
