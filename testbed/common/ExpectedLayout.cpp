#include "testbed/common/ExpectedLayout.h"

#include <stdio.h>
#include <stdlib.h>

#include "testbed/common/Flavour.h"
#include "testbed/common/ProductKeys.h"
#include "testbed/common/TestbedRegistry.h"

namespace testbed {

namespace {

bool Is(const std::string& text, const char* name) { return lstrcmpiA(text.c_str(), name) == 0; }

std::string WithBackslash(std::string s) {
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

std::string Profile(const std::string& ini, const std::string& section, const std::string& key) {
  char text[MAX_PATH + 1] = {};
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "", text, sizeof text, ini.c_str());
  return text;
}

DWORD ProfileNumber(const std::string& ini, const std::string& section, const std::string& key) {
  return strtoul(Profile(ini, section, key).c_str(), nullptr, 10);
}

// Whether the group applies on this Windows: its name's rule first, then
// its "OS" value. False in *decided for a rule that asks the installed
// product rather than Windows.
bool Applies(const ExpectedGroup& g, const Machine& m, bool* decided) {
  *decided = !Is(g.name, "SoundEffectDX") && !Is(g.name, "SoundEffectTenvo") && !Is(g.os, "XP64");
  if (Is(g.name, "driver 9X")) return m.windows == WindowsClass::Win9x;
  if (Is(g.name, "driver 2000/XP"))
    return m.windows == WindowsClass::Nt32 || m.windows == WindowsClass::Vista32;
  if (Is(g.name, "driver x64") || Is(g.os, "X64")) return m.SixtyFourBit();
  if (Is(g.os, "X86")) return !m.SixtyFourBit();
  return true;
}

}  // namespace

Machine ThisMachine() {
  Machine m;
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  const bool win64 = OnSixtyFourBitWindows();
  GetVersionExA(&v);  // a failure leaves platform 0 (Win32s): Other
  if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    m.windows = WindowsClass::Win9x;
  else if (v.dwPlatformId != VER_PLATFORM_WIN32_NT || v.dwMajorVersion < 5)
    m.windows = WindowsClass::Other;
  else if (v.dwMajorVersion == 6)
    m.windows = win64 ? WindowsClass::Vista64 : WindowsClass::Vista32;
  else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2 && win64)
    m.windows = WindowsClass::Xp64;
  else
    m.windows = WindowsClass::Nt32;  // 2000, XP, 2003 and any NT the update does not know
  char folder[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryA(folder, sizeof folder);
  if (n > 0 && n < sizeof folder) m.systemFolder = WithBackslash(folder);
  return m;
}

bool ReadInstalledFolders(ProductFolders* folders) {
  folders->program = WithBackslash(ReadText(kAppPathsKey, "Path"));
  folders->common = WithBackslash(ReadText(kFoldersKey, kCommonValue));
  folders->shared = WithBackslash(ReadText(kFoldersKey, kSharedValue));
  return !folders->program.empty() && !folders->common.empty() && !folders->shared.empty();
}

std::string FolderOf(const std::string& installPath, const ProductFolders& folders,
                     const Machine& machine, bool* systemFolder) {
  const bool driver = Is(installPath, "driver");
  if (systemFolder) *systemFolder = driver || Is(installPath, "SYS");
  if (driver)
    return machine.systemFolder +
           (machine.windows == WindowsClass::Win9x ? "IOSUBSYS\\" : "drivers\\");
  if (Is(installPath, "SYS")) return machine.systemFolder;
  if (Is(installPath, "SharedLib")) return folders.shared;
  if (Is(installPath, "MarrowickCommon")) return folders.common;
  if (Is(installPath, "MarrowickCommon_Saffra9")) return folders.common + "\\Saffra9\\";
  if (Is(installPath, "VirtualQuirraVista")) return folders.program + "virtualQuirra\\Vista\\";
  return WithBackslash(folders.program + installPath);
}

bool ExpectedLayout::Fail(const std::string& why) {
  groups_.clear();
  files_.clear();
  problem_ = why;
  return false;
}

bool ExpectedLayout::Load(const std::string& upList, const ProductFolders& folders,
                          const Machine& machine, const std::string& sources) {
  problem_.clear();
  groups_.clear();
  files_.clear();
  const int count = static_cast<int>(ProfileNumber(upList, "General", "Group"));
  if (count <= 0) return Fail("no groups in " + upList);
  for (int g = 0; g < count; ++g) {
    const std::string section = "Group" + std::to_string(g);
    ExpectedGroup group;
    group.name = Profile(upList, section, "Name");
    group.os = Profile(upList, section, "OS");
    group.installPath = Profile(upList, section, "Install Path");
    group.files = static_cast<int>(ProfileNumber(upList, section, "Files"));
    group.existOnly = static_cast<int>(ProfileNumber(upList, section, "Exist"));
    bool decided = true;
    group.applies = Applies(group, machine, &decided);
    if (!decided) return Fail(section + " \"" + group.name + "\" applies by the installed product");
    group.folder = FolderOf(group.installPath, folders, machine, &group.systemFolder);
    group.redirectionOff =
        machine.SixtyFourBit() && (group.systemFolder || Is(group.name, "driver x64"));
    for (int d = 0; d < group.files; ++d) {
      const std::string n = std::to_string(d), path = Profile(upList, section, "Path" + n);
      const size_t slash = path.rfind('\\');
      if (slash == std::string::npos || slash + 1 == path.size())
        return Fail(section + " Path" + n + " names no file: " + path);
      ExpectedFile file;
      file.group = g;
      file.file = d;
      file.name = path.substr(slash + 1);
      file.target = group.folder + file.name;
      char entry[16];
      snprintf(entry, sizeof entry, "%02d%02d_", g, d);
      file.source = (sources.empty() ? "" : WithBackslash(sources)) + entry + file.name;
      file.time.dwLowDateTime = ProfileNumber(upList, section, "PathTimeL" + n);
      file.time.dwHighDateTime = ProfileNumber(upList, section, "PathTimeH" + n);
      file.applies = group.applies;
      file.redirectionOff = group.redirectionOff;
      files_.push_back(file);
    }
    groups_.push_back(group);
  }
  return true;
}

std::vector<ExpectedFile> ExpectedLayout::ApplicableFiles() const {
  std::vector<ExpectedFile> applicable;
  for (const ExpectedFile& file : files_)
    if (file.applies) applicable.push_back(file);
  return applicable;
}

}  // namespace testbed
