// The update list: the model read from the list's text, the target path of
// every file, and the checked way into its tables.
#include "updatelist/UpdateList.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

#include "updatelist/IniFile.h"
#include "win32/AsciiCase.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/Paths.h"
#include "win32/Sha256.h"

namespace {

constexpr size_t kTargetCapacity = sizeof(UpdateFile::targetPath);
constexpr const char* kVirtualDriveFolder = "virtualQuirra\\Vista";

// Tables sized by counts from the list. A count of nothing, or one whose
// table would be larger than any 32-bit process could hold, is taken as a
// table of nothing (a group without files), the same in both builds.
constexpr uint64_t kLargestTable = 0x7FFFFFFF;
template <typename T>
bool IsAbsurdCount(int32_t count) {
  return count <= 0 || static_cast<uint64_t>(count) * sizeof(T) > kLargestTable;
}
// The table of a sensible count; null when memory is not there (never an
// exception): the list then cannot be loaded as a whole.
template <typename T>
std::unique_ptr<T[]> MakeTable(int32_t count) {
  if (IsAbsurdCount<T>(count)) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

// Calls visit(d) for every index d below count that a name "<prefix><d>"
// of the name list carries (the prefix compared without regard to ASCII
// case, d decimal), in ascending order, each once; stops when visit returns
// false. Entries whose names are absent have no key at all and keep their
// defaults, so a list with an absurd count costs no more reads than it has
// lines.
template <typename Visit>
bool ForEachPresentIndex(const char* names, const char* const* prefixes, size_t prefixCount,
                         int32_t count, Visit visit) {
  std::vector<int32_t> indices;
  for (const char* name = names; *name != '\0'; name += strlen(name) + 1) {
    for (size_t i = 0; i < prefixCount; ++i) {
      if (!win32::StartsWithIgnoringAsciiCase(name, prefixes[i])) continue;
      const char* digits = name + strlen(prefixes[i]);
      if (*digits < '0' || *digits > '9') continue;
      unsigned long index = strtoul(digits, nullptr, 10);
      if (index < static_cast<unsigned long>(count)) {
        // Without memory for the index the list cannot be read as a whole.
        try {
          indices.push_back(static_cast<int32_t>(index));
        } catch (const std::bad_alloc&) {
          return false;
        }
      }
    }
  }
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  for (int32_t index : indices) {
    if (!visit(index)) return false;
  }
  return true;
}

// Reads a text value of the list whole: false when it is longer than
// capacity - 1 characters, which would otherwise be cut silently. A missing
// value reads as empty.
bool GetWholeString(const IniFile& ini, const char* section, const char* key, char* out,
                    DWORD capacity) {
  char text[1024] = {};
  if (capacity == 0 || capacity >= sizeof text) return false;
  if (ini.GetString(section, key, text, capacity + 1) >= static_cast<int32_t>(capacity)) {
    out[0] = '\0';
    return false;
  }
  return win32::CopyText(out, capacity, text);
}

// True when a segment of a folder text (between backslashes) is only dots
// and blanks: Windows reads "." and ".." (and what trims to them) as moves
// within the folder tree, never as a folder name.
bool IsDotSegment(const char* begin, const char* end) {
  bool dot = false;
  for (const char* p = begin; p < end; ++p) {
    if (*p == '.') {
      dot = true;
    } else if (*p != ' ') {
      return false;
    }
  }
  return dot;
}

// A group's folder below the program folder: refused when it could lead out
// of it ("..", a drive, a root) or be read differently ("/").
bool IsSafeFolderText(const char* text) {
  if (text[0] == '\\') return false;
  const char* segment = text;
  for (const char* p = text;; p = CharNextA(p)) {
    if (*p == '/' || *p == ':') return false;
    if (*p == '\\' || *p == '\0') {
      if (IsDotSegment(segment, p)) return false;
      if (*p == '\0') return true;
      segment = p + 1;
    }
  }
}

// The file name of a list path: no separator of another kind, no drive, no
// move within the folder tree.
bool IsSafeFileName(const char* name) {
  if (strchr(name, '/') || strchr(name, ':')) return false;
  return !IsDotSegment(name, name + strlen(name));
}

}  // namespace

namespace {

// An index outside the tables: a fault of the calling code, never of the
// list's text. Nothing sensible can follow.
[[noreturn]] void IndexOutsideList() { abort(); }

}  // namespace

const VersionEntry& UpdateList::version(int32_t index) const {
  if (index < 0 || index >= versionCount_) IndexOutsideList();
  return versions_[index];
}

const UpdateGroup& UpdateList::group(int32_t index) const {
  if (index < 0 || index >= groupCount_) IndexOutsideList();
  return groups_[index];
}

const UpdateFile& UpdateList::file(int32_t groupIndex, int32_t fileIndex) const {
  const UpdateGroup& g = group(groupIndex);
  if (fileIndex < 0 || fileIndex >= g.fileCount) IndexOutsideList();
  return g.files[fileIndex];
}

bool UpdateList::IsKeyFile(const char* path) const {
  // An empty path or list name never names the key file.
  if (!path || !path[0] || !keyFile_[0]) return false;
  const char* name = win32::AfterLastBackslash(path);
  return lstrcmpiA(name ? name : path, keyFile_) == 0;
}

FolderKind KindOfInstallPath(const char* installPath) {
  const product_rules::InstallPathKeyword* keyword =
      product_rules::FindInstallPathKeyword(installPath);
  return keyword ? keyword->kind : FolderKind::Program;
}

bool BuildTargetPath(const char* listPath, const char* folderText, FolderKind kind,
                     const ListInputs& inputs, char* out, size_t capacity) {
  const char* programFolder = inputs.programFolder ? inputs.programFolder : "";
  if (!out || capacity == 0) return false;
  out[0] = '\0';
  if (capacity > kTargetCapacity) capacity = kTargetCapacity;
  if (!listPath || listPath[0] == '\0') return true;
  // Only the file name counts; the build machine's folders mean nothing here.
  const char* name = win32::AfterLastBackslash(listPath);
  if (!name || name[0] == '\0') return true;

  char folder[kTargetCapacity] = {};
  bool fits = true;
  switch (kind) {
    case FolderKind::Program:
      if (programFolder[0] != '\0') {
        fits = win32::CopyText(folder, sizeof folder, programFolder) &&
               (!folderText || win32::AppendText(folder, sizeof folder, folderText));
      }
      break;
    case FolderKind::System:
      if (folderText) fits = win32::CopyText(folder, sizeof folder, folderText);
      break;
    case FolderKind::SharedLibrary:
      fits = win32::CopyText(folder, sizeof folder, inputs.folders.sharedLibrary);
      break;
    case FolderKind::Common:
      fits = win32::CopyText(folder, sizeof folder, inputs.folders.common);
      break;
    case FolderKind::EditionCommon:
      fits = win32::CopyText(folder, sizeof folder, inputs.folders.editionCommon);
      break;
    case FolderKind::VirtualDrive:
      if (programFolder[0] != '\0') {
        fits =
            win32::FormatText(folder, sizeof folder, "%s%s\\", programFolder, kVirtualDriveFolder);
      }
      break;
  }
  if (!fits) return false;
  // A folder that is not known gives no target: an empty folder would put
  // the file into the root of the current drive.
  if (folder[0] == '\0') return true;
  if (!win32::AppendBackslashIfMissing(folder, sizeof folder) ||
      !win32::FormatText(out, capacity, "%s%s", folder, name)) {
    out[0] = '\0';
    return false;
  }
  if (kind == FolderKind::VirtualDrive) {
    // The driver's folder is created here, one level under the program
    // folder, so the install pass finds it.
    char virtualFolder[kTargetCapacity] = {};
    if (win32::FormatText(virtualFolder, sizeof virtualFolder, "%s%s", programFolder,
                          kVirtualDriveFolder)) {
      DWORD attributes = GetFileAttributesA(virtualFolder);
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CreateDirectoryA(virtualFolder, nullptr);
      }
    }
  }
  return true;
}

