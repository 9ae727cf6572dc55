#include "app/ProcessFacts.h"

#include "app/Trace.h"
#include "engine/Leftovers.h"
#include "system/ServiceInstaller.h"
#include "updatelist/UpdateList.h"

namespace {

// A run that ended between removing the product's service and installing it
// again left the product without it: it comes back first thing, whether or
// not the user goes on to update.
void ReinstallServiceOfAnEndedRun() {
  if (!leftovers::HasMark(leftovers::Mark::ServiceRemoved)) return;
  const int32_t started = RunServiceInstaller(1, nullptr);
  TraceStep("start: service of an ended run installed again (installer %s)",
            started ? "started" : "not started");
  leftovers::SetMark(leftovers::Mark::ServiceRemoved, false);
}

}  // namespace

// Building a list classifies the running Windows, caches the driver state
// and, the first time in the process, queries the product's folders; the
// list itself is thrown away again.
void FixProcessWideFacts() {
  // A run that was killed left temporaries, or on the 9x family an installed
  // copy moved aside: settled before anything else looks at the files.
  const int settled = leftovers::RemoveEarlierLeftovers();
  if (settled > 0) TraceStep("start: %d leftovers of an earlier run settled", settled);
  UpdateList list;
  list.GetDriverState();
  ReinstallServiceOfAnEndedRun();
}
