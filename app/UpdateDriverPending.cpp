// Temporary: the update driver (OnStart, RunUpdate) is being written in
// app/UpdateDriver.cpp. Until that file is part of the build, these bodies
// keep the updater linking; the build leaves this file out as soon as the
// real one is listed, and it is deleted then.
#include "app/UpdaterDialog.h"

void UpdaterDialog::OnStart() {}
void UpdaterDialog::RunUpdate() {}
