// The parsed update list: read once from its text by UpdateList::Parse and
// never changed afterwards. What the list needs of the machine (the product
// folders, the Windows class, the program folder) comes in as plain inputs
// (ListInputs), so this folder asks nothing above win32/. The checks and
// passes over a list live in engine/ (engine/UpdateEngine.h).
#pragma once

#include <windows.h>

#include <stdint.h>
#include <memory>

#include "updatelist/ProductRules.h"
#include "win32/BufferSizes.h"
#include "win32/Platform.h"

class IniFile;

// The product's shared folders as its control library names them: each ends
// in a backslash, or is empty while unknown (the groups there get no
// targets). Room for 259 characters, a backslash and, for the edition
// folder, "\Saffra9\".
struct ProductFolders {
  char common[win32::kLongTextSize] = {};
  char editionCommon[win32::kLongTextSize] = {};
  char sharedLibrary[win32::kLongTextSize] = {};
};

struct VersionEntry {
  char version[win32::kTextSize];  // "Version%d", e.g. "10,2,9,0"
  DWORD length;                    // "Length%d": size of the key file of that version
};

struct UpdateFile {
  char targetPath[win32::kPathSize];  // empty when the list path has no file name
  DWORD timeLow;                      // "PathTimeL%d"
  DWORD timeHigh;                     // "PathTimeH%d"
  int32_t registerServer;             // "RegSvr%d"
  // What the expanded file must be, where the list says so ("Size%d",
  // "Hash%d": SHA-256 in hexadecimal); lists without them are not checked.
  bool hasSize;
  DWORD expandedSize;
  bool hasDigest;
  uint8_t digest[32];
};

struct UpdateGroup {
  int32_t fileCount;
  std::unique_ptr<UpdateFile[]> files;
  int32_t keyNumber;                  // "KeyNo"; 999: the file named like "KeyFile"
  char keyVersion[win32::kTextSize];  // "KeyVersion"
  char name[win32::kTextSize];        // "Name"
  char os[win32::kTextSize];          // "OS"
  char folderText[win32::kPathSize];  // "Install Path"; the resolved folder for "driver"/"SYS"
  bool existOnly;                     // "Exist" not 0: only files already installed are replaced
  bool redirectionOff;                // its files lie in the real 64-bit system folder
};

// What the loader needs of the machine, handed in by whoever loads.
struct ListInputs {
  const ProductFolders& folders;
  OsClass osClass;
  // The product's program folder, ending in a backslash ("" when unknown:
  // its groups get no targets).
  const char* programFolder;
};

// Fills out (a path) for one file of a list over inputs; false when the
// path cannot be composed within kPathLength characters (out is then
// empty). Creates the virtual drive's folder when kind names it.
bool BuildTargetPath(const char* listPath, const char* folderText, FolderKind kind,
                     const ListInputs& inputs, char* out, size_t capacity);
FolderKind KindOfInstallPath(const char* installPath);

class UpdateList {
 public:
  UpdateList() = default;  // the empty list: no groups, nothing loaded
  UpdateList(UpdateList&&) = default;
  UpdateList& operator=(UpdateList&&) = default;
  UpdateList(const UpdateList&) = delete;
  UpdateList& operator=(const UpdateList&) = delete;

  // The list from its text (the store entry); an empty list when the text
  // is not a whole list.
  static UpdateList Parse(const char* text, DWORD size, const ListInputs& inputs);

  // Files read (at most 0x7FFFFFFF); 0: not loadable or empty.
  int32_t fileTotal() const { return fileTotal_; }
  int32_t versionCount() const { return versionCount_; }
  const VersionEntry& version(int32_t index) const;
  const char* keyFile() const { return keyFile_; }
  const char* keyPath() const { return keyPath_; }
  const char* programFolder() const { return programFolder_; }
  int32_t groupCount() const { return groupCount_; }
  // An index outside the list is a programmer error: both stop the
  // program rather than read beside the tables.
  const UpdateGroup& group(int32_t index) const;
  const UpdateFile& file(int32_t group, int32_t file) const;
  // True when path's file name is the list's "KeyFile" (ASCII case ignored).
  bool IsKeyFile(const char* path) const;

 private:
  // Steps of Parse. "General": key path, key file and the version table;
  // false when it cannot be read whole.
  bool LoadGeneral(const IniFile& ini);
  // Every "Group<d>" section; *total counts the files. False when a group
  // cannot be read whole or memory runs out.
  bool LoadGroups(const IniFile& ini, const ListInputs& inputs, int64_t* total);
  // Reads section "Group<index>" into groups_[index]; false when a target
  // cannot be composed within the path length.
  bool LoadGroup(const IniFile& ini, const ListInputs& inputs, int32_t index, int64_t* total);
  // The system directory with a backslash, plus "drivers\" (NT) or
  // "IOSUBSYS\" (9x) for the driver folder; false when it does not fit.
  static bool ResolveSystemFolder(bool driver, char* folder, size_t capacity);

  int32_t fileTotal_ = 0;
  int32_t versionCount_ = 0;
  std::unique_ptr<VersionEntry[]> versions_;
  char keyFile_[win32::kLongTextSize] = {};
  char keyPath_[win32::kLongTextSize] = {};
  int32_t groupCount_ = 0;
  std::unique_ptr<UpdateGroup[]> groups_;
  char programFolder_[win32::kLongTextSize] = {};
};
