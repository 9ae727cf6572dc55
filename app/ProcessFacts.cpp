#include "app/ProcessFacts.h"

#include "updatelist/UpdateList.h"

// Building a list classifies the running Windows, caches the driver state
// and, the first time in the process, queries the product's folders; the
// list itself is thrown away again.
void FixProcessWideFacts() {
  UpdateList list;
  list.GetDriverState();
}
