#include "app/ProcessFacts.h"

#include "win32/Trace.h"
#include "win32/TraceSteps.h"
#include "engine/Leftovers.h"
#include "engine/ProductEnvironment.h"
#include "engine/UpdateEngine.h"
#include "system/ProductDetection.h"
#include "system/ServiceInstaller.h"
#include "updatelist/UpdateList.h"
#include "win32/BufferSizes.h"

namespace {

// A run that was killed left temporaries, or on the 9x family an installed
// copy moved aside. A record names a file the updater may touch only when
// the list of this machine gives its folder, so records are settled only
// against a loaded list of an installed product; without one they are kept
// for a later start.
void SettleEarlierLeftovers(const ProductEnvironment& environment) {
  if (!leftovers::AnyRecords()) return;
  char programFolder[kProgramFolderCapacity] = {};
  const UpdateList list = GetProgramFolder(programFolder, sizeof programFolder)
                              ? LoadListFromStore(environment)
                              : UpdateList();
  if (!list.fileTotal()) {
    TraceStep(steps::kStartLeftoversKept);
    return;
  }
  const int settled = leftovers::RemoveEarlierLeftovers(list, environment.osClass());
  if (settled > 0) TraceStep(steps::kStartLeftoversSettled, settled);
}

}  // namespace

namespace {

// A run that ended between removing the product's service and installing it
// again left the product without it: it comes back first thing, whether or
// not the user goes on to update.
void ReinstallServiceOfAnEndedRun(const ProductEnvironment& environment) {
  if (!leftovers::HasMark(leftovers::Mark::ServiceRemoved)) return;
  const int32_t started = RunServiceInstallerIn(environment.folders().common, 1);
  TraceStep(steps::kStartServiceReinstalled, started ? "started" : "not started");
  leftovers::SetMark(leftovers::Mark::ServiceRemoved, false);
}

}  // namespace

void FixProcessWideFacts(ProductEnvironment& environment) {
  environment.Detect();
  ReinstallServiceOfAnEndedRun(environment);
  SettleEarlierLeftovers(environment);
}
