// The update driver: one run of the updater, from the Start button or a
// resume request to the restart question. It orders every step of an update
// and reaches the person only through the port (engine/UserPort.h), which
// the main dialog implements; it never names the dialog.
//
//   app/UpdateDriver.cpp   Start, Update and the system steps
//   app/Restart.cpp        resume entry, restart question, restart
#pragma once

#include <stdint.h>

#include "engine/ProductEnvironment.h"

class UserPort;

class UpdateDriver {
 public:
  explicit UpdateDriver(UserPort& port) : port_(port) {}
  UpdateDriver(const UpdateDriver&) = delete;
  UpdateDriver& operator=(const UpdateDriver&) = delete;

  // The Start button: the quick checks, then the update procedure.
  void Start();
  // The update procedure (also entered directly by a resume run).
  void Update();
  // True while Start or Update runs. Pauses and waits take the dialog's
  // messages, so a Start or Close command (posted by another program, or by
  // a keyboard path) can arrive meanwhile: the dialog ignores it.
  bool running() const { return runs_ > 0; }
  // The facts of this machine, detected while the dialog initialises
  // (FixProcessWideFacts, app/ProcessFacts.h); every list of a run reads them.
  ProductEnvironment& environment() { return environment_; }

  // --- restart and resume (app/Restart.cpp) ---
  int32_t RemoveResumeEntry();
  bool AskRestart();
  // True when Windows accepted the restart request; when it refuses, Close
  // is enabled again (Start stays disabled).
  bool RequestRestart();
  // WM_ENDSESSION: a shutdown that was cancelled after this updater asked
  // for a restart gives Close back.
  void OnEndSession(bool ending);
  bool restartRequested() const { return restartRequested_; }

  // --- system steps, traced ---
  // CloseLauncherWindow's result (1, 0 or -1).
  int32_t CloseLauncher();
  // RunServiceInstallerIn (the common folder) for removal or installation: 1 when the installer
  // was started. The driver remembers whether the service is removed.
  int32_t RemoveService() { return RunServiceStep(0); }
  int32_t InstallService() { return RunServiceStep(1); }
  // UpdateUninstallEntry's result.
  int32_t RenewUninstallEntry();

 private:
  class RunScope;
  int32_t RunServiceStep(int32_t install);
  bool UpdateInstalledProduct(bool resume);
  bool FinishInstalledUpdate(int32_t failedFiles);

  UserPort& port_;
  ProductEnvironment environment_;
  // The user agreed to restart and the request was made: the buttons stay
  // disabled from then on (only Close comes back if the restart fails).
  bool restartRequested_ = false;
  // The service was removed and not installed again yet; Start installs it
  // before it returns, whatever path it took.
  bool serviceRemoved_ = false;
  int runs_ = 0;  // Start and Update nest
  // Close the window once the run has ended (a disabled Close refuses it).
  bool closeWhenRunEnds_ = false;
};
