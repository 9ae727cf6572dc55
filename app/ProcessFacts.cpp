#include "app/ProcessFacts.h"

#include "app/Trace.h"
#include "engine/Leftovers.h"
#include "updatelist/UpdateList.h"

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
}
