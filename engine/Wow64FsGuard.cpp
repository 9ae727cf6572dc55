// Run-time binding of kernel32's WOW64 exports. On Windows without them there
// is no redirection, and every call of an unbound guard does nothing.
#include "engine/Platform.h"

#include "win32/BoundedString.h"
#include "win32/UniqueHandle.h"

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
  const char* name = win32::AfterLastBackslash(libraryPath);
  if (name) {
    size_t length = static_cast<size_t>(name - libraryPath);
    if (length >= sizeof folder) return nullptr;
    memcpy(folder, libraryPath, length);
    folder[length] = '\0';
  }
  win32::ScopedCurrentDirectory currentDirectory;
  currentDirectory.ChangeTo(folder);

  win32::Module module(LoadLibraryA(libraryPath));
  if (!module) return nullptr;
  auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(GetProcAddress(module.get(), "IsWow64Process"));
  auto enable = reinterpret_cast<EnableRedirectionFn>(
      GetProcAddress(module.get(), "Wow64EnableWow64FsRedirection"));
  if (!isWow64 || !enable) return nullptr;  // all or nothing
  isWow64Process_ = isWow64;
  enableRedirection_ = enable;
  module_ = module.release();
  return module_;
}

void Wow64FsGuard::Unbind() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
  isWow64Process_ = nullptr;
  enableRedirection_ = nullptr;
  switchedOff_ = false;
}

BOOL Wow64FsGuard::IsWow64(HANDLE process, BOOL* wow64) {
  if (!isWow64Process_) return FALSE;
  return isWow64Process_(process, wow64);
}

BOOL Wow64FsGuard::EnableRedirection(BOOL enable) {
  if (kSixtyFourBitProcess) return TRUE;
  if (!enableRedirection_) return FALSE;
  BOOL ok = enableRedirection_(enable ? TRUE : FALSE) ? TRUE : FALSE;
  if (ok) switchedOff_ = !enable;
  return ok;
}

bool RunningOn64BitWindows() {
  if (kSixtyFourBitProcess) return true;
  // Where the export is missing the guard stays unbound and answers "no".
  Wow64FsGuard guard;
  guard.Bind("kernel32.dll");
  BOOL wow64 = FALSE;
  return guard.IsWow64(GetCurrentProcess(), &wow64) && wow64;
}

ScopedRedirectionOff::ScopedRedirectionOff(bool off) {
  if (!off || kSixtyFourBitProcess) return;
  if (guard_.Bind("kernel32.dll")) off_ = guard_.EnableRedirection(FALSE) != FALSE;
}

ScopedRedirectionOff::~ScopedRedirectionOff() {
  if (off_) guard_.EnableRedirection(TRUE);
}
