// The update driver: the Start handler and the update procedure, which order
// every other step of an update, and the dialog's thin members over the
// system operations (launcher, service, Uninstall entry).
//
// Both handlers run to completion on the UI thread. The fixed pauses between
// steps give the product's processes (launcher, service installer) time to
// react; the dialog keeps answering during them (win32/MessagePump.h), and
// ignores Start and Close until the run has ended. Every step is traced
// (app/Trace.h).
#include <windows.h>

#include <commctrl.h>

#include "app/RunMode.h"
#include "app/Trace.h"
#include "app/UpdaterDialog.h"
#include "engine/Leftovers.h"
#include "res/resource.h"
#include "system/ComponentRegistrar.h"
#include "system/LauncherWindow.h"
#include "system/ProductDetection.h"
#include "system/ServiceInstaller.h"
#include "system/UninstallEntry.h"
#include "updatelist/UpdateList.h"
#include "win32/BufferSizes.h"
#include "win32/Platform.h"
#include "win32/ResString.h"
#include "win32/Seams.h"

namespace {

constexpr int kMessageCapacity = 512;
constexpr double kMinimumFreeBytes = 1e8;

// Pause after the service removal and the launcher request of the Start
// handler, before the in-use scan.
constexpr DWORD kStartSettlePauseMs = 300;
// Pauses of the update procedure around its service removal and list load.
constexpr DWORD kUpdateFirstPauseMs = 2000;
constexpr DWORD kUpdateStepPauseMs = 300;
constexpr DWORD kAfterInstallerPauseMs = 500;

void ReadTitle(HWND dialog, char* title) {
  title[0] = '\0';
  if (dialog) GetWindowTextA(dialog, title, static_cast<int>(win32::kTitleSize));
}

int ShowStringMessage(HWND owner, UINT id, const char* caption, UINT type) {
  char text[kMessageCapacity] = {};
  win32::LoadResString(id, text, sizeof text);
  TraceStep(steps::kMessage, id);
  return seams::ShowMessage(owner, text, caption, type);
}

// An earlier run that ended before its update had finished may have left the
// new key file among old files, the old Uninstall entry or a failed file:
// finishing that update is no re-update, so the question whether to update
// again is not asked, whatever path this run takes.
void NoticeUnfinishedUpdate(UpdateList& list) {
  if (!leftovers::HasMark(leftovers::Mark::UpdateUnfinished)) return;
  list.SetFinishingInterruptedUpdate(true);
  TraceStep(steps::kUpdateUnfinished);
}

}  // namespace

// ---------------------------------------------------------------------------
// System members: the dialog supplies the title and remembers the service.

int32_t UpdaterDialog::CloseLauncher() {
  const int32_t result = CloseLauncherWindow();
  TraceStep(steps::kLauncher, result);
  return result;
}

int32_t UpdaterDialog::RunServiceStep(int32_t install) {
  TraceStep(steps::kService, install ? "install" : "remove");
  if (!install && !serviceRemoved_) {
    // Until the service is back, Windows may not end the session, and a
    // later start of the updater puts it back should this run end first.
    leftovers::SetMark(leftovers::Mark::ServiceRemoved, true);
    HoldOffShutdown(true);
    serviceRemoved_ = true;
  }
  const int32_t started = RunServiceInstaller(install, hwnd());
  TraceStep(steps::kServiceInstaller, started ? "started" : "not started");
  if (install && serviceRemoved_) {
    // Installed again as well as it can be: a later start could do no more.
    leftovers::SetMark(leftovers::Mark::ServiceRemoved, false);
    HoldOffShutdown(false);
    serviceRemoved_ = false;
  }
  return started;
}

int32_t UpdaterDialog::RenewUninstallEntry() {
  const int32_t result = UpdateUninstallEntry();
  TraceStep(steps::kUninstallEntry, result ? "updated" : "not updated");
  return result;
}

// ---------------------------------------------------------------------------
// Start handler

