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
//     old-or-new=FILE     every such file is whole: as recorded in the
//                         snapshot FILE, or the payload's bytes (needs src)
//     temporaries=none    no "tmp*.tmp" file in the folders of those files
//                         nor in the temporary folder
//     key=V,V,V,V:LENGTH  version resource and length of the key file
//     uninstall=updated   Uninstall entry carries the update's name and version
//     uninstall=VERSION   Uninstall entry untouched, with its old version text
//     run=absent|present  the Run value "marrowickupdater"
//     service=present|absent  the service "qfsvcg"
//     updater-key=absent  the updater's own key, HKLM SOFTWARE\Marrowick\VrUpdater1030,
//                         is gone: no record of a temporary, no mark, and
//                         nothing left of the key itself; =present: it is there
//     facts=FILE          no check: a record whose "facts" hold the state
//                         an interrupted update is judged by (old, new, not
//                         stamped, partial and missing files against the
//                         snapshot FILE, temporaries, records and marks of
//                         the updater's key, service, Uninstall entry, key
//                         file); needs src
//     count               no check: a record whose "files" says how many
//                         files of the list apply to this Windows (needs
//                         no installed product)
//     floor               copies every such file's payload bytes beside it
//                         ("<file>.floor") with CopyFileA, three times, says
//                         how long the fastest pass took, and deletes the
//                         copies again: the floor
//                         the benchmark compares the updater with (needs src)
//
// Folders come from the installed product's registry (the flavour's view);
// which files apply and where they lie, from testbed/common/ExpectedLayout.h.
// One JSON record per finding (tests/e2e/CheckRecord.h); exit code 0 when
// all held, 1 when any failed, 2 on a bad argument.
#include <windows.h>
#include <winver.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "testbed/common/ExpectedLayout.h"
#include "testbed/common/JsonText.h"
#include "testbed/common/Flavour.h"
#include "testbed/common/ProductKeys.h"
#include "testbed/common/TestbedRegistry.h"
#include "tests/e2e/CheckRecord.h"
#include "win32/UniqueHandle.h"

namespace {

using testbed::JsonField;
using testbed::JsonText;
using testbed::kRunKey;
using testbed::kUninstallKey;
constexpr char kKeyFile[] = "VRSAFFRA9.exe";

int g_failed = 0;

// One record: {"check":NAME,"ok":true|false|null,"detail":TEXT} from a text
// "NAME: TEXT", plus fields already JSON (tests/e2e/CheckRecord.h).
void PrintRecord(const char* ok, const char* format, va_list args, const std::string& more = "") {
  char text[2048];
  vsnprintf(text, sizeof text, format, args);
  const char* colon = strstr(text, ": ");
  const std::string check = colon ? std::string(text, static_cast<size_t>(colon - text)) : text;
  printf("{%s,%s,%s%s}\n", JsonField(check_record::kCheck, JsonText(check)).c_str(),
         JsonField(check_record::kOk, ok).c_str(),
         JsonField(check_record::kDetail, JsonText(colon ? colon + 2 : "")).c_str(), more.c_str());
  fflush(stdout);
}

void Report(bool ok, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintRecord(ok ? "true" : "false", format, args);
  va_end(args);
  if (!ok) ++g_failed;
}

// A finding that is neither a pass nor a failure.
void Note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintRecord("null", format, args);
  va_end(args);
}

