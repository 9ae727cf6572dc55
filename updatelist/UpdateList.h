// The parsed update list and the run state around it. An UpdateList is a
// local object of one check or update run: it owns the list's tables and
// reads the facts of the machine (Windows class, driver state, product
// folders, LZ32) from the product environment it is made with
// (engine/ProductEnvironment.h), which outlives it.
//
// Its operations live in several files by concern:
//   updatelist/UpdateList.cpp    the list read from its text, ClearList, targets
//   engine/ListLoading.cpp       construction, LoadList (the store's list)
//   engine/GroupCheck.cpp        CheckGroup, key file, sound set
//   engine/InstallPasses.cpp     CountApplicableFiles, Install*, Register*
//   engine/ReplaceFile.cpp       ReplaceFile
//   engine/InUseChecks.cpp       PreflightInUse, CheckAllGroups and helpers
#pragma once

#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileA; the list's own ReplaceFile
// keeps its name (the system call is never used here).
#ifdef ReplaceFile
#undef ReplaceFile
#endif

#include <stdint.h>
#include <memory>

#include "updatelist/ProductRules.h"
#include "win32/BufferSizes.h"
#include "win32/Platform.h"

class IniFile;
class ProductEnvironment;
class UserPort;
enum class Message;

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

enum GroupVerdict : int32_t {
  kSkip = 0,
  kApply = 1,
  kInstalledNewer = 2,
  kNothingToUpdate = 4,
  kDeclined = 5,
};

// The sound-effect filter set of the product, by its filter count; the
// values are those the behaviour is defined with.
enum class SoundEffectSet : int32_t { None = 0, Full = 1, Entry = 2 };

// What the quick in-use scan of the Start button found.
enum class PreflightResult : int32_t {
  NothingInUse = 0,
  NoProgramFolder = -1,
  FolderNotWritable = -2,
  FileInUse = -3,
};

// The direction of a registration pass over the list's COM servers.
enum class RegistrationPass : int32_t { Unregister = 0, Register = 1 };

// How one ReplaceFile ended; the list counts failures so the driver can tell
// a complete update from one that left files behind.
enum class ReplaceOutcome { Replaced, Skipped, Failed };

class UpdateList {
 public:
  // An empty list over a detected environment; asks nothing of the machine.
  explicit UpdateList(const ProductEnvironment& environment);
  ~UpdateList();
  UpdateList(const UpdateList&) = delete;
  UpdateList& operator=(const UpdateList&) = delete;

  // --- set by the update driver before the list is used ---
  // Where the checks ask their questions; without one they ask through
  // ShowUpdaterMessage (system/MessageBoxes.h) directly.
  void SetPort(UserPort* port) { port_ = port; }
  void SetResumeRun(bool resume) { resumeRun_ = resume; }
  // An earlier run ended inside its install pass: the key file may be new
  // among old files, and finishing that update asks no re-update question.
  void SetFinishingInterruptedUpdate(bool finishing) { finishingInterrupted_ = finishing; }
  bool finishingInterruptedUpdate() const { return finishingInterrupted_; }

  // --- the list (updatelist/UpdateList.cpp) ---
  int32_t LoadList();  // total files read; 0: not loadable or empty
  void ClearList();
  // Fills out (a path) for one file; false when the path cannot be
  // composed within kPathLength characters (out is then empty).
  bool BuildTargetPath(const char* listPath, const char* folderText, FolderKind kind, char* out,
                       size_t capacity);
  UpdateFile* GetFileEntry(int32_t group, int32_t file);
  static FolderKind KindOfInstallPath(const char* installPath);

  // --- group selection and passes (engine/GroupCheck.cpp, InstallPasses.cpp) ---
  GroupVerdict CheckGroup(int32_t group, bool interactive, bool* needsRedirectionOff);
  int32_t CountApplicableFiles();
  // The passes report to port (none: nothing is reported) against total
  // files; a report answered false stops the install pass.
  int32_t InstallAll(UserPort* port, int32_t total);
  int32_t InstallGroup(int32_t group, UserPort* port, int32_t total);
  int32_t RegisterAll(RegistrationPass pass, UserPort* port, int32_t total, UINT messageId);
  int32_t RegisterGroup(int32_t group, RegistrationPass pass, UserPort* port, int32_t total,
                        UINT messageId);
  SoundEffectSet ProbeSoundEffectSet(const char* libraryPath);
  int32_t FindKeyFile(int32_t group);
  bool IsKeyFile(const char* path) const;
  bool KeyFileMatchesLength(int32_t group, int32_t file);

