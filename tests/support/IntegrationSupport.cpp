#include "support/IntegrationSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "testbed/common/ProductKeys.h"
#include "testbed/common/TestbedRegistry.h"

namespace vrtest {

const GroupLayout kGroups[10] = {
    {"General", "", Folder::Program, 32, 0},
    {"SharedLib", "", Folder::Common, 1, 0},
    {"Nimbrel_X64", "X64", Folder::Program, 1, 0},
    {"Nimbrel_X86", "X86", Folder::Program, 1, 0},
    {"driver x64", "X64", Folder::Drivers, 1, 0},
    {"driver 2000/XP", "X86", Folder::Drivers, 1, 0},
    {"FolderType_MarrowickDoc", "", Folder::Doc, 10, 1},
    {"SharedLib2", "", Folder::SharedLibrary, 4, 1},
    {"Preset", "", Folder::EditionCommon, 1, 1},
    {"General", "", Folder::Program, 1, 1},
};

namespace {

using testbed::kAppPathsKey;

std::string g_problem;

std::string WithBackslash(std::string s) {
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

// The common and shared library folders as the installed control library
// reports them; it is unloaded again before any list is made.
bool AskControlLibrary(const std::string& program, std::string* common, std::string* shared) {
  HMODULE library = LoadLibraryA((program + "QfControl.dll").c_str());
  if (!library) return false;
  using GetCommonPathFn = int(__cdecl*)(char*);
  using GetFolderFn = const char*(__cdecl*)(int);
  auto getCommon = reinterpret_cast<GetCommonPathFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "QfCtrl_GetCommonPath")));
  auto getFolder = reinterpret_cast<GetFolderFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "QfCtrl_GetFolder")));
  char buffer[MAX_PATH] = {};
  bool ok = getCommon && getFolder && getCommon(buffer) != 0;
  if (ok) *common = WithBackslash(buffer);
  const char* folder = ok ? getFolder(17) : nullptr;
  if (folder && folder[0]) *shared = WithBackslash(folder);
  FreeLibrary(library);
  return ok && !shared->empty();
}

Installation Discover() {
  Installation in;
  in.win64 = testbed::OnSixtyFourBitWindows();
  in.program = WithBackslash(testbed::ReadText(kAppPathsKey, "Path"));
  if (in.program.empty()) {
    g_problem = "no App Paths entry: the product is not installed";
    return in;
  }
  char programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles)) ||
      !SamePath(in.program, std::string(programFiles) + testbed::kProgramSubfolder + "\\")) {
    g_problem = "program folder " + in.program + " is not the installer's default";
    return in;
  }
  if (!AskControlLibrary(in.program, &in.common, &in.shared)) {
    g_problem = "the installed control library reports no folders";
    return in;
  }
  in.edition = in.common + "\\Saffra9\\";
  char system[MAX_PATH] = {};
  UINT n = GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    g_problem = "no system directory";
    return in;
  }
  in.drivers = WithBackslash(system) + "drivers\\";
  return in;
}

class InstallationEnvironment : public testing::Environment {
 public:
  void SetUp() override { Installed(); }
};
[[maybe_unused]] const testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new InstallationEnvironment);

std::string ListValue(const std::string& ini, const char* section, const char* key, int index) {
  char name[32];
  snprintf(name, sizeof name, "%s%d", key, index);
  char text[MAX_PATH + 1] = {};
  GetPrivateProfileStringA(section, name, "", text, sizeof text, ini.c_str());
  return text;
}

}  // namespace

const Installation& Installed() {
  static const Installation installation = Discover();
  return installation;
}

const std::string& InstallationProblem() { return g_problem; }

std::string WindowsPath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::vector<ListFile> ExpectedFiles() {
  std::vector<ListFile> files;
  const std::string ini = WindowsPath(CommandLineOption("payload-dir")) + "\\UPLIST.INI";
  const std::string sources = WindowsPath(CommandLineOption("sources")) + "\\";
  const Installation& in = Installed();
  for (int g = 0; g < 10; ++g) {
    char section[16];
    snprintf(section, sizeof section, "Group%d", g);
    std::string folder;
    switch (kGroups[g].folder) {
      case Folder::Program:
        folder = in.program;
        break;
      case Folder::Doc:
        folder = in.program + "Doc\\";
        break;
      case Folder::Common:
        folder = in.common;
        break;
      case Folder::EditionCommon:
        folder = in.edition;
        break;
      case Folder::SharedLibrary:
        folder = in.shared;
        break;
      case Folder::Drivers:
        folder = in.drivers;
        break;
    }
    for (int f = 0; f < kGroups[g].files; ++f) {
      ListFile file;
      file.group = g;
      file.file = f;
      const std::string listPath = ListValue(ini, section, "Path", f);
      const size_t slash = listPath.rfind('\\');
      if (slash == std::string::npos) return {};
      file.name = listPath.substr(slash + 1);
      file.time.dwLowDateTime =
          static_cast<DWORD>(strtoul(ListValue(ini, section, "PathTimeL", f).c_str(), nullptr, 10));
      file.time.dwHighDateTime =
          static_cast<DWORD>(strtoul(ListValue(ini, section, "PathTimeH", f).c_str(), nullptr, 10));
      file.target = folder + file.name;
      char entry[8];
      snprintf(entry, sizeof entry, "%02d%02d_", g, f);
      file.source = sources + entry + file.name;
      files.push_back(file);
    }
  }
  return files;
}

bool GroupApplies(int group) {
  const std::string os = kGroups[group].os;
  if (os.empty()) return true;
  return (os == "X64") == Installed().win64;
}

bool RedirectionOffExpected(int group) {
  return kGroups[group].folder == Folder::Drivers && Installed().win64;
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

}  // namespace vrtest
