// TEMPORARY: stands in for the driver-state check until engine/GroupCheck.cpp
// provides UpdateList::GetDriverState; delete this file (and its line in
// engine/CMakeLists.txt) when that lands. Not a driver check: it answers 1
// without looking at the driver file.
#include "updatelist/UpdateList.h"

int32_t UpdateList::GetDriverState() { return 1; }
