// The product's installer, for tests: installs the simulated product of a
// given version into the running (Wine) system, the way the product's own
// 32-bit installer lays it out:
//   - the program folder with the key file "VRSAFFRA9.exe" of that version at
//     that version's length, the control library, the launcher, a COM server,
//     the sound-effect library and virtualQuirra\DrvInst.exe;
//   - the common folder with the service installer and the service program,
//     the edition's common folder and the shared library folder;
//   - an older copy of every file of the update list that applies on this
//     Windows, where the update looks for it (testbed/common/ExpectedLayout.h;
//     older time, other content), so an update visibly replaces it;
//   - App Paths and Uninstall entries, the folders the control library
//     reports, the service, the filter registrations, the Run value.
// All registry data goes to the 32-bit view, as a 32-bit installer's does.
// Usage: see InstallOptions.h. Exit code 0 when everything asked for is in
// place.
#include <windows.h>
#include <shlobj.h>
#include <strsafe.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "testbed/common/ExpectedLayout.h"
#include "testbed/common/ProductKeys.h"
#include "testbed/common/TestbedRegistry.h"
#include "testbed/installer/FilterRegistrations.h"
#include "testbed/installer/InstallOptions.h"
#include "testbed/installer/ProductVersions.h"
#include "win32/UniqueHandle.h"

