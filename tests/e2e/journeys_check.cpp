// e2e_check: looks at a prefix after (or before) the updater ran and says
// whether disk, registry and service are in the state a journey expects.
//
//   e2e_check CHECK...
//     list=PATH           the update list whose files are looked at (needed
//                         by snapshot, same and updated)
//     src=DIR             folder of the expanded payload (GGFF_<name> files)
//     snapshot=FILE       record size, time and content of every file of the
//                         list that applies to this system
//     same=FILE           every recorded file is still exactly as recorded
//     updated             every file of the list that applies to this system
//                         holds its payload's bytes and the list's time
//     key=V,V,V,V:LENGTH  version resource and length of the key file
//     uninstall=updated   Uninstall entry carries the update's name and version
//     uninstall=VERSION   Uninstall entry untouched, with its old version text
//     run=absent|present  the Run value "marrowickupdater"
//     service=present|absent  the service "qfsvcg"
//
// Folders come from the installed product's registry (32-bit view), laid out
// the way the testbed's installer does it. One line per check; exit code 0
// when all held, 1 when any failed, 2 on a bad argument.
#include <windows.h>
#include <winver.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "testbed/common/Flavour.h"
#include "win32/UniqueHandle.h"

namespace {

constexpr char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\VRSAFFRA9.EXE";
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5A1C0E2B-7D34-4F8E-9B61-2C7E4A90D3F5}";
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kFoldersKey[] = "SOFTWARE\\Marrowick\\TestbedFolders";
constexpr char kKeyFile[] = "VRSAFFRA9.exe";

int g_failed = 0;