// A record that held, with fields of its own (",\"name\":value...").
void Fields(const std::string& more, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintRecord("true", format, args, more);
  va_end(args);
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

using testbed::ProductFolders;
// One file of the list that applies to this system; with redirectionOff it
// lies in the real 64-bit system folder and is looked at there.
using ListedFile = testbed::ExpectedFile;

std::vector<ListedFile> ListedFiles(const std::string& ini, const ProductFolders& f) {
  testbed::ExpectedLayout layout;
  if (!layout.Load(ini, f, testbed::ThisMachine()))
    Report(false, "list: %s", layout.problem().c_str());
  return layout.ApplicableFiles();
}

struct FileState {
  bool exists = false;
  unsigned long long size = 0;
  unsigned long long time = 0;  // last write, 100 ns units
  std::string bytes;
};

unsigned long long Join64(DWORD high, DWORD low) {
  return (static_cast<unsigned long long>(high) << 32) | low;
}

// The list's time of a file, as a last-write time.
unsigned long long ListTime(const ListedFile& f) {
  return Join64(f.time.dwHighDateTime, f.time.dwLowDateTime);
}

FileState ReadState(const std::string& path, bool system) {
  testbed::RedirectionOff redirection(system);
  FileState s;
  win32::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return s;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return s;
  s.exists = true;
  s.size = Join64(info.nFileSizeHigh, info.nFileSizeLow);
  s.time = Join64(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
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

// Files of the list that hold their payload's bytes and the list's time;
// with report, each other file is a failure.
int CountUpdated(const std::vector<ListedFile>& files, const std::string& src, bool report) {
  int good = 0;
  for (const ListedFile& f : files) {
    FileState want = ReadState(WithBackslash(src) + f.source, false);
    FileState have = ReadState(f.target, f.redirectionOff);
    const unsigned long long listTime = ListTime(f);
    if (want.exists && have.exists && have.bytes == want.bytes && have.time == listTime) {
      ++good;
    } else if (!report) {
    } else if (!want.exists) {
      Report(false, "updated: no payload source %s", f.source.c_str());
    } else if (!have.exists) {
      Report(false, "updated: %s missing", f.target.c_str());
    } else if (have.bytes != want.bytes) {
      Report(false, "updated: %s differs from %s (%llu bytes, payload %llu)", f.target.c_str(),
             f.source.c_str(), have.size, want.size);
    } else {
      Report(false, "updated: %s has time %llu, the list says %llu", f.target.c_str(), have.time,
             listTime);
    }
  }
  return good;
}

void CheckUpdated(const std::vector<ListedFile>& files, const std::string& src) {
  const int good = CountUpdated(files, src, true);
  Report(good == static_cast<int>(files.size()) && good > 0,
         "updated: %d of %u files hold the payload's bytes and the list's time", good,
         static_cast<unsigned>(files.size()));
}

// One pass of the floor: copies every file, returns the milliseconds it took
// (negative when a copy failed) and the bytes copied.
double CopyFloorOnce(const std::vector<ListedFile>& files, const std::string& src,
                     unsigned long long& bytes) {
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  bool ok = true;
  bytes = 0;
  for (const ListedFile& f : files) {
    testbed::RedirectionOff redirection(f.redirectionOff);
    std::string from = WithBackslash(src) + f.source, to = f.target + ".floor";
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE) ||
        !GetFileAttributesExA(to.c_str(), GetFileExInfoStandard, &data)) {
      Report(false, "floor: cannot copy %s to %s (error %lu)", from.c_str(), to.c_str(),
             GetLastError());
      ok = false;
      continue;
    }
    bytes += Join64(data.nFileSizeHigh, data.nFileSizeLow);
  }
  QueryPerformanceCounter(&end);
  for (const ListedFile& f : files) {
    testbed::RedirectionOff redirection(f.redirectionOff);
    DeleteFileA((f.target + ".floor").c_str());
  }
  return ok ? 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                  static_cast<double>(frequency.QuadPart)
            : -1.0;
}

// The floor is the fastest of a few passes: the first one right after the
// update can wait on the update's own dirty pages being written back.
void MeasureFloor(const std::vector<ListedFile>& files, const std::string& src) {
  const int passes = 3;
  double best = -1.0;
  unsigned long long bytes = 0;
  for (int pass = 0; pass < passes; ++pass) {
    double ms = CopyFloorOnce(files, src, bytes);
    if (ms < 0) return;
    if (best < 0 || ms < best) best = ms;
  }
  if (files.empty()) return Report(false, "floor: no files");
  Fields("," + JsonField(check_record::kFiles, std::to_string(files.size())) + "," +
             JsonField(check_record::kBytes, std::to_string(bytes)) + "," +
             JsonField(check_record::kMs, std::to_string(static_cast<long long>(best + 0.5))),
         "floor: %u files, %llu bytes copied with CopyFileA in %.0f ms (fastest of %d)",
         static_cast<unsigned>(files.size()), bytes, best, passes);
}

bool Snapshot(const std::vector<ListedFile>& files, const std::string& out) {
  FILE* fp = fopen(out.c_str(), "w");
  if (!fp) return false;
  for (const ListedFile& f : files) {
    FileState s = ReadState(f.target, f.redirectionOff);
    fprintf(fp, "%d %llu %llu %016llx %d %s\n", s.exists ? 1 : 0, s.size, s.time, Fnv1a(s.bytes),
            f.redirectionOff ? 1 : 0, f.target.c_str());
  }
  fclose(fp);
  Report(true, "snapshot: %u files recorded in %s", static_cast<unsigned>(files.size()),
         out.c_str());
  return true;
}

// One line of a snapshot.
struct Recorded {
  bool exists = false;
  bool system = false;
  unsigned long long size = 0, time = 0, hash = 0;
  std::string path;
};

bool ReadSnapshot(const std::string& in, std::vector<Recorded>* out) {
  FILE* fp = fopen(in.c_str(), "r");
  if (!fp) return false;
  char line[MAX_PATH + 128];
  while (fgets(line, sizeof line, fp)) {
    int exists = 0, system = 0, used = 0;
    Recorded r;
    if (sscanf(line, "%d %llu %llu %llx %d %n", &exists, &r.size, &r.time, &r.hash, &system,
               &used) < 5)
      continue;
    r.exists = exists != 0;
    r.system = system != 0;
    r.path = line + used;
    while (!r.path.empty() && (r.path.back() == '\n' || r.path.back() == '\r')) r.path.pop_back();
    out->push_back(r);
  }
  fclose(fp);
  return true;
}

void CheckSame(const std::string& in) {
  std::vector<Recorded> recorded;
  if (!ReadSnapshot(in, &recorded)) {
    Report(false, "same: no snapshot %s", in.c_str());
    return;
  }
  int changed = 0;
  for (const Recorded& r : recorded) {
    FileState s = ReadState(r.path, r.system);
    if (s.exists != r.exists || s.size != r.size || s.time != r.time || Fnv1a(s.bytes) != r.hash) {
      ++changed;
      Report(false, "same: %s changed (%llu bytes, time %llu; was %llu, %llu)", r.path.c_str(),
             s.size, s.time, r.size, r.time);
    }
  }
  const int count = static_cast<int>(recorded.size());
  Report(count > 0 && changed == 0, "same: %d of %d files untouched", count - changed, count);
}

// How the files of the list stand against a snapshot taken before the update.
struct FileCounts {
  bool haveSnapshot = false;
  int files = 0, oldCount = 0, newCount = 0, unstamped = 0, partial = 0, missing = 0;
};

// Classes every file of the list as the recorded old copy (absent when it was
// absent), the payload's bytes (stamped with the list's time or not),
// partial or missing. With report, each file that is neither old nor new is a
// failure and each oddity a note.
FileCounts CountOldAndNew(const std::vector<ListedFile>& files, const std::string& src,
                          const std::string& in, bool report) {
  FileCounts c;
  std::vector<Recorded> recorded;
  if (!ReadSnapshot(in, &recorded)) return c;
  c.haveSnapshot = true;
  c.files = static_cast<int>(files.size());
  std::map<std::string, Recorded> before;
  for (const Recorded& r : recorded) before[r.path] = r;
  for (const ListedFile& f : files) {
    auto was = before.find(f.target);
    FileState want = ReadState(WithBackslash(src) + f.source, false);
    if (was == before.end() || !want.exists) {
      if (report)
        Report(false, "old-or-new: %s has no snapshot line or payload source", f.target.c_str());
      ++c.partial;
      continue;
    }
    FileState have = ReadState(f.target, f.redirectionOff);
    const Recorded& old = was->second;
    const bool oldBytes =
        have.exists == old.exists &&
        (!have.exists || (have.size == old.size && Fnv1a(have.bytes) == old.hash));
    const unsigned long long listTime = ListTime(f);
    if (oldBytes && have.time == old.time) {
      ++c.oldCount;  // untouched (also where old and new bytes are the same)
    } else if (have.exists && have.bytes == want.bytes) {
      ++c.newCount;
      if (have.time != listTime) {
        ++c.unstamped;
        if (report)
          Note("old-or-new: %s is new but has time %llu, the list says %llu", f.target.c_str(),
               have.time, listTime);
      }
    } else if (oldBytes) {
      ++c.oldCount;
      if (report)
        Note("old-or-new: %s is old but its time changed (%llu, was %llu)", f.target.c_str(),
             have.time, old.time);
    } else if (!have.exists) {
      ++c.missing;
      if (report) Report(false, "old-or-new: %s missing", f.target.c_str());
    } else {
      ++c.partial;
      if (report)
        Report(false, "old-or-new: %s is neither old nor new (%llu bytes; old %llu, new %llu)",
               f.target.c_str(), have.size, old.size, want.size);
    }
  }
  return c;
}

// After an interrupted update: every file of the list is whole, either the
// recorded old copy or the payload's bytes.
void CheckOldOrNew(const std::vector<ListedFile>& files, const std::string& src,
                   const std::string& in) {
  const FileCounts c = CountOldAndNew(files, src, in, true);
  if (!c.haveSnapshot) {
    Report(false, "old-or-new: no snapshot %s", in.c_str());
    return;
  }
  Report(c.files > 0 && c.partial == 0 && c.missing == 0,
         "old-or-new: %d old, %d new (%d not stamped), %d partial, %d missing of %d files",
         c.oldCount, c.newCount, c.unstamped, c.partial, c.missing, c.files);
}

// Temporaries the updater makes ("tmp*.tmp", from GetTempFileNameA) in the
// folders of the list's targets and in the temporary folder.
// A temporary found: its full path and length.
struct Temporary {
  std::string path;
  unsigned long bytes = 0;
};

std::vector<Temporary> FindTemporaries(const std::vector<ListedFile>& files,
                                       unsigned* folderCount) {
  std::vector<std::pair<std::string, bool>> folders;  // folder, in the system folder
  char temp[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof temp, temp);
  if (n && n < sizeof temp) folders.emplace_back(WithBackslash(temp), false);
  for (const ListedFile& f : files) {
    std::string folder = f.target.substr(0, f.target.rfind('\\') + 1);
    bool known = false;
    for (const auto& seen : folders)
      known = known || !lstrcmpiA(seen.first.c_str(), folder.c_str());
    if (!known) folders.emplace_back(folder, f.redirectionOff);
  }
  std::vector<Temporary> found;
  for (const auto& folder : folders) {
    testbed::RedirectionOff redirection(folder.second);
    WIN32_FIND_DATAA data;
    win32::FindHandle find(FindFirstFileA((folder.first + "tmp*.tmp").c_str(), &data));
    if (!find) continue;
    do {
      found.push_back({folder.first + data.cFileName, data.nFileSizeLow});
    } while (FindNextFileA(find.get(), &data));
  }
  *folderCount = static_cast<unsigned>(folders.size());
  return found;
}

void CheckNoTemporaries(const std::vector<ListedFile>& files) {
  unsigned folders = 0;
  const std::vector<Temporary> found = FindTemporaries(files, &folders);
  for (const Temporary& t : found)
    Report(false, "temporaries: %s left (%lu bytes)", t.path.c_str(), t.bytes);
  Report(found.empty(), "temporaries: %u tmp*.tmp files in %u folders",
         static_cast<unsigned>(found.size()), folders);
}

// The installed key file: its version resource and length.
struct KeyFileFacts {
  std::string path;
  bool exists = false, haveVersion = false;
  unsigned version[4] = {};
  unsigned long long size = 0;
};

KeyFileFacts ReadKeyFile(const ProductFolders& folders) {
  KeyFileFacts k;
  k.path = folders.program + kKeyFile;
  FileState s = ReadState(k.path, false);
  k.exists = s.exists;
  k.size = s.size;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(k.path.c_str(), &handle);
  std::vector<char> info(size ? size : 1);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  k.haveVersion = size && GetFileVersionInfoA(k.path.c_str(), 0, size, info.data()) &&
                  VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
                  fixed;
  if (k.haveVersion) {
    k.version[0] = HIWORD(fixed->dwFileVersionMS);
    k.version[1] = LOWORD(fixed->dwFileVersionMS);
    k.version[2] = HIWORD(fixed->dwFileVersionLS);
    k.version[3] = LOWORD(fixed->dwFileVersionLS);
  }
  return k;
}

// "V,V,V,V:LENGTH", as key= expects it.
std::string KeyFileText(const KeyFileFacts& k) {
  char text[96];
  snprintf(text, sizeof text, "%u,%u,%u,%u:%llu", k.version[0], k.version[1], k.version[2],
           k.version[3], k.size);
  return text;
}

void CheckKey(const ProductFolders& folders, const std::string& expected) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  unsigned long long length = 0;
  if (sscanf(expected.c_str(), "%u,%u,%u,%u:%llu", &a, &b, &c, &d, &length) != 5) {
    Report(false, "key: bad expectation %s", expected.c_str());
    return;
  }
  const KeyFileFacts k = ReadKeyFile(folders);
  Report(k.exists && k.haveVersion && KeyFileText(k) == expected,
         "key: %s is %s bytes (expected %s)", k.path.c_str(), KeyFileText(k).c_str(),
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
  const bool updated = expected == "updated";
  CheckValueText(kUninstallKey, "DisplayName",
                 updated ? "Vorrel Recorder 10.30 (Update)" : "Vorrel Recorder");
  CheckValueText(kUninstallKey, "DisplayVersion", updated ? "10.30.000" : expected);
  CheckValueText(kUninstallKey, "Publisher", "Marrowick");
}

void CheckRun(const std::string& want) {
  RegValue v = ReadValue(kRunKey, testbed::kResumeValue);
  Report(v.found == (want == "present"), "run: value \"marrowickupdater\" %s (expected %s)",
         v.found ? "present" : "absent", want.c_str());
}

// Whether the service "qfsvcg" is registered; false also when the service
// control manager cannot be asked (*asked then false).
bool ServicePresent(bool* asked) {
  win32::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  win32::ServiceHandle service(manager ? OpenServiceA(manager.get(), "qfsvcg", SERVICE_QUERY_STATUS)
                                       : nullptr);
  *asked = static_cast<bool>(manager);
  return static_cast<bool>(service);
}

void CheckService(const std::string& want) {
  bool asked = false;
  const bool present = ServicePresent(&asked);
  Report(asked && present == (want == "present"), "service: \"qfsvcg\" %s (expected %s)",
         present ? "present" : "absent", want.c_str());
}

// The updater's own key, in the flavour's view: its values are marks (of an
// install pass under way), the values of its subkeys records (of temporaries
// alive). After a finished run neither may be left; an empty key may stay.
constexpr char kUpdaterKey[] = "SOFTWARE\\Marrowick\\VrUpdater1030";

struct UpdaterKeyFacts {
  bool present = false;
  std::vector<std::string> marks, records;  // value names; records as "subkey\\value"
};

// Names of the values of key, and (as "subkey\\name") of its subkeys' values,
// up to depth levels down.
void CollectValues(HKEY key, const std::string& prefix, int depth, std::vector<std::string>* out) {
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD length = sizeof name;
    if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    out->push_back(prefix + name);
  }
  if (depth == 0) return;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    win32::RegKey sub;
    if (RegOpenKeyExA(key, name, 0, KEY_READ | testbed::kProductView, sub.put()) == ERROR_SUCCESS)
      CollectValues(sub.get(), prefix + name + "\\", depth - 1, out);
  }
}

