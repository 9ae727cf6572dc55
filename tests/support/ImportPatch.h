// Replaces one imported function of a module for as long as it lives: the
// module's import address table entry of dll!function points at the
// replacement, and back at the original afterwards. Code linked into the
// module (the updater's library in a test program) then calls the
// replacement; nothing of the product changes.
//
//   vrtest::ImportPatch flush(GetModuleHandleA(nullptr), "advapi32.dll", "RegFlushKey",
//                             reinterpret_cast<void*>(&RecordingFlush));
#pragma once

#include <windows.h>

namespace vrtest {

class ImportPatch {
 public:
  // dll is compared without regard to case, function exactly; an import by
  // ordinal is not found.
  ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  // False when the module does not import dll!function (nothing patched).
  bool patched() const { return slot_ != nullptr; }
  // The function the entry pointed at before.
  void* original() const { return original_; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

}  // namespace vrtest
