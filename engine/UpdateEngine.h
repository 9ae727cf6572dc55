// The checks and passes of a run over one loaded list: group selection
// (engine/GroupCheck.cpp), the in-use scans (engine/InUseChecks.cpp), file
// replacement (engine/ReplaceFile.cpp) and the install and registration
// passes (engine/InstallPasses.cpp). An engine is a thin view over
// (const list, environment, port, run state), all owned by the caller and
// outliving it; it keeps nothing of its own. The list's load from the store
// is LoadListFromStore (engine/ListLoading.cpp).
#pragma once

#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileA; the engine's own ReplaceFile
// keeps its name (the system call is never used here).
#ifdef ReplaceFile
#undef ReplaceFile
#endif

#include <stdint.h>

#include "engine/RunState.h"
#include "updatelist/UpdateList.h"
#include "win32/Platform.h"

class ProductEnvironment;
class UserPort;
enum class Message;

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

// The list of this updater's store for the installed product, over
// environment (whose LZ32 it binds); the empty list when LZ32, the program
// folder or a whole list is not there.
UpdateList LoadListFromStore(const ProductEnvironment& environment);

// The sound-effect set of the filter library at libraryPath.
SoundEffectSet ProbeSoundEffectSet(const char* libraryPath);
// The program folder takes a file, and the product's App Paths or
// Uninstall key opens for writing: 1, else 0.
int32_t CanWriteProgramFolder();
int32_t CanOpenKeyForWrite(const char* subkey);

class UpdateEngine {
 public:
  // Questions go to port; without one they go through ShowUpdaterMessage
  // (system/MessageBoxes.h) directly.
  UpdateEngine(const UpdateList& list, const ProductEnvironment& environment, UserPort* port,
               RunState& state);
  UpdateEngine(const UpdateEngine&) = delete;
  UpdateEngine& operator=(const UpdateEngine&) = delete;

  // --- group selection (engine/GroupCheck.cpp) ---
  GroupVerdict CheckGroup(int32_t group, bool interactive, bool* needsRedirectionOff);
  int32_t FindKeyFile(int32_t group) const;
  bool KeyFileMatchesLength(int32_t group, int32_t file) const;

  // --- the passes (engine/InstallPasses.cpp) ---
  int32_t CountApplicableFiles();
  // The passes report to port (none: nothing is reported) against total
  // files; a report answered false stops the install pass.
  int32_t InstallAll(UserPort* port, int32_t total);
  int32_t InstallGroup(int32_t group, UserPort* port, int32_t total);
  int32_t RegisterAll(RegistrationPass pass, UserPort* port, int32_t total, UINT messageId);
  int32_t RegisterGroup(int32_t group, RegistrationPass pass, UserPort* port, int32_t total,
                        UINT messageId);

  // --- file replacement (engine/ReplaceFile.cpp) ---
  int32_t ReplaceFile(int32_t group, int32_t file, bool existOnly);

  // --- in-use checks (engine/InUseChecks.cpp) ---
  PreflightResult PreflightInUse();
  int32_t ScanGroupInUse(int32_t group);
  int32_t IsPayloadFileBusy(int32_t group, int32_t file, bool redirectionOff) const;
  int32_t CheckAllGroups(bool testInUse);
  int32_t CheckGroupFiles(int32_t group, bool testInUse);
  int32_t CheckFileFree(int32_t group, int32_t file, bool testInUse);

  // --- what the driver and the trace read of the run ---
  GroupVerdict lastVerdict() const { return state_.lastVerdict; }
  int32_t failedFiles() const { return state_.failedFiles; }
  const char* busyFile() const { return state_.busyFile; }
  ReplaceOutcome lastReplaceOutcome() const { return state_.lastReplaceOutcome; }
  int lastExpansions() const { return state_.lastExpansions; }
  OsClass GetOsClass() const { return osClass_; }
  const ProductEnvironment& environment() const { return environment_; }
  RunState& state() { return state_; }

 private:
  // Steps of CheckGroup. The name and "OS" rules of a group; *redirectionOff
  // is set when a rule puts its files in the real 64-bit system folder.
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
  // A question or message of the checks, through the port.
  int Ask(Message message);

  const UpdateList& list_;
  const ProductEnvironment& environment_;
  UserPort* const port_;
  RunState& state_;
  const OsClass osClass_;
};