UpdaterKeyFacts ReadUpdaterKey() {
  UpdaterKeyFacts f;
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUpdaterKey, 0, KEY_READ | testbed::kProductView,
                    key.put()) != ERROR_SUCCESS)
    return f;
  f.present = true;
  std::vector<std::string> all;
  CollectValues(key.get(), "", 4, &all);
  for (const std::string& name : all)
    (name.find('\\') == std::string::npos ? f.marks : f.records).push_back(name);
  return f;
}

void CheckUpdaterKey(const std::string& want) {
  const UpdaterKeyFacts f = ReadUpdaterKey();
  if (want == "present") {
    Report(f.present, "updater-key: %s (expected present)", f.present ? "present" : "absent");
    return;
  }
  if (want != "absent") {
    Report(false, "updater-key: unknown expectation %s", want.c_str());
    return;
  }
  for (const std::string& m : f.marks) Report(false, "updater-key: mark %s left", m.c_str());
  for (const std::string& r : f.records) Report(false, "updater-key: record %s left", r.c_str());
  Report(!f.present, "updater-key: %s, %u marks, %u records", f.present ? "present" : "absent",
         static_cast<unsigned>(f.marks.size()), static_cast<unsigned>(f.records.size()));
}

// The facts record: the state an interrupted update and the run after it
// are judged by (the kill campaign, tests/e2e/journeys.py).
void PrintFacts(const ProductFolders& folders, const std::vector<ListedFile>& files,
                const std::string& src, const std::string& snapshot) {
  const FileCounts c = CountOldAndNew(files, src, snapshot, false);
  if (!c.haveSnapshot) {
    Report(false, "facts: no snapshot %s", snapshot.c_str());
    return;
  }
  unsigned folderCount = 0;
  std::vector<std::string> temporaries;
  for (const Temporary& t : FindTemporaries(files, &folderCount)) temporaries.push_back(t.path);
  const UpdaterKeyFacts key = ReadUpdaterKey();
  bool asked = false;
  const bool service = ServicePresent(&asked);
  const KeyFileFacts keyFile = ReadKeyFile(folders);
  namespace f = check_record;
  const std::pair<const char*, std::string> fields[] = {
      {f::kFiles, std::to_string(c.files)},
      {f::kUpdated, std::to_string(CountUpdated(files, src, false))},
      {f::kOld, std::to_string(c.oldCount)},
      {f::kNew, std::to_string(c.newCount)},
      {f::kUnstamped, std::to_string(c.unstamped)},
      {f::kPartial, std::to_string(c.partial)},
      {f::kMissing, std::to_string(c.missing)},
      {f::kTemporaries, JsonText(temporaries)},
      {f::kUpdaterKey, key.present ? "true" : "false"},
      {f::kMarks, JsonText(key.marks)},
      {f::kRecords, JsonText(key.records)},
      {f::kService, JsonText(!asked    ? "unknown"
                             : service ? "present"
                                       : "absent")},
      {f::kUninstallName, JsonText(TextOf(ReadValue(kUninstallKey, "DisplayName")))},
      {f::kUninstallVersion, JsonText(TextOf(ReadValue(kUninstallKey, "DisplayVersion")))},
      {f::kKeyFile, JsonText(keyFile.exists && keyFile.haveVersion ? KeyFileText(keyFile) : "")},
  };
  std::string object;
  for (const auto& field : fields)
    object += (object.empty() ? "" : ",") + JsonField(field.first, field.second);
  Fields("," + JsonField(f::kFacts, "{" + object + "}"), "facts: %d files, %d old, %d new", c.files,
         c.oldCount, c.newCount);
}

}  // namespace

