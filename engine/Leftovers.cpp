#include "engine/Leftovers.h"

#include <string.h>

#include "engine/GroupRules.h"
#include "updatelist/UpdateList.h"
#include "win32/AdminOnlyKey.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/DynamicCalls.h"
#include "win32/KillPoint.h"
#include "win32/Paths.h"
#include "win32/Platform.h"
#include "win32/UniqueHandle.h"

namespace {

// Deletes path, a read-only one too; true when it is gone.
bool DeleteIfThere(const char* path) {
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

namespace leftovers {
namespace {

// The maker's key above the updater's: created when missing (with the
// security it inherits), never removed.
constexpr char kMakerKey[] = "SOFTWARE\\Marrowick";
constexpr char kUpdaterSubkey[] = "VrUpdater1030";
constexpr char kRecordSubkey[] = "Leftovers";

// Bound on the records looked at in one settlement, so that a damaged key
// cannot keep the start busy.
constexpr DWORD kMaxRecords = 4096;
// The longest value name the registry holds (16,383 characters) and its
// zero: every record can be named, so that one too long to be ours is
// dropped as well.
constexpr DWORD kValueNameCapacity = 16384;
// A record's data: the mark, a target of at most MAX_PATH - 1 characters and
// the zero; anything longer is not ours.
constexpr DWORD kRecordDataCapacity = MAX_PATH + 1;

const char* MarkName(Mark mark) {
  switch (mark) {
    case Mark::UpdateUnfinished:
      return "UpdateUnfinished";
    case Mark::ServiceRemoved:
      return "ServiceRemoved";
  }
  return "";
}

// The updater's key for administrators only: made when create says so,
// otherwise only opened when it is there.
bool OpenUpdaterKey(bool create, win32::RegKey& key) {
  if (!create) return win32::OpenAdminOnlyKey(HKEY_LOCAL_MACHINE, kUpdaterKey, key);
  win32::RegKey maker;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMakerKey, 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr,
                      maker.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return win32::CreateAdminOnlyKey(maker.get(), kUpdaterSubkey, key);
}

// The record key below it, the same way.
bool OpenRecordKey(bool create, win32::RegKey& key) {
  win32::RegKey updater;
  if (!OpenUpdaterKey(create, updater)) return false;
  return create ? win32::CreateAdminOnlyKey(updater.get(), kRecordSubkey, key)
                : win32::OpenAdminOnlyKey(updater.get(), kRecordSubkey, key);
}

// Deletes HKEY_LOCAL_MACHINE\subkey when it holds neither values nor
// subkeys (the 9x family would delete subkeys with it).
void DeleteKeyIfEmpty(const char* subkey) {
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
      subkeys != 0 || values != 0)
    return;
  key.reset();
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, subkey);
}

// The updater writes nothing of its own that outlives the need: the record
// key goes when empty, then the updater's key; the maker's key stays.
void RemoveOwnKeysIfEmpty() {
  DeleteKeyIfEmpty(kRecordKey);
  DeleteKeyIfEmpty(kUpdaterKey);
}

// Compares count characters of text with ascii (in small letters), ignoring
// the case of text's ASCII letters; a zero in ascii must meet text's end.
bool SameAsciiNoCase(const char* text, const char* ascii, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != ascii[i]) return false;
    if (c == '\0') return true;
  }
  return true;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The names GetTempFileNameA gives with the prefix "tmp": "tmp", the low 16
// bits of its number in hexadecimal without leading zeros (one to four
// digits), ".tmp". Windows writes capital digits, Wine small ones, and the
// file system ignores the case; anything else (a fifth digit, a trailing dot
// or blank that Windows would strip) is no name of ours.
bool IsTemporaryName(const char* name) {
  if (!SameAsciiNoCase(name, "tmp", 3)) return false;
  const char* p = name + 3;
  int digits = 0;
  while (digits <= 4 && IsHexDigit(*p)) {
    ++p;
    ++digits;
  }
  return digits >= 1 && digits <= 4 && SameAsciiNoCase(p, ".tmp", 5);
}

// Path texts that name the same thing for the file system: of equal length
// and equal but for case, compared as Windows compares names (string sort,
// so no character is weighed specially). Never a prefix of the other.
bool SamePathText(const char* a, size_t aLength, const char* b, size_t bLength) {
  return aLength == bLength && aLength < 0x7FFFFFFF &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a,
                        static_cast<int>(aLength), b, static_cast<int>(bLength)) == CSTR_EQUAL;
}

