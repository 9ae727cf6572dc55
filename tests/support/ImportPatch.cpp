#include "support/ImportPatch.h"

#include <windows.h>

#include <string.h>

namespace vrtest {
namespace {

// Writes value into an entry of the import table, which the loader may have
// left read-only.
bool WriteSlot(void** slot, void* value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
  *slot = value;
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof *slot, old, &ignored);
  return true;
}

// The entry of the program's import table that holds dll!function, or null.
void** FindSlot(const char* dll, const char* function) {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    // The names (the lookup table) and the addresses (the import table)
    // run side by side.
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

ImportPatch::ImportPatch(const char* dll, const char* function, const void* replacement) {
  void** slot = FindSlot(dll, function);
  if (!slot) return;
  void* original = *slot;
  if (!WriteSlot(slot, const_cast<void*>(replacement))) return;
  slot_ = slot;
  original_ = original;
}

ImportPatch::~ImportPatch() {
  if (slot_) WriteSlot(slot_, original_);
}

namespace {
WaitRecorder* g_waitRecorder = nullptr;
}  // namespace

WaitRecorder::WaitRecorder() : patch_("user32.dll", "MsgWaitForMultipleObjects", &Record) {
  g_waitRecorder = this;
}

WaitRecorder::~WaitRecorder() { g_waitRecorder = nullptr; }

DWORD WINAPI WaitRecorder::Record(DWORD count, const HANDLE* handles, BOOL all, DWORD ms,
                                  DWORD mask) {
  const DWORD result = g_waitRecorder->patch_.original<decltype(MsgWaitForMultipleObjects)>()(
      count, handles, all, ms, mask);
  g_waitRecorder->calls.push_back({count, ms, result});
  return result;
}

std::vector<Wait> WaitRecorder::Begun() const {
  std::vector<Wait> begun;
  bool goesOn = false;
  for (const Wait& call : calls) {
    if (goesOn)
      begun.back().result = call.result;
    else
      begun.push_back(call);
    goesOn = call.result == WAIT_OBJECT_0 + call.handles;
  }
  return begun;
}

}  // namespace vrtest