namespace {

using testbed::InstallOptions;

constexpr char kKeyFileName[] = "VRSAFFRA9.exe";
using testbed::kAppPathsKey;
using testbed::kRunKey;
using testbed::kUninstallKey;

struct Folders {
  char source[MAX_PATH];   // where the installer and the built components lie
  char program[MAX_PATH];  // all of these end in a backslash
  char common[MAX_PATH];
  char shared[MAX_PATH];
};

int g_failures = 0;

void Fail(const char* what, const char* detail) {
  ++g_failures;
  fprintf(stderr, "install-product: %s failed: %s (error %lu)\n", what, detail, GetLastError());
}

bool Join(char* out, size_t capacity, const char* a, const char* b) {
  return SUCCEEDED(StringCchPrintfA(out, capacity, "%s%s", a, b));
}

bool WithBackslash(char* text, size_t capacity) {
  size_t n = strlen(text);
  if (n > 0 && text[n - 1] == '\\') return true;
  return SUCCEEDED(StringCchCatA(text, capacity, "\\"));
}

// Creates folder and its missing parents; folder ends in a backslash (a
// doubled one, as in the edition folder, counts once).
bool CreateFolderTree(const char* folder) {
  char path[MAX_PATH];
  if (FAILED(StringCchCopyA(path, sizeof path, folder))) return false;
  for (char* p = path + 3; *p; ++p) {  // past "C:\"
    if (*p != '\\' || p[-1] == '\\') continue;
    *p = '\0';
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    *p = '\\';
  }
  return true;
}

// The time of every file the installer lays down: mid-2009, before any
// build of this update.
FILETIME OldTime(const FILETIME* listTime) {
  SYSTEMTIME st = {};
  st.wYear = 2009;
  st.wMonth = 6;
  st.wDay = 1;
  FILETIME ft = {};
  SystemTimeToFileTime(&st, &ft);
  if (listTime && (listTime->dwLowDateTime || listTime->dwHighDateTime) &&
      CompareFileTime(listTime, &ft) <= 0) {
    ULARGE_INTEGER t = {{listTime->dwLowDateTime, listTime->dwHighDateTime}};
    t.QuadPart -= 864000000000ULL;  // one day earlier than the update's copy
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
  }
  return ft;
}

bool StampTime(const char* path, const FILETIME& time) {
  win32::FileHandle f(CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  return f && SetFileTime(f.get(), &time, &time, &time);
}

bool CopyComponent(const Folders& f, const char* sourceName, const char* target,
                   const FILETIME& time) {
  char source[MAX_PATH];
  SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  if (!Join(source, sizeof source, f.source, sourceName) || !CopyFileA(source, target, FALSE) ||
      !StampTime(target, time)) {
    Fail("copy", target);
    return false;
  }
  return true;
}

bool WriteOlderCopy(const char* target, const char* version, const FILETIME& time) {
  win32::FileHandle file(CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  char text[MAX_PATH + 100];
  DWORD written = 0;
  if (!file ||
      FAILED(StringCchPrintfA(text, sizeof text, "Installed by Vorrel Recorder %s: %s\r\n", version,
                              target)) ||
      !WriteFile(file.get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr)) {
    Fail("write", target);
    return false;
  }
  file.reset();
  return StampTime(target, time);
}

const char* QfControlSource(const char* variant) {
  if (!strcmp(variant, "normal")) return "QfControl.dll";
  if (!strcmp(variant, "noexport")) return "QfControl_noexport.dll";
  if (!strcmp(variant, "empty")) return "QfControl_empty.dll";
  if (!strcmp(variant, "stdcall")) return "QfControl_stdcall.dll";
  return nullptr;  // "none": no control library at all
}

// Built component installed under a product file name, or null when the
// name is plain data.
const char* ComponentFor(const char* fileName, const InstallOptions& o) {
  static const char* const kSame[] = {"Servinst.exe", "qfsvcgen.exe", "VrComServer.dll",
                                      "DrvInst.exe",  "VrOstrel.exe", "SoundFx.dll"};
  if (!lstrcmpiA(fileName, "QfControl.dll")) return QfControlSource(o.qfControl);
  for (const char* name : kSame)
    if (!lstrcmpiA(fileName, name)) return name;
  return nullptr;
}

// Older copies of every file of the update list that applies on this
// Windows, where the update will look for them (the key file excepted: it
// is installed on its own).
int InstallListFiles(const Folders& f, const InstallOptions& o) {
  testbed::ExpectedLayout layout;
  if (!layout.Load(o.upList, {f.program, f.common, f.shared}, testbed::ThisMachine())) {
    Fail("update list", layout.problem().c_str());
    return 0;
  }
  int count = 0;
  for (const testbed::ExpectedFile& file : layout.ApplicableFiles()) {
    if (!lstrcmpiA(file.name.c_str(), kKeyFileName)) continue;
    testbed::RedirectionOff redirection(file.redirectionOff);
    const std::string folder = file.target.substr(0, file.target.rfind('\\') + 1);
    if (!CreateFolderTree(folder.c_str())) {
      Fail("folder", folder.c_str());
      continue;
    }
    const FILETIME time = OldTime(&file.time);
    const char* component = ComponentFor(file.name.c_str(), o);
    const char* target = file.target.c_str();
    count += (component ? CopyComponent(f, component, target, time)
                        : WriteOlderCopy(target, o.version, time))
                 ? 1
                 : 0;
  }
  return count;
}

// The key file of the version, padded with zero bytes after its image to the
// version's length (an overlay the loader ignores).
bool InstallKeyFile(const Folders& f, const InstallOptions& o) {
  DWORD length = o.keyLength;
  if (!length) length = testbed::ListedKeyFileLength(o.version);
  if (!length) length = testbed::kUnlistedKeyFileLength;
  if (o.wrongLength) length += 512;
  char source[MAX_PATH], sourceName[64], target[MAX_PATH];
  StringCchPrintfA(sourceName, sizeof sourceName, "keyfiles\\VRSAFFRA9_%s.exe", o.version);
  if (!Join(source, sizeof source, f.source, sourceName) ||
      !Join(target, sizeof target, f.program, kKeyFileName)) {
    Fail("key file", o.version);
    return false;
  }
  SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  if (!CopyFileA(source, target, FALSE)) {
    Fail("key file (no key file built for this version)", source);
    return false;
  }
  win32::FileHandle file(CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD size = file ? GetFileSize(file.get(), nullptr) : INVALID_FILE_SIZE;
  if (size == INVALID_FILE_SIZE || size > length ||
      SetFilePointer(file.get(), static_cast<LONG>(length), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(file.get())) {
    Fail("key file length", target);
    return false;
  }
  FILETIME time = OldTime(nullptr);
  SetFileTime(file.get(), &time, &time, &time);
  printf("key file: %s version %s, %lu bytes\n", target, o.version, length);
  return true;
}

bool SetText(const char* keyPath, const char* name, const char* text) {
  win32::RegKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE | testbed::kProductView,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
      RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>(strlen(text) + 1)) != ERROR_SUCCESS) {
    Fail("registry", keyPath);
    return false;
  }
  return true;
}

// A folder as the product records it: with or without the trailing
// backslash, as the options say.
const char* Recorded(const char* folder, const InstallOptions& o, char* buf, size_t capacity) {
  StringCchCopyA(buf, capacity, folder);
  size_t n = strlen(buf);
  if (!o.trailingBackslash && n > 3 && buf[n - 1] == '\\') buf[n - 1] = '\0';
  return buf;
}

// "10.2.9.0" -> "10.29.000", the form of the Uninstall entry's version.
void DisplayVersion(const char* version, char* out, size_t capacity) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  sscanf(version, "%u.%u.%u.%u", &a, &b, &c, &d);
  StringCchPrintfA(out, capacity, "%u.%u%u.%03u", a, b, c, d);
}

void WriteRegistry(const Folders& f, const InstallOptions& o) {
  char buf[MAX_PATH], text[MAX_PATH + 8];
  SetText(testbed::kFoldersKey, testbed::kCommonValue, Recorded(f.common, o, buf, sizeof buf));
  SetText(testbed::kFoldersKey, testbed::kSharedValue, Recorded(f.shared, o, buf, sizeof buf));
  testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstDelayValue, o.servinstDelayMs);
  testbed::WriteDword(testbed::kOptionsKey, testbed::kServinstRefuseValue, o.servinstRefuse);
  if (o.soundFxCount)
    testbed::WriteDword(testbed::kOptionsKey, testbed::kSoundFxCountValue, o.soundFxCount);

  if (o.appPath) {
    Join(text, sizeof text, f.program, kKeyFileName);
    SetText(kAppPathsKey, nullptr, text);
    SetText(kAppPathsKey, "Path", Recorded(f.program, o, buf, sizeof buf));
  }
  if (o.uninstallEntry) {
    SetText(kUninstallKey, "InstallLocation", Recorded(f.program, o, buf, sizeof buf));
    SetText(kUninstallKey, "DisplayName", "Vorrel Recorder");
    DisplayVersion(o.version, text, sizeof text);
    SetText(kUninstallKey, "DisplayVersion", text);
    SetText(kUninstallKey, "Publisher", "Marrowick");
    StringCchPrintfA(text, sizeof text, "\"%sVRSAFFRA9.exe\" /uninstall", f.program);
    SetText(kUninstallKey, "UninstallString", text);
  }
  if (o.runValue[0]) {
    StringCchPrintfA(text, sizeof text, strchr(o.runValue, ' ') ? "\"%s\" /r" : "%s /r",
                     o.runValue);
    SetText(kRunKey, testbed::kResumeValue, text);
  }
}

bool RunServiceInstaller(const Folders& f) {
  char command[MAX_PATH + 4];
  if (FAILED(StringCchPrintfA(command, sizeof command, "\"%sServinst.exe\"", f.common)))
    return false;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    Fail("service installer", command);
    return false;
  }
  win32::KernelHandle process(pi.hProcess), thread(pi.hThread);
  DWORD code = 1;
  if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code) || code != 0) {
    Fail("service installer", "exit code not 0");
    return false;
  }
  return true;
}

