// The one way from an update run to the person in front of the machine: the
// update driver (app/UpdateDriver.h) and the engine's passes reach the
// person only through this interface, so nothing below app/ knows the
// dialog. The main dialog implements it; tests implement it to record.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "system/MessageBoxes.h"

class UserPort {
 public:
  // One of the updater's message boxes (system/MessageBoxes.h); returns the
  // button that ended it.
  virtual int Ask(Message message) = 0;
  // done of total files of a pass (total < 1: done is the percentage); text,
  // when not null, is the new status line. False asks the pass to stop.
  virtual bool ReportProgress(int32_t done, int32_t total, const char* text) = 0;
  virtual void SetStatusText(const char* text) = 0;
  // The progress bar back at its start, without a report.
  virtual void ClearProgress() = 0;
  // Start and Close together, or Close alone (after a restart request).
  virtual void EnableButtons(bool enable) = 0;
  virtual void EnableCloseOnly() = 0;
  // The modeless "please wait" window; showing it twice shows one.
  virtual void ShowWaitWindow() = 0;
  virtual void DestroyWaitWindow() = 0;
  // While held (spans nest), Windows may not end the session.
  virtual void HoldOffShutdown(bool hold) = 0;
  // Paints what changed now: the run blocks the thread next.
  virtual void Repaint() = 0;
  // The window goes once the current message is handled.
  virtual void Close() = 0;

 protected:
  ~UserPort() = default;
};
