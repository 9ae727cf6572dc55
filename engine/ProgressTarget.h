// What the install engine reports its progress to. The engine sees only this
// record and the callback; the dialog behind it is the update driver's, and
// only its name is known here, so nothing below app/ includes app/.
#pragma once

#include <stdint.h>

class UpdaterDialog;

struct ProgressTarget {
  UpdaterDialog* dialog = nullptr;  // none makes every report a no-op
  int32_t total = 0;                // files that make 100 %
};

// (target, done count, reserved 0, status text or null); non-zero = go on.
using ProgressFn = int32_t (*)(ProgressTarget* target, int32_t done, int32_t reserved,
                               const char* text);
