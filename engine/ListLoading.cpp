// The update list over its environment: construction, and the list loaded
// from the store of this updater for the installed product.
#include "engine/PayloadStore.h"
#include "engine/ProductEnvironment.h"
#include "engine/UserPort.h"
#include "system/MessageBoxes.h"
#include "system/ProductDetection.h"
#include "updatelist/UpdateList.h"
#include "win32/Seams.h"

UpdateList::UpdateList(const ProductEnvironment& environment)
    : environment_(environment), folders_(environment.folders()), osClass_(environment.osClass()) {}

int UpdateList::Ask(Message message) {
  return port_ ? port_->Ask(message) : ShowUpdaterMessage(message);
}

int32_t UpdateList::LoadList() {
  ClearList();
  Lz32Library& lz32 = environment_.lz32();
  if (!lz32.module() && !lz32.Load(nullptr)) return 0;
  if (!GetProgramFolder(programFolder, sizeof programFolder)) return 0;
  // The list is read where the loader mapped the store entry: no copy of it
  // exists that another program could change or replace while the updater,
  // with administrator rights, reads it.
  const void* text = nullptr;
  DWORD size = 0;
  if (!PayloadStore::MapEntry(seams::StoreModule(), "uplist.ini", PayloadStore::kType, &text,
                              &size)) {
    return 0;
  }
  return LoadFromText(static_cast<const char*>(text), size);
}
