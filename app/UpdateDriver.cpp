// The update driver: the Start handler and the update procedure, which order
// every other step of an update, and its thin members over the system
// operations (launcher, service, Uninstall entry).
//
// Both handlers run to completion on the UI thread. The fixed pauses between
// steps give the product's processes (launcher, service installer) time to
// react; the dialog keeps answering during them (win32/MessagePump.h), and
// ignores Start and Close until the run has ended. Every step is traced
// (win32/Trace.h).
#include "app/UpdateDriver.h"

#include <windows.h>

#include "app/RunMode.h"
#include "engine/Leftovers.h"
#include "engine/UpdateEngine.h"
#include "engine/UserPort.h"
#include "res/resource.h"
#include "system/ComponentRegistrar.h"
#include "system/LauncherWindow.h"
#include "system/ProductDetection.h"
#include "system/ServiceInstaller.h"
#include "system/UninstallEntry.h"
#include "updatelist/UpdateList.h"
#include "win32/Platform.h"
#include "win32/Seams.h"
#include "win32/Trace.h"
#include "win32/TraceSteps.h"

namespace {

constexpr double kMinimumFreeBytes = 1e8;

// Pause after the service removal and the launcher request of the Start
// handler, before the in-use scan.
constexpr DWORD kStartSettlePauseMs = 300;
// Pauses of the update procedure around its service removal and list load.
constexpr DWORD kUpdateFirstPauseMs = 2000;
constexpr DWORD kUpdateStepPauseMs = 300;
constexpr DWORD kAfterInstallerPauseMs = 500;

// An earlier run that ended before its update had finished may have left the
// new key file among old files, the old Uninstall entry or a failed file:
// finishing that update is no re-update, so the question whether to update
// again is not asked, whatever path this run takes.
void NoticeUnfinishedUpdate(RunState& state) {
  if (!leftovers::HasMark(leftovers::Mark::UpdateUnfinished)) return;
  state.finishingInterrupted = true;
  TraceStep(steps::kUpdateUnfinished);
}

}  // namespace

// Marks Start or Update as running for its lifetime; the outermost one
// closes the window when the run asked for it.
class UpdateDriver::RunScope {
 public:
  explicit RunScope(UpdateDriver& driver) : driver_(driver) { ++driver_.runs_; }
  ~RunScope() {
    if (--driver_.runs_ > 0 || !driver_.closeWhenRunEnds_) return;
    driver_.closeWhenRunEnds_ = false;
    driver_.port_.Close();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  UpdateDriver& driver_;
};

// ---------------------------------------------------------------------------
// System members: the driver remembers the service.

int32_t UpdateDriver::CloseLauncher() {
  const int32_t result = CloseLauncherWindow();
  TraceStep(steps::kLauncher, result);
  return result;
}

int32_t UpdateDriver::RunServiceStep(int32_t install) {
  TraceStep(steps::kService, install ? "install" : "remove");
  if (!install && !serviceRemoved_) {
    // Until the service is back, Windows may not end the session, and a
    // later start of the updater puts it back should this run end first.
    leftovers::SetMark(leftovers::Mark::ServiceRemoved, true);
    port_.HoldOffShutdown(true);
    serviceRemoved_ = true;
  }
  const int32_t started = RunServiceInstallerIn(environment_.folders().common, install);
  TraceStep(steps::kServiceInstaller, started ? "started" : "not started");
  if (install && serviceRemoved_) {
    // Installed again as well as it can be: a later start could do no more.
    leftovers::SetMark(leftovers::Mark::ServiceRemoved, false);
    port_.HoldOffShutdown(false);
    serviceRemoved_ = false;
  }
  return started;
}

int32_t UpdateDriver::RenewUninstallEntry() {
  const int32_t result = UpdateUninstallEntry();
  TraceStep(steps::kUninstallEntry, result ? "updated" : "not updated");
  return result;
}

// ---------------------------------------------------------------------------
// Start handler

void UpdateDriver::Start() {
  RunScope run(*this);
  TraceStep(steps::kStart);

  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) {
    TraceStep(steps::kStartNotInstalled);
    port_.Ask(Message::kNotInstalled);
    return;
  }
  TraceStep(steps::kStartProgramFolder, folder);

  // A volume whose free space cannot be asked for is let through.
  int32_t queried = 0;
  const double freeBytes = GetDiskFree(folder, &queried);
  if (queried && freeBytes < kMinimumFreeBytes) {
    TraceStep(steps::kStartFreeBytes, freeBytes);
    port_.Ask(Message::kDiskFull);
    return;
  }