void Report(bool ok, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printf("%s ", ok ? "ok  " : "FAIL");
  vprintf(format, args);
  printf("\n");
  va_end(args);
  fflush(stdout);
  if (!ok) ++g_failed;
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string WithBackslash(std::string s) {
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

// A registry value of the product's view; found is false when it is missing.
struct RegValue {
  bool found = false;
  DWORD type = 0;
  std::string data;  // raw bytes, as stored
};

RegValue ReadValue(const char* key, const char* name) {
  RegValue v;
  win32::RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | testbed::kProductView, k.put()) !=
      ERROR_SUCCESS)
    return v;
  DWORD size = 0;
  if (RegQueryValueExA(k.get(), name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
  v.data.resize(size);
  if (RegQueryValueExA(k.get(), name, nullptr, &v.type,
                       reinterpret_cast<BYTE*>(size ? &v.data[0] : nullptr),
                       &size) != ERROR_SUCCESS)
    return v;
  v.data.resize(size);
  v.found = true;
  return v;
}

// Text of a REG_SZ value without any terminator the data may carry.
std::string TextOf(const RegValue& v) {
  std::string s = v.data;
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

struct Folders {
  std::string program, common, shared, edition, system;
};

bool LoadFolders(Folders* f) {
  f->program = WithBackslash(TextOf(ReadValue(kAppPathsKey, "Path")));
  f->common = WithBackslash(TextOf(ReadValue(kFoldersKey, "Common")));
  f->shared = WithBackslash(TextOf(ReadValue(kFoldersKey, "Shared")));
  f->edition = f->common + "Saffra9\\";
  char sys[MAX_PATH];
  UINT n = GetSystemDirectoryA(sys, sizeof sys);
  f->system = n && n < sizeof sys ? WithBackslash(sys) : "";
  return f->program.size() > 1 && f->common.size() > 1 && !f->system.empty();
}

// One file of the list that applies to this system.
struct ListedFile {
  std::string target;  // where it is installed
  std::string source;  // GGFF_<name> in the expanded payload folder
  FILETIME time = {};
  bool system = false;  // in the system folder: looked at without redirection
};

std::string Profile(const std::string& ini, const char* section, const char* key) {
  char buf[MAX_PATH];
  GetPrivateProfileStringA(section, key, "", buf, sizeof buf, ini.c_str());
  return buf;
}

std::vector<ListedFile> ListedFiles(const std::string& ini, const Folders& f) {
  std::vector<ListedFile> files;
  const bool win64 = testbed::OnSixtyFourBitWindows();
  int groups = GetPrivateProfileIntA("General", "Group", 0, ini.c_str());
  for (int g = 0; g < groups; ++g) {
    char section[32];
    snprintf(section, sizeof section, "Group%d", g);
    std::string os = Profile(ini, section, "OS");
    if ((!lstrcmpiA(os.c_str(), "X86") && win64) || (!lstrcmpiA(os.c_str(), "X64") && !win64))
      continue;
    std::string where = Profile(ini, section, "Install Path"), folder;
    bool system = false;
    if (!lstrcmpiA(where.c_str(), "SharedLib")) {
      folder = f.shared;
    } else if (!lstrcmpiA(where.c_str(), "MarrowickCommon")) {
      folder = f.common;
    } else if (!lstrcmpiA(where.c_str(), "MarrowickCommon_Saffra9")) {
      folder = f.edition;
    } else if (!lstrcmpiA(where.c_str(), "driver")) {
      folder = f.system + "drivers\\";
      system = true;
    } else {
      folder = where.empty() ? f.program : WithBackslash(f.program + where);
    }
    int count = GetPrivateProfileIntA(section, "Files", 0, ini.c_str());
    for (int d = 0; d < count; ++d) {
      char key[32];
      snprintf(key, sizeof key, "Path%d", d);
      std::string path = Profile(ini, section, key);
      size_t slash = path.rfind('\\');
      std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
      ListedFile file;
      file.target = folder + name;
      char prefix[16];
      snprintf(prefix, sizeof prefix, "%02d%02d_", g, d);
      file.source = prefix + name;
      snprintf(key, sizeof key, "PathTimeL%d", d);
      file.time.dwLowDateTime =
          static_cast<DWORD>(strtoul(Profile(ini, section, key).c_str(), nullptr, 10));
      snprintf(key, sizeof key, "PathTimeH%d", d);
      file.time.dwHighDateTime =
          static_cast<DWORD>(strtoul(Profile(ini, section, key).c_str(), nullptr, 10));
      file.system = system;
      files.push_back(file);
    }
  }
  return files;
}

struct FileState {
  bool exists = false;
  unsigned long long size = 0;
  unsigned long long time = 0;  // last write, 100 ns units
  std::string bytes;
};

FileState ReadState(const std::string& path, bool system) {
  testbed::RedirectionOff redirection(system);
  FileState s;
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return s;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return s;
  s.exists = true;
  s.size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  s.time = (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
           info.ftLastWriteTime.dwLowDateTime;
  s.bytes.resize(static_cast<size_t>(s.size));
  DWORD got = 0;
  if (s.size && (!ReadFile(file.get(), &s.bytes[0], static_cast<DWORD>(s.size), &got, nullptr) ||
                 got != s.size))
    s.exists = false;
  return s;
}

unsigned long long Fnv1a(const std::string& bytes) {
  unsigned long long h = 14695981039346656037ULL;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ULL;
  return h;
}

void CheckUpdated(const std::vector<ListedFile>& files, const std::string& src) {
  int good = 0;
  for (const ListedFile& f : files) {
    FileState want = ReadState(WithBackslash(src) + f.source, false);
    FileState have = ReadState(f.target, f.system);
    unsigned long long listTime =
        (static_cast<unsigned long long>(f.time.dwHighDateTime) << 32) | f.time.dwLowDateTime;
    if (!want.exists) {
      Report(false, "updated: no payload source %s", f.source.c_str());
    } else if (!have.exists) {
      Report(false, "updated: %s missing", f.target.c_str());
    } else if (have.bytes != want.bytes) {
      Report(false, "updated: %s differs from %s (%llu bytes, payload %llu)", f.target.c_str(),
             f.source.c_str(), have.size, want.size);
    } else if (have.time != listTime) {
      Report(false, "updated: %s has time %llu, the list says %llu", f.target.c_str(), have.time,
             listTime);
    } else {
      ++good;
    }
  }
  Report(good == static_cast<int>(files.size()) && good > 0,
         "updated: %d of %u files hold the payload's bytes and the list's time", good,
         static_cast<unsigned>(files.size()));
}

bool Snapshot(const std::vector<ListedFile>& files, const std::string& out) {
  FILE* fp = fopen(out.c_str(), "w");
  if (!fp) return false;
  for (const ListedFile& f : files) {
    FileState s = ReadState(f.target, f.system);
    fprintf(fp, "%d %llu %llu %016llx %d %s\n", s.exists ? 1 : 0, s.size, s.time, Fnv1a(s.bytes),
            f.system ? 1 : 0, f.target.c_str());
  }
  fclose(fp);
  Report(true, "snapshot: %u files recorded in %s", static_cast<unsigned>(files.size()),
         out.c_str());
  return true;
}

void CheckSame(const std::string& in) {
  FILE* fp = fopen(in.c_str(), "r");
  if (!fp) {
    Report(false, "same: no snapshot %s", in.c_str());
    return;
  }
  char line[MAX_PATH + 128];
  int count = 0, changed = 0;
  while (fgets(line, sizeof line, fp)) {
    int exists = 0, system = 0, used = 0;
    unsigned long long size = 0, time = 0, hash = 0;
    if (sscanf(line, "%d %llu %llu %llx %d %n", &exists, &size, &time, &hash, &system, &used) < 5)
      continue;
    std::string path = line + used;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    FileState s = ReadState(path, system != 0);
    ++count;
    if ((s.exists ? 1 : 0) != exists || s.size != size || s.time != time ||
        Fnv1a(s.bytes) != hash) {
      ++changed;
      Report(false, "same: %s changed (%llu bytes, time %llu; was %llu, %llu)", path.c_str(),
             s.size, s.time, size, time);
    }
  }
  fclose(fp);
  Report(count > 0 && changed == 0, "same: %d of %d files untouched", count - changed, count);
}

void CheckKey(const Folders& folders, const std::string& expected) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  unsigned long long length = 0;
  if (sscanf(expected.c_str(), "%u,%u,%u,%u:%llu", &a, &b, &c, &d, &length) != 5) {
    Report(false, "key: bad expectation %s", expected.c_str());
    return;
  }
  std::string path = folders.program + kKeyFile;
  FileState s = ReadState(path, false);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  std::vector<char> info(size ? size : 1);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  bool haveVersion =
      size && GetFileVersionInfoA(path.c_str(), 0, size, info.data()) &&
      VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed;
  unsigned va = haveVersion ? HIWORD(fixed->dwFileVersionMS) : 0;
  unsigned vb = haveVersion ? LOWORD(fixed->dwFileVersionMS) : 0;
  unsigned vc = haveVersion ? HIWORD(fixed->dwFileVersionLS) : 0;
  unsigned vd = haveVersion ? LOWORD(fixed->dwFileVersionLS) : 0;
  Report(s.exists && haveVersion && va == a && vb == b && vc == c && vd == d && s.size == length,
         "key: %s is %u,%u,%u,%u at %llu bytes (expected %s)", path.c_str(), va, vb, vc, vd, s.size,
         expected.c_str());
}

// A REG_SZ value stored with its terminating zero, as every writer does.
void CheckValueText(const char* key, const char* name, const std::string& want) {
  RegValue v = ReadValue(key, name);
  const std::string stored = want + '\0';
  Report(v.found && v.type == REG_SZ && v.data == stored,
         "uninstall: %s = \"%s\" (%u bytes, want %u)", name, TextOf(v).c_str(),
         static_cast<unsigned>(v.data.size()), static_cast<unsigned>(stored.size()));
}

void CheckUninstall(const std::string& expected) {
  if (expected == "updated") {
    CheckValueText(kUninstallKey, "DisplayName", "Vorrel Recorder 10.30 (Update)");
    CheckValueText(kUninstallKey, "DisplayVersion", "10.30.000");
  } else {
    CheckValueText(kUninstallKey, "DisplayName", "Vorrel Recorder");
    CheckValueText(kUninstallKey, "DisplayVersion", expected);
  }
  CheckValueText(kUninstallKey, "Publisher", "Marrowick");
}

void CheckRun(const std::string& want) {
  RegValue v = ReadValue(kRunKey, "marrowickupdater");
  Report(v.found == (want == "present"), "run: value \"marrowickupdater\" %s (expected %s)",
         v.found ? "present" : "absent", want.c_str());
}

void CheckService(const std::string& want) {
  win32::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  win32::ServiceHandle service(manager ? OpenServiceA(manager.get(), "qfsvcg", SERVICE_QUERY_STATUS)
                                       : nullptr);
  bool present = static_cast<bool>(service);
  Report(manager && present == (want == "present"), "service: \"qfsvcg\" %s (expected %s)",
         present ? "present" : "absent", want.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string list, src;
  Folders folders;
  bool haveFolders = LoadFolders(&folders);
  if (!haveFolders) Report(false, "folders: the product's registry entries are missing");
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    size_t eq = a.find('=');
    std::string name = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    bool needsList = name == "snapshot" || name == "same" || name == "updated";
    if (needsList && list.empty()) {
      fprintf(stderr, "e2e_check: %s needs list= first\n", name.c_str());
      return 2;
    }
    if (name == "list") {
      list = WindowsPath(value);
    } else if (name == "src") {
      src = WindowsPath(value);
    } else if (name == "snapshot") {
      if (!Snapshot(ListedFiles(list, folders), WindowsPath(value))) return 2;
    } else if (name == "same") {
      CheckSame(WindowsPath(value));
    } else if (name == "updated") {
      CheckUpdated(ListedFiles(list, folders), src);
    } else if (name == "key") {
      CheckKey(folders, value);
    } else if (name == "uninstall") {
      CheckUninstall(value);
    } else if (name == "run") {
      CheckRun(value);
    } else if (name == "service") {
      CheckService(value);
    } else {
      fprintf(stderr, "e2e_check: unknown check %s\n", a.c_str());
      return 2;
    }
  }
  return g_failed ? 1 : 0;
}
