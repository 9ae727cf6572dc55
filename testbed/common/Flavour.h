// The simulated product, its installer and the tests are built for the same
// architecture as the updater they meet. A 32-bit build runs under WOW64 on
// 64-bit Windows: it uses the 32-bit registry view and sees the real system
// folder only with redirection off (or as "sysnative"). A 64-bit build (the
// x64 test flavour) uses the 64-bit view and is never redirected. Everything
// that depends on this asks here.
#pragma once

#include <windows.h>

namespace testbed {

inline constexpr bool kSixtyFourBitProcess = sizeof(void*) == 8;

// The registry view in which the product of this flavour is installed (and
// in which the updater of the same flavour finds it).
inline constexpr REGSAM kProductView = kSixtyFourBitProcess ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

// The real system folder of 64-bit Windows as this process names it.
inline constexpr const char* kNativeSystemFolder =
    kSixtyFourBitProcess ? "C:\\windows\\system32\\" : "C:\\windows\\sysnative\\";

// 64-bit Windows: this process is 64-bit, or a 32-bit one under WOW64.
inline bool OnSixtyFourBitWindows() {
  BOOL wow64 = FALSE;
  return kSixtyFourBitProcess || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// Switches WOW64 file-system redirection off while alive when asked to, so
// that the real system folder is the one looked at; a no-op where there is
// no redirection (a 64-bit process, 32-bit Windows), where the call fails.
class RedirectionOff {
 public:
  explicit RedirectionOff(bool wanted = true)
      : off_(wanted && Wow64DisableWow64FsRedirection(&old_)) {}
  ~RedirectionOff() {
    if (off_) Wow64RevertWow64FsRedirection(old_);
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  void* old_ = nullptr;
  bool off_;
};

}  // namespace testbed
