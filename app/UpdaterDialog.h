// The updater's main window: a modal dialog (template 102) with the change
// history, a status line, a progress bar and the buttons Start and Close.
// Everything the updater does runs inside its handlers on the one UI thread.
//
//   app/UpdaterDialog.cpp   initialisation, painting, progress, wait window
//   app/UpdateDriver.cpp    OnStart, RunUpdate
//   app/Restart.cpp         resume entry, restart question, restart
#pragma once

#include <windows.h>

#include <stdint.h>

#include "app/DialogBase.h"
#include "engine/ProgressTarget.h"
#include "res/resource.h"

// Posted to itself in a resume run; both parameters 0.
constexpr UINT WM_RESUMEUPDATE = WM_USER + 11;

// Modeless "please wait" window (template 375) owned by the main dialog.
class WaitDialog : public DialogBase {
 public:
  WaitDialog() : DialogBase(IDD_WAIT) {}

 protected:
  BOOL OnInitDialog() override;
};

class UpdaterDialog : public DialogBase {
 public:
  UpdaterDialog();
  ~UpdaterDialog() override;

  // --- progress (the engine's ProgressFn is ReportProgress) ---
  static int32_t ReportProgress(ProgressTarget* target, int32_t done, int32_t reserved,
                                const char* text);
  void SetProgress(int32_t done, int32_t total);
  void PumpOneMessage();

  // --- update driver ---
  void OnStart();
  void RunUpdate();
  // True while OnStart or RunUpdate runs. Pauses and waits take the
  // dialog's messages, so a Start or Close command (posted by another
  // program, or by a keyboard path) can arrive meanwhile: it is ignored.
  bool running() const { return runs_ > 0; }
  // Closes the dialog once the run has ended (a WM_CLOSE posted then, which
  // a disabled Close still refuses).
  void CloseWhenRunEnds() { closeWhenRunEnds_ = true; }

  // --- restart and resume ---
  int32_t RemoveResumeEntry();
  bool AskRestart();
  // True when Windows accepted the restart request; when it refuses, Close
  // is enabled again (Start stays disabled).
  bool RequestRestart();
  void EnableShutdownPrivilege(const char* privilegeName);
  // WM_ENDSESSION: a shutdown that was cancelled after this updater asked
  // for a restart gives Close back.
  void OnEndSession(bool ending);
  bool restartRequested() const { return restartRequested_; }

  // --- system integration (owner of their message boxes), traced ---
  // CloseLauncherWindow's result (1, 0 or -1).
  int32_t CloseLauncher();
  // RunServiceInstaller for removal or installation: 1 when the installer
  // was started. The dialog remembers whether the service is removed.
  int32_t RemoveService() { return RunServiceStep(0); }
  int32_t InstallService() { return RunServiceStep(1); }
  // UpdateUninstallEntry's result.
  int32_t RenewUninstallEntry();

  // --- display helpers for the driver ---
  void SetStatusText(const char* text);
  void EnableButtons(bool enable);
  void ShowWaitWindow();
  void DestroyWaitWindow();
  bool HasWaitWindow() const { return waitWindow_ != nullptr; }
  // While files are being replaced Windows may not end the session: the
  // dialog refuses WM_QUERYENDSESSION and, where Windows has it, gives the
  // reason (string 146). Spans nest.
  void HoldOffShutdown(bool hold);
  bool holdingOffShutdown() const { return shutdownHolds_ > 0; }
  ProgressTarget& progressTarget() { return progressTarget_; }

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int code) override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) override;

 private:
  void PaintMinimised();
  int32_t RunServiceStep(int32_t install);

  HICON icon_ = nullptr;
  ProgressTarget progressTarget_;
  WaitDialog* waitWindow_ = nullptr;
  // The user agreed to restart and the request was made: the buttons stay
  // disabled from then on (only Close comes back if the restart fails).
  bool restartRequested_ = false;
  // The service was removed and not installed again yet; the Start handler
  // installs it before it returns, whatever path it took.
  bool serviceRemoved_ = false;
  int shutdownHolds_ = 0;
  int runs_ = 0;  // OnStart and RunUpdate nest
  bool closeWhenRunEnds_ = false;

  friend class RunScope;
};

// Marks OnStart or RunUpdate as running for its lifetime; the outermost one
// posts the close that the run asked for.
class RunScope {
 public:
  explicit RunScope(UpdaterDialog& dialog);
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  UpdaterDialog& dialog_;
};
