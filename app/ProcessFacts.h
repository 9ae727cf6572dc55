// Facts the update needs fixed once per process before the user can press
// Start (classification of the running Windows, the driver state, the
// product's folders), and the leftovers of a killed run settled against the
// update list of this machine. The main dialog calls this while it
// initialises, once this process is the only updater (app/SoleUpdater.h).
#pragma once

void FixProcessWideFacts();
