// Run-time binding of kernel32's WOW64 exports. On Windows without them there
// is no redirection, and every call of an unbound guard does nothing.
#include "win32/Platform.h"

#include <utility>

#include "win32/Paths.h"

Wow64FsGuard::~Wow64FsGuard() {
  // Redirection is per thread: never leave it off behind the guard's back.
  if (switchedOff_) EnableRedirection(TRUE);
  Unbind();
}

HMODULE Wow64FsGuard::Bind(const char* libraryPath) {
  if (switchedOff_) EnableRedirection(TRUE);
  Unbind();
  if (!libraryPath) return nullptr;

  // Load from the library's own folder so a full path finds its neighbours;
  // a bare name such as "kernel32.dll" leaves the current directory alone.
  char folder[MAX_PATH] = {};
  if (win32::AfterLastBackslash(libraryPath) &&
      !win32::FolderOf(libraryPath, folder, sizeof folder))
    return nullptr;
  win32::ScopedCurrentDirectory currentDirectory;
  currentDirectory.ChangeTo(folder);

  win32::Module module = win32::LoadLibraryFile(libraryPath, 0);
  // All or nothing.
  if (!win32::BindExport(module, "IsWow64Process", &isWow64Process_) ||
      !win32::BindExport(module, "Wow64DisableWow64FsRedirection", &disable_) ||
      !win32::BindExport(module, "Wow64RevertWow64FsRedirection", &revert_)) {
    Unbind();
    return nullptr;
  }
  module_ = std::move(module);
  return module_.get();
}

void Wow64FsGuard::Unbind() {
  module_.reset();
  isWow64Process_ = nullptr;
  disable_ = nullptr;
  revert_ = nullptr;
  previous_ = nullptr;
  switchedOff_ = false;
}

BOOL Wow64FsGuard::IsWow64(HANDLE process, BOOL* wow64) {
  if (!isWow64Process_) return FALSE;
  return isWow64Process_(process, wow64);
}

BOOL Wow64FsGuard::EnableRedirection(BOOL enable) {
  if (kSixtyFourBitProcess) return TRUE;
  if (!disable_ || !revert_) return FALSE;
  if (enable) {
    if (!switchedOff_) return TRUE;
    if (!revert_(previous_)) return FALSE;
    switchedOff_ = false;
    return TRUE;
  }
  if (switchedOff_) return TRUE;
  if (!disable_(&previous_)) return FALSE;
  switchedOff_ = true;
  return TRUE;
}

bool RunningOn64BitWindows() {
  if (kSixtyFourBitProcess) return true;
  // Where the export is missing the guard stays unbound and answers "no".
  Wow64FsGuard guard;
  guard.Bind("kernel32.dll");
  BOOL wow64 = FALSE;
  return guard.IsWow64(GetCurrentProcess(), &wow64) && wow64;
}

namespace {
// The innermost span of the one thread that switches redirection.
ScopedRedirectionOff* g_innermostSpan = nullptr;
}  // namespace

ScopedRedirectionOff::ScopedRedirectionOff(bool off) {
  if (!off) return;
  // Bound before the span begins: binding is itself a library load.
  if (!kSixtyFourBitProcess && guard_.Bind("kernel32.dll")) {
    off_ = guard_.EnableRedirection(FALSE) != FALSE;
  }
  win32::EnterRedirectionOffSpan();
  span_ = true;
  outer_ = g_innermostSpan;
  g_innermostSpan = this;
}

ScopedRedirectionOff::~ScopedRedirectionOff() {
  if (off_) guard_.EnableRedirection(TRUE);
  if (span_) {
    win32::LeaveRedirectionOffSpan();
    g_innermostSpan = outer_;
  }
}

void ScopedRedirectionOff::Switch(bool off) {
  if (!off && off_) guard_.EnableRedirection(TRUE);
  if (outer_) outer_->Switch(off);
  if (off && off_) guard_.EnableRedirection(FALSE);
}

ScopedRedirectionBackOn::ScopedRedirectionBackOn() : innermost_(g_innermostSpan) {
  if (!innermost_) return;
  innermost_->Switch(false);
  spans_ = win32::SuspendRedirectionOffSpans();
}

ScopedRedirectionBackOn::~ScopedRedirectionBackOn() {
  if (!innermost_) return;
  win32::ResumeRedirectionOffSpans(spans_);
  innermost_->Switch(true);
}