  // --- file replacement (engine/ReplaceFile.cpp) ---
  int32_t ReplaceFile(int32_t group, int32_t file, bool existOnly);

  // --- in-use checks (engine/InUseChecks.cpp) ---
  PreflightResult PreflightInUse();
  int32_t ScanGroupInUse(int32_t group);
  int32_t IsPayloadFileBusy(int32_t group, int32_t file, bool redirectionOff);
  int32_t CheckAllGroups(bool testInUse);
  int32_t CheckGroupFiles(int32_t group, bool testInUse);
  int32_t CheckFileFree(int32_t group, int32_t file, bool testInUse);
  int32_t CanWriteProgramFolder();
  static int32_t CanOpenKeyForWrite(const char* subkey);

  // --- state that the driver and tests read ---
  GroupVerdict lastVerdict() const { return lastVerdict_; }
  int32_t failedFiles() const { return failedFiles_; }  // ReplaceOutcome::Failed this list
  // The target the last in-use check found held ("" when none), for the trace.
  const char* busyFile() const { return busyFile_; }
  ReplaceOutcome lastReplaceOutcome() const { return lastReplaceOutcome_; }
  // Expansions through LZ32 that the last ReplaceFile made (0 to 5).
  int lastExpansions() const { return lastExpansions_; }
  OsClass GetOsClass() const { return osClass_; }
  const ProductEnvironment& environment() const { return environment_; }

  // --- the parsed list; read by the passes and by tests ---
  int32_t versionCount = 0;
  std::unique_ptr<VersionEntry[]> versions;
  char keyFile[win32::kLongTextSize] = {};
  char keyPath[win32::kLongTextSize] = {};
  int32_t groupCount = 0;
  std::unique_ptr<UpdateGroup[]> groups;
  char programFolder[win32::kLongTextSize] = {};

  // --- engine run flags ---
  int32_t doneCount = 0;
  bool abort = false;
  bool reporting = false;
  bool reupdateConfirmed = false;

 private:
  // Steps of LoadList. "General": key path, key file and the version table;
  // false (the list cleared unless memory ran out) when it cannot be read whole.
  // The list from its text (the store entry); total files read, 0 when the
  // text is not a whole list (the list is then empty).
  int32_t LoadFromText(const char* text, DWORD size);
  bool LoadGeneral(const IniFile& ini);
  // Every "Group<d>" section; *total counts the files. False when a group
  // cannot be read whole or memory runs out.
  bool LoadGroups(const IniFile& ini, int64_t* total);
  // Reads section "Group<index>" into groups[index]; false when a target
  // cannot be composed within the path length.
  bool LoadGroup(const IniFile& ini, int32_t index, int64_t* total);
  // The system directory with a backslash, plus "drivers\" (NT) or
  // "IOSUBSYS\" (9x) for the driver folder; false when it does not fit.
  static bool ResolveSystemFolder(bool driver, char* folder, size_t capacity);

  // Steps of CheckGroup (engine/GroupCheck.cpp). The name and "OS" rules of
  // a group; *redirectionOff is set when a rule puts its files in the real
  // 64-bit system folder.
  bool PassesNameAndOsRules(const UpdateGroup& g, bool* redirectionOff);
  // The verdict by the installed version and length of file keyNo of group
  // (the product's key file when keyGroup), read where the group's files lie.
  GroupVerdict JudgeKeyFile(int32_t group, int32_t keyNo, bool keyGroup, bool realSystemFolder,
                            bool interactive);
  // Apply when the installed version is one the list names; *reference
  // becomes the newest listed version.
  GroupVerdict JudgeByVersionTable(double installed, bool report, double* reference);
  // Installed and update versions are equal: asks the re-update question
  // once per run.
  GroupVerdict JudgeSameVersion(const char* keyPath, bool interactive);

 private:
  // A question or message of the checks, through the port.
  int Ask(Message message);

  const ProductEnvironment& environment_;
  const ProductFolders& folders_;  // the environment's
  const OsClass osClass_;
  UserPort* port_ = nullptr;
  bool resumeRun_ = false;
  bool finishingInterrupted_ = false;
  GroupVerdict lastVerdict_ = kSkip;
  int32_t failedFiles_ = 0;
  char busyFile_[win32::kPathSize] = {};
  ReplaceOutcome lastReplaceOutcome_ = ReplaceOutcome::Skipped;
  int lastExpansions_ = 0;
};
