// Platform probes: which Windows this is, WOW64 file-system redirection, and
// small file and disk questions. None shows a message; each answers by its
// result, with the neutral answer when a system call fails.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "win32/DynamicCalls.h"
#include "win32/UniqueHandle.h"

// Version codes (22 = not classified) and the coarse classes built on them:
// 0 other, 1 9x/Me, 2 2000/XP/2003 32-bit, 3 XP/2003 64-bit,
// 4 Vista and later 32-bit, 5 Vista and later 64-bit.
// clang-format off
enum OsVersionCode : int32_t {
  kOsWin95 = 0, kOsWin95Osr2 = 1, kOsWin98 = 2, kOsWin98Se = 3, kOsWinMe = 4,
  kOsWin32s = 5, kOsNt3 = 6, kOsNt4 = 7,
  kOsWin2000Datacenter = 8, kOsWin2000Advanced = 9, kOsWin2000Server = 10, kOsWin2000Pro = 11,
  kOsXpHome = 12, kOsXpPro = 13,
  kOs2003Datacenter = 14, kOs2003Enterprise = 15, kOs2003Web = 16, kOs2003Standard = 17,
  kOs2003x64 = 18, kOsXpPro64 = 19, kOsVista32 = 20, kOsVista64 = 21,
  kOsUnclassified = 22
};
// clang-format on

// The coarse classes of the codes, with the values the group rules are
// defined with.
enum class OsClass : int32_t {
  Other = 0,    // Win32s, NT 3.x and 4.0, unclassified
  Win9x = 1,    // 95, 98, Me
  Nt32 = 2,     // 2000, XP, 2003, 32-bit
  Xp64 = 3,     // XP and 2003, 64-bit
  Vista32 = 4,  // Vista and later, 32-bit
  Vista64 = 5,  // Vista and later, 64-bit
};

// 64-bit Windows: XP/2003 x64, or Vista and later, 64-bit.
inline bool IsSixtyFourBitClass(OsClass osClass) {
  return osClass == OsClass::Xp64 || osClass == OsClass::Vista64;
}

// Classifies a version record. sixtyFourBit says whether this is 64-bit
// Windows (RunningOn64BitWindows, only asked for 5.2 and 6.x). Returns 1
// when classified (code set), 0 when not (code left 22).
int32_t ClassifyOsVersion(const OSVERSIONINFOEXA& record, bool sixtyFourBit, int32_t* code);
// Class of a code; any code outside 0..22 gives 0.
OsClass OsClassOfCode(int32_t code);

// The running Windows, classified once by its owner (the update list).
class OsVersionInfo {
 public:
  OsVersionInfo();
  ~OsVersionInfo() = default;
  // Fills the record and the code; 1 when classified, 0 when not. Keeps the
  // result as the detection flag.
  int32_t DetectOsVersion();
  // Class by the detection flag: not classified gives 2 on NT, 1 otherwise.
  OsClass GetOsClass() const;
  int32_t code() const { return code_; }
  int32_t detected() const { return detected_; }
  const OSVERSIONINFOEXA& record() const { return record_; }

 private:
  OSVERSIONINFOEXA record_;
  int32_t code_ = kOsUnclassified;
  int32_t detected_ = 0;
};

// 1 when GetVersionExA reports the NT platform; asked afresh every call.
int32_t IsNtPlatform();

// True in a 64-bit build of the updater (the x64 test flavour). Such a
// process runs on 64-bit Windows only and is never redirected.
inline constexpr bool kSixtyFourBitProcess = sizeof(void*) == 8;

// 64-bit Windows: the process itself is 64-bit, or IsWow64Process says this
// 32-bit process runs under WOW64. False where the export is missing.
bool RunningOn64BitWindows();

// Run-time binding of kernel32's IsWow64Process and the pair
// Wow64DisableWow64FsRedirection / Wow64RevertWow64FsRedirection (the single
// switch Wow64EnableWow64FsRedirection is unreliable when calls nest).
// Redirection switched off through this guard is switched on again when the
// guard is destroyed, on every path.
class Wow64FsGuard {
 public:
  Wow64FsGuard() = default;
  ~Wow64FsGuard();
  Wow64FsGuard(const Wow64FsGuard&) = delete;
  Wow64FsGuard& operator=(const Wow64FsGuard&) = delete;

  HMODULE Bind(const char* libraryPath);  // null when any of the three is missing
  void Unbind();
  BOOL IsWow64(HANDLE process, BOOL* wow64);  // 0 when unbound
  // FALSE when unbound; in a 64-bit process there is nothing to switch and
  // the answer is TRUE without a call. Switching off twice, or on without
  // having switched off, changes nothing.
  BOOL EnableRedirection(BOOL enable);
  bool bound() const { return static_cast<bool>(module_); }

 private:
  win32::Module module_;
  win32::newer::IsWow64Process isWow64Process_ = nullptr;
  win32::newer::Wow64DisableWow64FsRedirection disable_ = nullptr;
  win32::newer::Wow64RevertWow64FsRedirection revert_ = nullptr;
  void* previous_ = nullptr;  // what Wow64DisableWow64FsRedirection handed back
  bool switchedOff_ = false;
};

// Switches redirection off for its lifetime when asked to (and only then).
// Each such scope is a span in which no library may be loaded
// (win32/DynamicCalls.h), in both flavours, switched or not.
class ScopedRedirectionOff {
 public:
  explicit ScopedRedirectionOff(bool off);
  ~ScopedRedirectionOff();
  ScopedRedirectionOff(const ScopedRedirectionOff&) = delete;
  ScopedRedirectionOff& operator=(const ScopedRedirectionOff&) = delete;

 private:
  friend class ScopedRedirectionBackOn;
  // Switches back on (false) or off again (true) this scope and every one
  // around it, innermost first when switching on, outermost first when off.
  void Switch(bool off);

  Wow64FsGuard guard_;
  ScopedRedirectionOff* outer_ = nullptr;  // the span around this one
  bool span_ = false;
  bool off_ = false;
};

// Redirection as it was before every ScopedRedirectionOff of the thread, for
// this object's lifetime: a message box asked for inside such a span runs
// its own message loop, and whatever a window procedure loads there must
// come from the system folder of the updater's own kind. Nothing happens
// outside a span.
class ScopedRedirectionBackOn {
 public:
  ScopedRedirectionBackOn();
  ~ScopedRedirectionBackOn();
  ScopedRedirectionBackOn(const ScopedRedirectionBackOn&) = delete;
  ScopedRedirectionBackOn& operator=(const ScopedRedirectionBackOn&) = delete;

 private:
  ScopedRedirectionOff* innermost_ = nullptr;
  int spans_ = 0;
};

int32_t FileExists(const char* path);    // 1: exists and is no directory
DWORD GetFileSize32(const char* path);   // low 32 bits; 0 when missing
int32_t IsFileLocked(const char* path);  // 1: exists, no exclusive write open
int32_t GetFileTimes(const char* path, FILETIME* creation, FILETIME* access, FILETIME* write);
int32_t SetFileTimes(const char* path, const FILETIME* time);  // all three times
double GetDiskFree(const char* folder, int32_t* ok);           // total free bytes
int32_t AppendCharIfMissing(char* text, size_t capacity, char character);