// Length of the folder part of path, up to and with its last backslash
// (code page aware); 0 when it has none.
size_t FolderLength(const char* path) {
  const char* name = win32::AfterLastBackslash(path);
  return name ? static_cast<size_t>(name - path) : 0;
}

// A record's data as the updater writes it: REG_SZ, terminated, no longer
// than a mark and a path. Fills data; *redirectionOff and *restoreTo are read
// from it.
bool ReadRecordData(const win32::RegKey& key, const char* name, char* data, bool* redirectionOff,
                    const char** restoreTo) {
  DWORD type = 0;
  DWORD size = kRecordDataCapacity;
  if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ || size == 0 || size > kRecordDataCapacity || data[size - 1] != '\0' ||
      strlen(data) != size - 1)
    return false;
  *redirectionOff = data[0] == kRedirectionOffMark;
  *restoreTo = data + (*redirectionOff ? 1 : 0);
  return true;
}

// True when the updater itself could have recorded path: a temporary's name
// directly in the program folder or in a folder of the list's targets, made
// in the view its mark says (a folder that only groups with WOW64 redirection
// off give is written only with it off), and for a moved-aside copy a target
// of the list in the same folder, which *target then names (null for a plain
// temporary).
bool IsOwnRecord(const UpdateList& list, OsClass osClass, const char* path, bool redirectionOff,
                 const char* restoreTo, const char** target) {
  *target = nullptr;
  const size_t folderLength = FolderLength(path);
  if (folderLength == 0 || !IsTemporaryName(path + folderLength)) return false;
  bool known = false;
  bool writtenRedirected = false;  // a folder written with redirection on
  char program[win32::kLongTextSize + 1] = {};
  if (win32::CopyText(program, sizeof program, list.programFolder()) && program[0] != '\0' &&
      win32::AppendBackslashIfMissing(program, sizeof program) &&
      SamePathText(path, folderLength, program, strlen(program))) {
    known = writtenRedirected = true;  // the write probe
  }
  const size_t restoreLength = strlen(restoreTo);
  for (int32_t g = 0; g < list.groupCount(); ++g) {
    const UpdateGroup& group = list.group(g);
    for (int32_t f = 0; f < group.fileCount; ++f) {
      const char* candidate = group.files[f].targetPath;
      const size_t candidateFolder = FolderLength(candidate);
      if (candidateFolder == 0 || !SamePathText(path, folderLength, candidate, candidateFolder))
        continue;
      known = true;
      // Written in the view the passes write the group in: the one decision
      // of the product's rules.
      if (!group_rules::FilesInRealSystemFolder(group, osClass)) writtenRedirected = true;
      if (restoreLength > 0 &&
          SamePathText(restoreTo, restoreLength, candidate, strlen(candidate))) {
        *target = candidate;
      }
    }
  }
  if (!known || (!redirectionOff && !writtenRedirected)) return false;
  return restoreLength == 0 || *target != nullptr;
}

// Settles one record in the view it was made in; true when its file is dealt
// with and the record can go. target is the list's target of an aside copy.
bool Settle(const char* path, const char* target, bool redirectionOff) {
  ScopedRedirectionOff view(redirectionOff);
  if (target && !FileExists(target) && FileExists(path)) {
    // The run was killed between moving the installed copy aside and moving
    // the new one in: the installed copy goes back.
    return MoveFileA(path, target) != FALSE;
  }
  return DeleteIfThere(path);
}

}  // namespace

bool Record(const char* path, const char* restoreTo) {
  if (!path || path[0] == '\0') return false;
  char data[kRecordDataCapacity] = {};
  if (win32::InRedirectionOffSpan()) data[0] = kRedirectionOffMark;
  if (restoreTo && !win32::AppendText(data, sizeof data, restoreTo)) return false;
  win32::RegKey key;
  if (!OpenRecordKey(true, key)) return false;
  // On the disc before the file it names is made use of: a power cut must
  // not lose the record of a file that is already there.
  return RegSetValueExA(key.get(), path, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                        static_cast<DWORD>(strlen(data) + 1)) == ERROR_SUCCESS &&
         RegFlushKey(key.get()) == ERROR_SUCCESS;
}

void Forget(const char* path) {
  if (!path || path[0] == '\0') return;
  win32::RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key.get(), path);
  key.reset();
  RemoveOwnKeysIfEmpty();
}