  // What is still unknown of the machine is asked again for every list,
  // as when the dialog started.
  environment_.Detect();
  RunState state;
  NoticeUnfinishedUpdate(state);
  const UpdateList list = LoadListFromStore(environment_);
  if (!list.fileTotal()) {
    TraceStep(steps::kStartListNotLoadable);  // silent by design
    return;
  }
  UpdateEngine engine(list, environment_, &port_, state);

  port_.ShowWaitWindow();
  port_.EnableButtons(false);
  port_.Repaint();
  TraceStep(steps::kStartButtonsDisabled);

  CloseLauncher();
  RemoveService();
  seams::Pause(kStartSettlePauseMs);

  // In a resume run the quick in-use scan is skipped: the update procedure
  // makes the full check anyway.
  const PreflightResult preflight =
      GetRunMode() == RunMode::Resume ? PreflightResult::NothingInUse : engine.PreflightInUse();
  if (preflight == PreflightResult::FileInUse) TraceStep(steps::kStartInUse, state.busyFile);
  if (preflight == PreflightResult::NothingInUse) {
    TraceStep(steps::kStartNothingInTheWay);
    Update();
  } else if (engine.CheckAllGroups(false)) {
    // Everything else passes, so the only obstacle is a file in use.
    TraceStep(steps::kStartFilesInUse);
    port_.DestroyWaitWindow();
    port_.Ask(Message::kFilesInUse);
    InstallService();
  } else {
    // The checks have said why (or the user declined).
    TraceStep(steps::kStartChecksRefused);
    port_.DestroyWaitWindow();
  }

  // A refused update never leaves the product without its service, whatever
  // path was taken above (the update procedure installs it on its own paths).
  if (serviceRemoved_) InstallService();

  // After an agreed restart the buttons stay disabled until Windows ends the
  // program (only Close comes back when the restart fails).
  if (!restartRequested_) port_.EnableButtons(true);
  TraceStep(steps::kStartDone);
}

// ---------------------------------------------------------------------------
// Update procedure (also entered directly by a resume run)

namespace {

// What the checks and the install pass of one run came to.
struct PassOutcome {
  bool unregistered = false;  // the unregistration pass ran
  bool installed = false;     // at least one file was replaced
  int32_t failedFiles = 0;    // files that could not be replaced
};

// The pauses and the service removal ahead of the list, then the list
// itself; the wait window goes either way. The empty list when it cannot be
// loaded, which is said nowhere, by design.
UpdateList LoadListAfterPauses(UpdateDriver& driver, UserPort& port,
                               const ProductEnvironment& environment) {
  seams::Pause(kUpdateFirstPauseMs);
  seams::Pause(kUpdateStepPauseMs);
  seams::Pause(kUpdateStepPauseMs);
  driver.RemoveService();
  seams::Pause(kAfterInstallerPauseMs);
  seams::Pause(kUpdateStepPauseMs);
  UpdateList list = LoadListFromStore(environment);
  if (!list.fileTotal()) {
    TraceStep(steps::kUpdateListNotLoadable);
    port.DestroyWaitWindow();
    return list;
  }
  for (int i = 0; i < 3; ++i) seams::Pause(kUpdateStepPauseMs);
  port.DestroyWaitWindow();
  return list;
}

// One pass over the COM servers the list flags, unregistering or
// registering them. The progress bar counts the files of
// every applicable group.
void RunRegistrationPass(UserPort& port, UpdateEngine& engine, RegistrationPass pass) {
  const int32_t total = engine.CountApplicableFiles();
  TraceStep(steps::kUpdateRegistrationPass,
            pass == RegistrationPass::Register ? "registration" : "unregistration", total);
  engine.RegisterAll(pass, &port, total, IDS_PROCESSING_FMT);
}

// The install pass. Windows may not end the session meanwhile, and a mark
// tells every later run that this update has not finished until it has
// (FinishInstalledUpdate clears it). Returns the files replaced.
int32_t InstallPass(UserPort& port, UpdateEngine& engine) {
  const int32_t total = engine.CountApplicableFiles();
  TraceStep(steps::kUpdateInstallPass, total);
  port.HoldOffShutdown(true);
  leftovers::SetMark(leftovers::Mark::UpdateUnfinished, true);
  const int32_t replaced = engine.InstallAll(&port, total);
  port.HoldOffShutdown(false);
  return replaced;
}

// The full check of the loaded list, then (not in a resume run) the
// unregistration pass, the launcher closed twice and the install pass.
PassOutcome CheckAndInstall(UpdateDriver& driver, UserPort& port, UpdateEngine& engine,
                            bool resume) {
  PassOutcome outcome;
  const RunState& state = engine.state();
  if (!engine.CheckAllGroups(true)) {
    TraceStep(steps::kUpdateChecksFailed, static_cast<int>(state.lastVerdict));
    if (state.busyFile[0]) TraceStep(steps::kUpdateInUse, state.busyFile);
    // After a declined re-update nothing more is said; otherwise this may
    // follow the checks' own message.
    if (state.lastVerdict != kDeclined) port.Ask(Message::kNothingToUpdate);
    return outcome;
  }
  if (!resume) {
    RunRegistrationPass(port, engine, RegistrationPass::Unregister);
    outcome.unregistered = true;
  }
  driver.CloseLauncher();
  seams::Pause(kUpdateStepPauseMs);
  if (driver.CloseLauncher() == -1) {
    TraceStep(steps::kUpdateLauncherOpen);
    return outcome;
  }
  const int32_t replaced = InstallPass(port, engine);
  outcome.failedFiles = state.failedFiles;
  // Finishing an earlier update ends with the Uninstall entry and the service
  // even where no file needed replacing any more.
  outcome.installed = replaced > 0 || state.finishingInterrupted;
  TraceStep(steps::kUpdateReplaced, replaced, outcome.failedFiles);
  return outcome;
}

// After files were replaced: the Uninstall entry, the service, the filter
// merits around the restart question. True when a restart is under way.
}  // namespace

