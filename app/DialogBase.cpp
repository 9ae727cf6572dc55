#include "app/DialogBase.h"

DialogBase::~DialogBase() {
  // A modeless window dies with its object; a modal one has ended already
  // when RunModal returned. Either way the window must not call back into a
  // destroyed object.
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
    if (modeless_) DestroyWindow(hwnd_);
  }
  hwnd_ = nullptr;
}

INT_PTR DialogBase::RunModal(HWND owner) {
  modeless_ = false;
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                         &DialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND DialogBase::CreateModeless(HWND owner) {
  modeless_ = true;
  return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                            &DialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
}

void DialogBase::End(INT_PTR result) {
  if (!hwnd_) return;
  if (modeless_) {
    DestroyWindow(hwnd_);
  } else {
    EndDialog(hwnd_, result);
  }
}

void DialogBase::OnCommand(int id, int /*code*/) {
  if (id == IDOK || id == IDCANCEL) End(id);
}

INT_PTR DialogBase::HandleMessage(UINT, WPARAM, LPARAM, bool* handled) {
  *handled = false;
  return 0;
}

namespace {
// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return true;
    default:
      return false;
  }
}
}  // namespace

INT_PTR CALLBACK DialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogBase* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogBase*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    return self->OnInitDialog();
  }
  self = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!self) return FALSE;

  if (message == WM_COMMAND) {
    self->OnCommand(LOWORD(wParam), HIWORD(wParam));
    return TRUE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
    return FALSE;
  }
  bool handled = false;
  INT_PTR result = self->HandleMessage(message, wParam, lParam, &handled);
  if (!handled) return FALSE;
  if (ReturnsResultDirectly(message)) return result;
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