bool ClaimRecordedName(const char* folder, const char* restoreTo, bool create, char* out,
                       size_t capacity) {
  if (!out || capacity == 0) return false;
  out[0] = '\0';
  // GetTempFileNameA takes a folder of at most MAX_PATH - 14 characters, so
  // that its "tmpXXXX.tmp" fits; some systems accept a longer one and then
  // name a file other than the one they hand back.
  if (!folder || folder[0] == '\0' || strlen(folder) > MAX_PATH - 14) return false;
  // Numbers as GetTempFileNameA draws them when asked for a new file: from
  // the clock on, one after another, never 0.
  static WORD next = 0;
  if (next == 0) next = static_cast<WORD>(GetTickCount());
  for (DWORD attempt = 0; attempt < 0x10000; ++attempt) {
    const WORD unique = next++;
    if (unique == 0) continue;
    char name[MAX_PATH + 1] = {};
    // With a number given, GetTempFileNameA only composes the name.
    if (GetTempFileNameA(folder, "tmp", unique, name) == 0) return false;
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) continue;
    if (!win32::CopyText(out, capacity, name)) return false;
    Record(out, restoreTo);
    VR_KILL_POINT("temporary: recorded, not made");
    if (!create) return true;
    win32::FileHandle file(
        CreateFileA(out, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return true;
    const DWORD error = GetLastError();
    Forget(out);
    out[0] = '\0';
    // Somebody took the name since it was looked at: the next one.
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

void SetMark(Mark mark, bool set) {
  win32::RegKey key;
  if (set) {
    const DWORD one = 1;
    if (OpenUpdaterKey(true, key) &&
        RegSetValueExA(key.get(), MarkName(mark), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                       sizeof one) == ERROR_SUCCESS)
      RegFlushKey(key.get());
    return;
  }
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUpdaterKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
    return;
  if (RegDeleteValueA(key.get(), MarkName(mark)) == ERROR_SUCCESS) RegFlushKey(key.get());
  key.reset();
  RemoveOwnKeysIfEmpty();
}

bool HasMark(Mark mark) {
  win32::RegKey key;
  if (!OpenUpdaterKey(false, key)) return false;
  DWORD value = 0, type = 0, size = sizeof value;
  return RegQueryValueExA(key.get(), MarkName(mark), nullptr, &type,
                          reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof value && value == 1;
}

bool AnyRecords() {
  win32::RegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_QUERY_VALUE, key.put()) ==
         ERROR_SUCCESS;
}

int RemoveEarlierLeftovers(const UpdateList& list, OsClass osClass) {
  int settled = 0;
  win32::RegKey key;
  // No records, or a key whose security cannot be made the updater's own:
  // nothing in it is acted upon.
  if (OpenRecordKey(false, key)) {
    char name[kValueNameCapacity];
    char data[kRecordDataCapacity];
    DWORD index = 0;
    for (DWORD seen = 0; seen < kMaxRecords; ++seen) {
      DWORD nameLength = sizeof name;
      const LONG r =
          RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r != ERROR_SUCCESS) {  // cannot even be named: left as it is
        ++index;
        continue;
      }
      // A record the updater cannot have written is dropped, not acted upon.
      bool drop = true;
      bool redirectionOff = false;
      const char* restoreTo = nullptr;
      const char* target = nullptr;
      if (ReadRecordData(key, name, data, &redirectionOff, &restoreTo) &&
          IsOwnRecord(list, osClass, name, redirectionOff, restoreTo, &target)) {
        drop = Settle(name, target, redirectionOff);
        if (drop) ++settled;
      }
      if (drop && RegDeleteValueA(key.get(), name) == ERROR_SUCCESS) continue;
      ++index;  // kept for the next start
    }
    key.reset();
  }
  RemoveOwnKeysIfEmpty();
  return settled;
}

}  // namespace leftovers

RecordedTemporary::~RecordedTemporary() { Remove(); }

bool RecordedTemporary::MakeIn(const char* folder) {
  Remove();
  return leftovers::ClaimRecordedName(folder, nullptr, true, path_, sizeof path_);
}

bool RecordedTemporary::MakeBeside(const char* path) {
  Remove();
  // The folder of path, with its final backslash; a path without a folder
  // would put the temporary into the current directory, which is never meant.
  char folder[MAX_PATH + 1];
  return path && win32::FolderOf(path, folder, sizeof folder) && MakeIn(folder);
}

void RecordedTemporary::Dismiss() {
  leftovers::Forget(path_);
  path_[0] = '\0';
}

void RecordedTemporary::Remove() {
  if (path_[0] == '\0') return;
  // A temporary that cannot be deleted now keeps its record: the next start
  // tries again.
  if (DeleteIfThere(path_)) leftovers::Forget(path_);
  path_[0] = '\0';
}
