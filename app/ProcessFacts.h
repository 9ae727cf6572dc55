// Facts the update needs fixed once per process before the user can press
// Start (classification of the running Windows, the driver state, the
// product's folders), and the leftovers of a killed run settled against the
// update list of this machine. The main dialog calls this while it
// initialises, once this process is the only updater (app/SoleUpdater.h).
#pragma once

class ProductEnvironment;

// Detects the environment (engine/ProductEnvironment.h), installs a service
// that an ended run removed again and settles a killed run's leftovers.
void FixProcessWideFacts(ProductEnvironment& environment);
