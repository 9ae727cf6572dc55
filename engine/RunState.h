// What one check or update run has come to so far: the passes' counters and
// flags, the answers already given and the last results the driver and the
// trace read. The update driver owns one per run; the engine's functions
// (engine/UpdateEngine.h) read and write it, never the list.
#pragma once

#include <stdint.h>

#include "win32/BufferSizes.h"

enum GroupVerdict : int32_t {
  kSkip = 0,
  kApply = 1,
  kInstalledNewer = 2,
  kNothingToUpdate = 4,
  kDeclined = 5,
};

// How one ReplaceFile ended; the run counts failures so the driver can tell
// a complete update from one that left files behind.
enum class ReplaceOutcome { Replaced, Skipped, Failed };

struct RunState {
  // --- set by the update driver before the checks ---
  bool resumeRun = false;
  // An earlier run ended inside its install pass: the key file may be new
  // among old files, and finishing that update asks no re-update question.
  bool finishingInterrupted = false;

  // --- the passes ---
  int32_t doneCount = 0;           // files passed by the current pass
  bool abort = false;              // the install pass was asked to stop
  bool reporting = false;          // the version messages may be shown
  bool reupdateConfirmed = false;  // the re-update question counts as answered yes

  // --- results ---
  GroupVerdict lastVerdict = kSkip;  // of the key group in the full check
  int32_t failedFiles = 0;           // ReplaceOutcome::Failed this run
  // The target the last in-use check found held ("" when none), for the trace.
  char busyFile[win32::kPathSize] = {};
  ReplaceOutcome lastReplaceOutcome = ReplaceOutcome::Skipped;
  int lastExpansions = 0;  // expansions through LZ32 of the last ReplaceFile (0 to 5)
};