UpdateList UpdateList::Parse(const char* text, DWORD size, const ListInputs& inputs) {
  UpdateList list;
  IniFile ini(text, size);
  if (ini.Parse() != IniFile::ParseResult::Ready) return list;
  if (!win32::CopyText(list.programFolder_, sizeof list.programFolder_,
                       inputs.programFolder ? inputs.programFolder : "")) {
    return UpdateList();
  }
  int64_t total = 0;
  if (!list.LoadGeneral(ini) || !list.LoadGroups(ini, inputs, &total)) return UpdateList();
  list.fileTotal_ = total > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(total);
  return list;
}

bool UpdateList::LoadGeneral(const IniFile& ini) {
  versionCount_ = ini.GetInt("General", "Versions", 0);
  if (!GetWholeString(ini, "General", "KeyPath", keyPath_, win32::kPathLength) ||
      !GetWholeString(ini, "General", "KeyFile", keyFile_, win32::kPathLength)) {
    return false;
  }
  versions_ = MakeTable<VersionEntry>(versionCount_);
  if (!versions_) {
    if (!IsAbsurdCount<VersionEntry>(versionCount_)) return false;  // out of memory
    versionCount_ = 0;
  }
  if (versionCount_ <= 0) return true;
  static const char* const kVersionKeys[] = {"Version", "Length"};
  std::unique_ptr<char[]> names;
  const bool whole =
      ini.GetKeyNames("General", names) &&
      ForEachPresentIndex(names.get(), kVersionKeys, 2, versionCount_, [&](int32_t d) {
        char key[32];
        win32::FormatText(key, sizeof key, "Version%d", d);
        if (!GetWholeString(ini, "General", key, versions_[d].version, win32::kTextReadSize))
          return false;
        win32::FormatText(key, sizeof key, "Length%d", d);
        versions_[d].length = ini.GetDword("General", key, 0);
        return true;
      });
  return whole;
}

