// The updater's main window: a modal dialog (template 102) with the change
// history, a status line, a progress bar and the buttons Start and Close.
// Everything the updater does runs inside its handlers on the one UI thread.
//
//   app/UpdaterDialog.cpp   initialisation, painting, progress, wait window
//   app/UpdateDriver.h      the run itself (Start, Update, restart)
#pragma once

#include <windows.h>

#include <stdint.h>

#include "app/DialogBase.h"
#include "app/UpdateDriver.h"
#include "engine/UserPort.h"
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

// The main dialog is the run's port to the person (engine/UserPort.h) and
// owns the update driver of its runs, which knows it only as that port.
class UpdaterDialog : public DialogBase, public UserPort {
 public:
  UpdaterDialog();
  ~UpdaterDialog() override;

  UpdateDriver& driver() { return driver_; }

  // --- UserPort ---
  int Ask(Message message) override;
  // Always true: there is no way to stop a pass from the dialog.
  bool ReportProgress(int32_t done, int32_t total, const char* text) override;
  void SetStatusText(const char* text) override;
  void ClearProgress() override;
  void EnableButtons(bool enable) override;
  void EnableCloseOnly() override;
  void ShowWaitWindow() override;
  void DestroyWaitWindow() override;
  // While files are being replaced Windows may not end the session: the
  // dialog refuses WM_QUERYENDSESSION and, where Windows has it, gives the
  // reason (string 146). Spans nest.
  void HoldOffShutdown(bool hold) override;
  void Repaint() override;
  // A WM_CLOSE posted, which a disabled Close still refuses.
  void Close() override;

  void PumpOneMessage();
  bool HasWaitWindow() const { return waitWindow_ != nullptr; }
  bool holdingOffShutdown() const { return shutdownHolds_ > 0; }

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int code) override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) override;

 private:
  void PaintMinimised();

  HICON icon_ = nullptr;
  WaitDialog* waitWindow_ = nullptr;
  int shutdownHolds_ = 0;
  UpdateDriver driver_{*this};
};