void UpdaterDialog::OnStart() {
  RunScope run(*this);
  char title[win32::kTitleSize];
  ReadTitle(hwnd(), title);
  TraceStep(steps::kStart);

  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) {
    TraceStep(steps::kStartNotInstalled);
    ShowStringMessage(hwnd(), IDS_NOT_INSTALLED, title, MB_OK | MB_ICONINFORMATION);
    return;
  }
  TraceStep(steps::kStartProgramFolder, folder);

  // A volume whose free space cannot be asked for is let through.
  int32_t queried = 0;
  const double freeBytes = GetDiskFree(folder, &queried);
  if (queried && freeBytes < kMinimumFreeBytes) {
    TraceStep(steps::kStartFreeBytes, freeBytes);
    ShowStringMessage(hwnd(), IDS_DISK_FULL, title, MB_OK | MB_ICONINFORMATION);
    return;
  }

  UpdateList list;
  list.SetCaption(title);
  list.SetOwner(hwnd());
  NoticeUnfinishedUpdate(list);
  if (!list.LoadList()) {
    TraceStep(steps::kStartListNotLoadable);  // silent by design
    return;
  }

  ShowWaitWindow();
  EnableButtons(false);
  if (hwnd()) UpdateWindow(hwnd());
  TraceStep(steps::kStartButtonsDisabled);

  CloseLauncher();
  RemoveService();
  seams::Pause(kStartSettlePauseMs);

  // In a resume run the quick in-use scan is skipped: the update procedure
  // makes the full check anyway.
  const PreflightResult preflight =
      GetRunMode() == RunMode::Resume ? PreflightResult::NothingInUse : list.PreflightInUse();
  if (preflight == PreflightResult::FileInUse) TraceStep(steps::kStartInUse, list.busyFile());
  if (preflight == PreflightResult::NothingInUse) {
    TraceStep(steps::kStartNothingInTheWay);
    RunUpdate();
  } else if (list.CheckAllGroups(false)) {
    // Everything else passes, so the only obstacle is a file in use.
    TraceStep(steps::kStartFilesInUse);
    DestroyWaitWindow();
    char caption[win32::kTitleSize] = {};
    win32::LoadResString(IDS_TITLE, caption, sizeof caption);
    ShowStringMessage(hwnd(), IDS_FILES_IN_USE, caption, MB_OK | MB_ICONEXCLAMATION);
    InstallService();
  } else {
    // The checks have said why (or the user declined).
    TraceStep(steps::kStartChecksRefused);
    DestroyWaitWindow();
  }

  // A refused update never leaves the product without its service, whatever
  // path was taken above (the update procedure installs it on its own paths).
  if (serviceRemoved_) InstallService();

  // After an agreed restart the buttons stay disabled until Windows ends the
  // program (only Close comes back when the restart fails).
  if (!restartRequested_) EnableButtons(true);
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
// itself; the wait window goes either way. False when the list cannot be
// loaded, which is said nowhere, by design.
bool LoadListAfterPauses(UpdaterDialog& dialog, UpdateList& list) {
  seams::Pause(kUpdateFirstPauseMs);
  seams::Pause(kUpdateStepPauseMs);
  seams::Pause(kUpdateStepPauseMs);
  dialog.RemoveService();
  seams::Pause(kAfterInstallerPauseMs);
  seams::Pause(kUpdateStepPauseMs);
  if (!list.LoadList()) {
    TraceStep(steps::kUpdateListNotLoadable);
    dialog.DestroyWaitWindow();
    return false;
  }
  for (int i = 0; i < 3; ++i) seams::Pause(kUpdateStepPauseMs);
  dialog.DestroyWaitWindow();
  return true;
}

// One pass over the COM servers the list flags, unregistering or
// registering them. The progress bar counts the files of
// every applicable group.
void RunRegistrationPass(UpdaterDialog& dialog, UpdateList& list, RegistrationPass pass) {
  ProgressTarget& target = dialog.progressTarget();
  target = {&dialog, list.CountApplicableFiles()};
  TraceStep(steps::kUpdateRegistrationPass,
            pass == RegistrationPass::Register ? "registration" : "unregistration", target.total);
  list.RegisterAll(pass, &target, &UpdaterDialog::ReportProgress, IDS_PROCESSING_FMT);
}

// The install pass. Windows may not end the session meanwhile, and a mark
// tells every later run that this update has not finished until it has
// (FinishInstalledUpdate clears it). Returns the files replaced.
int32_t InstallPass(UpdaterDialog& dialog, UpdateList& list) {
  ProgressTarget& target = dialog.progressTarget();
  target = {&dialog, list.CountApplicableFiles()};
  TraceStep(steps::kUpdateInstallPass, target.total);
  dialog.HoldOffShutdown(true);
  leftovers::SetMark(leftovers::Mark::UpdateUnfinished, true);
  const int32_t replaced = list.InstallAll(&target, &UpdaterDialog::ReportProgress);
  dialog.HoldOffShutdown(false);
  return replaced;
}

