// Replaces one entry of the running test program's own import table while it
// lives, so that every call the program's code makes to a system function
// (the updater's code linked into it included) reaches a replacement of the
// test's: a call that fails as an older Windows fails, or one that records
// that it was made. Calls from inside system libraries are not affected. The
// entry gets its function back when the patch is destroyed.
//
//   BOOL WINAPI FlushFails(HANDLE) { SetLastError(ERROR_ACCESS_DENIED); return FALSE; }
//   vrtest::ImportPatch flush("kernel32.dll", "FlushFileBuffers", &FlushFails);
//   ASSERT_TRUE(flush.active());
#pragma once

#include <windows.h>

#include <vector>

namespace vrtest {

class ImportPatch {
 public:
  // Patches the first import of function (by name) from dll (compared
  // without regard to case). Not active when the program imports no such
  // function: then nothing is changed.
  ImportPatch(const char* dll, const char* function, const void* replacement);
  template <typename F>
  ImportPatch(const char* dll, const char* function, F* replacement)
      : ImportPatch(dll, function, reinterpret_cast<const void*>(replacement)) {}
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool active() const { return slot_ != nullptr; }
  // The function the entry held before, for a replacement that passes some
  // calls on; null when not active.
  template <typename F>
  F* original() const {
    return reinterpret_cast<F*>(original_);
  }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// Every MsgWaitForMultipleObjects of the program's code (the waits of
// win32::WaitPumping) while it lives: what each asked and how it ended. The
// waits themselves happen as before. Not nested.
struct Wait {
  DWORD handles;
  DWORD timeoutMs;
  DWORD result;
};

class WaitRecorder {
 public:
  WaitRecorder();
  ~WaitRecorder();
  bool active() const { return patch_.active(); }
  // The waits begun, each with the time it asked first: a call that follows
  // one ended by a message goes on with the same wait.
  std::vector<Wait> Begun() const;

  std::vector<Wait> calls;

 private:
  static DWORD WINAPI Record(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, DWORD mask);
  ImportPatch patch_;
};

}  // namespace vrtest