bool RegisterComServer(const Folders& f) {
  char path[MAX_PATH];
  Join(path, sizeof path, f.program, "VrComServer.dll");
  win32::Module module(LoadLibraryA(path));
  auto reg =
      module
          ? reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module.get(), "DllRegisterServer"))
          : nullptr;
  if (!reg || FAILED(reg())) {
    Fail("COM registration", path);
    return false;
  }
  return true;
}

bool ResolveFolders(const InstallOptions& o, Folders* f) {
  char pf[MAX_PATH], cf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, f->source, sizeof f->source);
  char* slash = n && n < sizeof f->source ? strrchr(f->source, '\\') : nullptr;
  if (!slash) return false;
  slash[1] = '\0';
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, pf)) ||
      FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, cf)))
    return false;
  bool ok = true;
  ok = ok && (o.programFolder[0] ? Join(f->program, MAX_PATH, o.programFolder, "")
                                 : Join(f->program, MAX_PATH, pf, testbed::kProgramSubfolder));
  ok = ok && (o.commonFolder[0] ? Join(f->common, MAX_PATH, o.commonFolder, "")
                                : Join(f->common, MAX_PATH, cf, "\\Marrowick"));
  ok = ok && WithBackslash(f->program, MAX_PATH) && WithBackslash(f->common, MAX_PATH);
  ok = ok && (o.sharedFolder[0] ? Join(f->shared, MAX_PATH, o.sharedFolder, "")
                                : Join(f->shared, MAX_PATH, f->common, "Shared"));
  return ok && WithBackslash(f->shared, MAX_PATH);
}

}  // namespace

