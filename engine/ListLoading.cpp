// The list loaded from the store of this updater for the installed product,
// and the engine over a loaded list.
#include "engine/PayloadStore.h"
#include "engine/ProductEnvironment.h"
#include "engine/UpdateEngine.h"
#include "engine/UserPort.h"
#include "system/MessageBoxes.h"
#include "system/ProductDetection.h"
#include "updatelist/UpdateList.h"
#include "win32/Seams.h"

UpdateList LoadListFromStore(const ProductEnvironment& environment) {
  Lz32Library& lz32 = environment.lz32();
  if (!lz32.module() && !lz32.Load(nullptr)) return UpdateList();
  char programFolder[kProgramFolderCapacity] = {};
  if (!GetProgramFolder(programFolder, sizeof programFolder)) return UpdateList();
  // The list is read where the loader mapped the store entry: no copy of it
  // exists that another program could change or replace while the updater,
  // with administrator rights, reads it.
  const void* text = nullptr;
  DWORD size = 0;
  if (!PayloadStore::MapEntry(seams::StoreModule(), "uplist.ini", PayloadStore::kType, &text,
                              &size)) {
    return UpdateList();
  }
  const ListInputs inputs{environment.folders(), environment.osClass(), programFolder};
  return UpdateList::Parse(static_cast<const char*>(text), size, inputs);
}

UpdateEngine::UpdateEngine(const UpdateList& list, const ProductEnvironment& environment,
                           UserPort* port, RunState& state)
    : list_(list),
      environment_(environment),
      port_(port),
      state_(state),
      osClass_(environment.osClass()) {}

int UpdateEngine::Ask(Message message) {
  return port_ ? port_->Ask(message) : ShowUpdaterMessage(message);
}
