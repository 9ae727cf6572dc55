// The smallest dialog framework the updater needs: a dialog template from
// the running executable, run modally or created modeless, whose messages go
// to virtual handlers of the C++ object.
#pragma once

#include <windows.h>

class DialogBase {
 public:
  explicit DialogBase(int templateId) : templateId_(templateId) {}
  virtual ~DialogBase();
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;

  // Runs the dialog modally; returns the id that ended it (-1 on failure).
  INT_PTR RunModal(HWND owner);
  // Creates the dialog modeless; the window is destroyed with the object.
  HWND CreateModeless(HWND owner);
  // Ends a modal dialog with result.
  void End(INT_PTR result);

  HWND hwnd() const { return hwnd_; }

 protected:
  // Return value as for WM_INITDIALOG (TRUE: default focus).
  virtual BOOL OnInitDialog() { return TRUE; }
  // Button and menu commands; the default ends the dialog on IDOK/IDCANCEL.
  virtual void OnCommand(int id, int code);
  // Every other message; set *handled to true to take it. The result is the
  // message's result (set through DWLP_MSGRESULT where Windows asks for it).
  virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND hwnd_ = nullptr;
  bool modeless_ = false;
};