bool UpdateList::LoadGroups(const IniFile& ini, const ListInputs& inputs, int64_t* total) {
  const int32_t declaredGroups = ini.GetInt("General", "Group", 0);
  groups_ = MakeTable<UpdateGroup>(declaredGroups);
  if (!groups_ && !IsAbsurdCount<UpdateGroup>(declaredGroups)) return false;  // out of memory
  groupCount_ = groups_ ? declaredGroups : 0;
  if (groupCount_ <= 0) return true;
  static const char* const kGroupSections[] = {"Group"};
  std::unique_ptr<char[]> names;
  if (!ini.GetSectionNames(names)) return false;  // out of memory
  // A target that does not fit must not be dropped silently: an empty key
  // file target would let its group through without a version check.
  return ForEachPresentIndex(names.get(), kGroupSections, 1, groupCount_,
                             [&](int32_t g) { return LoadGroup(ini, inputs, g, total); });
}

bool UpdateList::LoadGroup(const IniFile& ini, const ListInputs& inputs, int32_t index,
                           int64_t* total) {
  char section[32];
  win32::FormatText(section, sizeof section, "Group%d", index);
  UpdateGroup& group = groups_[index];
  // Texts are read whole or the list is refused; so is a folder that could
  // lead out of the product's folder.
  if (!GetWholeString(ini, section, "Name", group.name, win32::kTextReadSize) ||
      !GetWholeString(ini, section, "KeyVersion", group.keyVersion, win32::kTextReadSize) ||
      !GetWholeString(ini, section, "OS", group.os, win32::kTextReadSize) ||
      !GetWholeString(ini, section, "Install Path", group.folderText, win32::kPathSize) ||
      !IsSafeFolderText(group.folderText)) {
    return false;
  }
  group.keyNumber = ini.GetInt(section, "KeyNo", 0);
  group.existOnly = ini.GetInt(section, "Exist", 0) != 0;

  const product_rules::InstallPathKeyword* keyword =
      product_rules::FindInstallPathKeyword(group.folderText);
  const FolderKind kind = keyword ? keyword->kind : FolderKind::Program;
  if (kind == FolderKind::System) {
    const bool driver = keyword->driverFolder;
    group.folderText[0] = '\0';
    if (!ResolveSystemFolder(driver, group.folderText, sizeof group.folderText)) return false;
    group.redirectionOff = IsSixtyFourBitClass(inputs.osClass);
  }

  const int32_t declaredFiles = ini.GetInt(section, "Files", 0);
  group.files = MakeTable<UpdateFile>(declaredFiles);
  // No table: a group without files, unless memory ran out for a real one.
  if (!group.files) return IsAbsurdCount<UpdateFile>(declaredFiles);
  group.fileCount = declaredFiles;
  *total += declaredFiles;

  static const char* const kFileKeys[] = {"Path",   "PathTimeL", "PathTimeH",
                                          "RegSvr", "Size",      "Hash"};
  std::unique_ptr<char[]> names;
  if (!ini.GetKeyNames(section, names)) return false;  // out of memory
  return ForEachPresentIndex(names.get(), kFileKeys, 6, declaredFiles, [&](int32_t d) {
    char key[32];
    char listPath[win32::kPathSize + 1] = {};
    UpdateFile& file = group.files[d];
    win32::FormatText(key, sizeof key, "Path%d", d);
    if (!GetWholeString(ini, section, key, listPath, win32::kPathSize)) return false;
    const char* name = win32::AfterLastBackslash(listPath);
    if (!IsSafeFileName(name ? name : listPath)) return false;
    if (!BuildTargetPath(listPath, group.folderText, kind, inputs, file.targetPath,
                         sizeof file.targetPath)) {
      return false;
    }
    // What the expanded file must be: its length and SHA-256. A digest that
    // is there but unreadable refuses the list rather than checking nothing.
    win32::FormatText(key, sizeof key, "Size%d", d);
    char text[80] = {};
    if (ini.GetString(section, key, text, sizeof text) > 0) {
      file.hasSize = true;
      file.expandedSize = ini.GetDword(section, key, 0);
    }
    win32::FormatText(key, sizeof key, "Hash%d", d);
    text[0] = '\0';
    if (ini.GetString(section, key, text, sizeof text) > 0) {
      if (!win32::ParseDigest(text, file.digest)) return false;
      file.hasDigest = true;
    }
    win32::FormatText(key, sizeof key, "PathTimeL%d", d);
    file.timeLow = ini.GetDword(section, key, 0);
    win32::FormatText(key, sizeof key, "PathTimeH%d", d);
    file.timeHigh = ini.GetDword(section, key, 0);
    win32::FormatText(key, sizeof key, "RegSvr%d", d);
    file.registerServer = ini.GetInt(section, key, 0);
    return true;
  });
}

bool UpdateList::ResolveSystemFolder(bool driver, char* folder, size_t capacity) {
  folder[0] = '\0';
  char system[MAX_PATH] = {};
  // Without a system directory the group's targets stay empty.
  if (!win32::SystemFolder(system, sizeof system)) return true;
  const char* subfolder = driver ? (IsNtPlatform() ? "drivers\\" : "IOSUBSYS\\") : "";
  return win32::SystemFilePath(folder, capacity, subfolder);
}