bool UpdateDriver::FinishInstalledUpdate(int32_t failedFiles) {
  // A file that could not be replaced means the product is not at the new
  // version: the entry keeps showing the old one. The rest still runs,
  // because files did change.
  bool renewed = false;
  if (failedFiles == 0)
    renewed = RenewUninstallEntry() != 0;
  else
    TraceStep(steps::kUpdateEntryKept, failedFiles);
  InstallService();
  seams::Pause(kAfterInstallerPauseMs);

  ComponentRegistrar registrar;
  registrar.AdjustFilterMerits();
  TraceStep(steps::kUpdateFilterMerits);
  // Every file new, the servers registered again, the entry renewed and the
  // service back: the update has finished. Otherwise the mark stays, and
  // the next run completes the update without asking whether to update again.
  if (renewed) {
    leftovers::SetMark(leftovers::Mark::UpdateUnfinished, false);
    TraceStep(steps::kUpdateFinished);
  } else {
    TraceStep(steps::kUpdateNotFinished);
  }
  bool restarting = false;
  bool restartAccepted = false;
  if (AskRestart()) {
    registrar.AdjustFilterMerits();
    TraceStep(steps::kUpdateFilterMerits);
    restartAccepted = RequestRestart();
    restarting = true;
  }
  registrar.AdjustFilterMerits();
  TraceStep(steps::kUpdateFilterMerits);
  // Closes the dialog once the run has ended; while a restart is under way
  // the disabled Close refuses it. After a refused restart it is not asked
  // for, so the window stays open with Close enabled again.
  if (!restarting || restartAccepted) closeWhenRunEnds_ = true;
  return restarting;
}

// The update of an installed product, from the list load to the restart
// question. True when a restart is under way.
bool UpdateDriver::UpdateInstalledProduct(bool resume) {
  environment_.Detect();
  RunState state;
  state.resumeRun = resume;
  NoticeUnfinishedUpdate(state);

  PassOutcome outcome;
  {
    const UpdateList list = LoadListAfterPauses(*this, port_, environment_);
    UpdateEngine engine(list, environment_, &port_, state);
    if (list.fileTotal()) outcome = CheckAndInstall(*this, port_, engine, resume);
    // A resume run always registers: the run before the restart unregistered.
    if (resume || outcome.unregistered)
      RunRegistrationPass(port_, engine, RegistrationPass::Register);
  }
  port_.SetStatusText("");

  if (outcome.installed) return FinishInstalledUpdate(outcome.failedFiles);
  InstallService();
  return false;
}

void UpdateDriver::Update() {
  RunScope run(*this);
  const bool resume = GetRunMode() == RunMode::Resume;
  TraceStep(steps::kUpdateBegin, resume ? "resume" : "normal");

  port_.EnableButtons(false);
  port_.Repaint();
  RemoveResumeEntry();

  bool restarting = false;
  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) {
    TraceStep(steps::kUpdateNotInstalled);
    port_.DestroyWaitWindow();
    port_.Ask(Message::kNothingToUpdate);
  } else {
    restarting = UpdateInstalledProduct(resume);
  }

  if (!restarting) {
    port_.EnableButtons(true);
    port_.ClearProgress();
  }
  TraceStep(steps::kUpdateEnd);
}
