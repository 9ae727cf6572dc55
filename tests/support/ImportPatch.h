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

}  // namespace vrtest