int main(int argc, char** argv) {
  std::string list, src;
  ProductFolders folders;
  bool haveFolders = testbed::ReadInstalledFolders(&folders);
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    size_t eq = a.find('=');
    std::string name = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    // Which files apply depends on Windows alone; everything else looks at
    // the installed product.
    if (!haveFolders && name != "list" && name != "src" && name != "count") {
      Report(false, "folders: the product's registry entries are missing");
      haveFolders = true;  // said once
    }
    bool needsList = name == "snapshot" || name == "same" || name == "updated" ||
                     name == "old-or-new" || name == "temporaries" || name == "floor" ||
                     name == "facts" || name == "count";
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
    } else if (name == "count") {
      const size_t n = ListedFiles(list, folders).size();
      Fields("," + JsonField(check_record::kFiles, std::to_string(n)),
             "count: %u files of the list apply to this Windows", static_cast<unsigned>(n));
    } else if (name == "floor") {
      MeasureFloor(ListedFiles(list, folders), src);
    } else if (name == "old-or-new") {
      CheckOldOrNew(ListedFiles(list, folders), src, WindowsPath(value));
    } else if (name == "temporaries" && value == "none") {
      CheckNoTemporaries(ListedFiles(list, folders));
    } else if (name == "key") {
      CheckKey(folders, value);
    } else if (name == "uninstall") {
      CheckUninstall(value);
    } else if (name == "run") {
      CheckRun(value);
    } else if (name == "service") {
      CheckService(value);
    } else if (name == "updater-key") {
      CheckUpdaterKey(value);
    } else if (name == "facts") {
      PrintFacts(folders, ListedFiles(list, folders), src, WindowsPath(value));
    } else {
      fprintf(stderr, "e2e_check: unknown check %s\n", a.c_str());
      return 2;
    }
  }
  return g_failed ? 1 : 0;
}