int main(int argc, char** argv) {
  InstallOptions o;
  if (!testbed::ParseInstallOptions(argc, argv, &o)) return 2;
  Folders f = {};
  if (!ResolveFolders(o, &f)) {
    fprintf(stderr, "install-product: cannot work out the folders\n");
    return 2;
  }
  char virtualDrive[MAX_PATH];
  Join(virtualDrive, sizeof virtualDrive, f.program, "virtualQuirra\\");
  const std::string edition = testbed::FolderOf(
      "MarrowickCommon_Saffra9", {f.program, f.common, f.shared}, testbed::ThisMachine());
  const char* const folders[] = {f.program, f.common, edition.c_str(), f.shared, virtualDrive};
  for (const char* folder : folders)
    if (!CreateFolderTree(folder)) Fail("folder", folder);

  int listed = o.upList[0] ? InstallListFiles(f, o) : 0;

  // The components the updater talks to, whatever the list holds.
  FILETIME time = OldTime(nullptr);
  char target[MAX_PATH];
  const char* qf = QfControlSource(o.qfControl);
  Join(target, sizeof target, f.program, "QfControl.dll");
  if (qf) {
    CopyComponent(f, qf, target, time);
  } else {
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target);
  }
  struct {
    const char* folder;
    const char* name;
  } const components[] = {{f.program, "VrOstrel.exe"}, {f.program, "VrComServer.dll"},
                          {f.program, "SoundFx.dll"},  {virtualDrive, "DrvInst.exe"},
                          {f.common, "Servinst.exe"},  {f.common, "qfsvcgen.exe"}};
  for (const auto& c : components)
    if (Join(target, sizeof target, c.folder, c.name)) CopyComponent(f, c.name, target, time);

  InstallKeyFile(f, o);
  WriteRegistry(f, o);
  if (o.registerComServer) RegisterComServer(f);
  if (o.filters) {
    int omitted = 0;
    for (bool b : o.filterLayout.omit) omitted += b ? 1 : 0;
    if (testbed::WriteFilterRegistrations(o.filterLayout) != 21 - omitted)
      Fail("filter registrations", "not all written");
  }
  if (o.service) RunServiceInstaller(f);

  printf("program folder: %s\ncommon folder: %s\nshared folder: %s\n", f.program, f.common,
         f.shared);
  printf("update list files: %d older copies\n", listed);
  printf("install-product %s: %s\n", o.version, g_failures ? "FAILED" : "done");
  return g_failures ? 1 : 0;
}
