// Facts the update needs fixed once per process before the user can press
// Start (classification of the running Windows, the driver state, the
// product's folders), after the leftovers of a killed run are settled. The
// main dialog calls this while it initialises.
#pragma once

void FixProcessWideFacts();