// The full check of the loaded list, then (not in a resume run) the
// unregistration pass, the launcher closed twice and the install pass.
PassOutcome CheckAndInstall(UpdaterDialog& dialog, UpdateList& list, const char* title,
                            bool resume) {
  PassOutcome outcome;
  if (!list.CheckAllGroups(true)) {
    TraceStep(steps::kUpdateChecksFailed, static_cast<int>(list.lastVerdict()));
    if (list.busyFile()[0]) TraceStep(steps::kUpdateInUse, list.busyFile());
    // After a declined re-update nothing more is said; otherwise this may
    // follow the checks' own message.
    if (list.lastVerdict() != kDeclined)
      ShowStringMessage(dialog.hwnd(), IDS_NOTHING_TO_UPDATE, title, MB_OK | MB_ICONINFORMATION);
    return outcome;
  }
  if (!resume) {
    RunRegistrationPass(dialog, list, RegistrationPass::Unregister);
    outcome.unregistered = true;
  }
  dialog.CloseLauncher();
  seams::Pause(kUpdateStepPauseMs);
  if (dialog.CloseLauncher() == -1) {
    TraceStep(steps::kUpdateLauncherOpen);
    return outcome;
  }
  const int32_t replaced = InstallPass(dialog, list);
  outcome.failedFiles = list.failedFiles();
  // Finishing an earlier update ends with the Uninstall entry and the service
  // even where no file needed replacing any more.
  outcome.installed = replaced > 0 || list.finishingInterruptedUpdate();
  TraceStep(steps::kUpdateReplaced, replaced, outcome.failedFiles);
  return outcome;
}

// After files were replaced: the Uninstall entry, the service, the filter
// merits around the restart question. True when a restart is under way.
bool FinishInstalledUpdate(UpdaterDialog& dialog, int32_t failedFiles) {
  // A file that could not be replaced means the product is not at the new
  // version: the entry keeps showing the old one. The rest still runs,
  // because files did change.
  bool renewed = false;
  if (failedFiles == 0)
    renewed = dialog.RenewUninstallEntry() != 0;
  else
    TraceStep(steps::kUpdateEntryKept, failedFiles);
  dialog.InstallService();
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
  if (dialog.AskRestart()) {
    registrar.AdjustFilterMerits();
    TraceStep(steps::kUpdateFilterMerits);
    restartAccepted = dialog.RequestRestart();
    restarting = true;
  }
  registrar.AdjustFilterMerits();
  TraceStep(steps::kUpdateFilterMerits);
  // Closes the dialog once the run has ended; while a restart is under way
  // the disabled Close refuses it. After a refused restart it is not asked
  // for, so the window stays open with Close enabled again.
  if (!restarting || restartAccepted) dialog.CloseWhenRunEnds();
  return restarting;
}

// The update of an installed product, from the list load to the restart
// question. True when a restart is under way.
bool UpdateInstalledProduct(UpdaterDialog& dialog, const char* title, bool resume) {
  UpdateList list;
  list.SetCaption(title);
  list.SetOwner(dialog.hwnd());
  list.SetResumeRun(resume);
  NoticeUnfinishedUpdate(list);

  PassOutcome outcome;
  if (LoadListAfterPauses(dialog, list)) outcome = CheckAndInstall(dialog, list, title, resume);
  // A resume run always registers: the run before the restart unregistered.
  if (resume || outcome.unregistered) RunRegistrationPass(dialog, list, RegistrationPass::Register);
  list.ClearList();
  dialog.SetStatusText("");

  if (outcome.installed) return FinishInstalledUpdate(dialog, outcome.failedFiles);
  dialog.InstallService();
  return false;
}

}  // namespace

void UpdaterDialog::RunUpdate() {
  RunScope run(*this);
  char title[win32::kTitleSize];
  ReadTitle(hwnd(), title);
  if (!hwnd()) return;
  const bool resume = GetRunMode() == RunMode::Resume;
  TraceStep(steps::kUpdateBegin, resume ? "resume" : "normal");

  EnableButtons(false);
  UpdateWindow(hwnd());
  RemoveResumeEntry();

  bool restarting = false;
  char folder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(folder, sizeof folder)) {
    TraceStep(steps::kUpdateNotInstalled);
    DestroyWaitWindow();
    ShowStringMessage(hwnd(), IDS_NOTHING_TO_UPDATE, title, MB_OK | MB_ICONINFORMATION);
  } else {
    restarting = UpdateInstalledProduct(*this, title, resume);
  }

  if (!restarting) {
    EnableButtons(true);
    SendDlgItemMessageA(hwnd(), IDC_PROGRESS, PBM_SETPOS, 0, 0);
  }
  TraceStep(steps::kUpdateEnd);
}
