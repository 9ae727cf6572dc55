#include "testbed/installer/InstallOptions.h"

#include <strsafe.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "testbed/common/FilterRecord.h"

namespace testbed {

namespace {
bool CopyArg(char* dest, size_t capacity, const char* value) {
  return SUCCEEDED(StringCchCopyA(dest, capacity, value));
}
}  // namespace

bool ParseInstallOptions(int argc, char** argv, InstallOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = true;
    bool tookValue = false;
    auto text = [&](char* dest, size_t cap) {
      tookValue = true;
      ok = v && CopyArg(dest, cap, v);
    };
    auto number = [&](DWORD* dest) {
      tookValue = true;
      ok = v != nullptr;
      if (ok) *dest = strtoul(v, nullptr, 10);
    };
    if (a[0] != '-') {
      ok = o->version[0] == '\0' && CopyArg(o->version, sizeof o->version, a);
    } else if (!strcmp(a, "--program-folder")) {
      text(o->programFolder, sizeof o->programFolder);
    } else if (!strcmp(a, "--common-folder")) {
      text(o->commonFolder, sizeof o->commonFolder);
    } else if (!strcmp(a, "--shared-folder")) {
      text(o->sharedFolder, sizeof o->sharedFolder);
    } else if (!strcmp(a, "--uplist")) {
      text(o->upList, sizeof o->upList);
    } else if (!strcmp(a, "--qfcontrol")) {
      text(o->qfControl, sizeof o->qfControl);
    } else if (!strcmp(a, "--run-value")) {
      text(o->runValue, sizeof o->runValue);
    } else if (!strcmp(a, "--no-trailing-backslash")) {
      o->trailingBackslash = false;
    } else if (!strcmp(a, "--wrong-length")) {
      o->wrongLength = true;
    } else if (!strcmp(a, "--length")) {
      number(&o->keyLength);
    } else if (!strcmp(a, "--no-app-path")) {
      o->appPath = false;
    } else if (!strcmp(a, "--no-uninstall-entry")) {
      o->uninstallEntry = false;
    } else if (!strcmp(a, "--no-service")) {
      o->service = false;
    } else if (!strcmp(a, "--no-filters")) {
      o->filters = false;
    } else if (!strcmp(a, "--filter-size")) {
      number(&o->filterLayout.size);
    } else if (!strcmp(a, "--filter-long")) {
      DWORD n = 0;
      number(&n);
      o->filterLayout.longFilter = static_cast<int>(n);
      ok = ok && n < static_cast<DWORD>(kFilterCount);
    } else if (!strcmp(a, "--filter-omit")) {
      DWORD n = 0;
      number(&n);
      ok = ok && n < static_cast<DWORD>(kFilterCount);
      if (ok) o->filterLayout.omit[n] = true;
    } else if (!strcmp(a, "--no-comserver")) {
      o->registerComServer = false;
    } else if (!strcmp(a, "--servinst-delay")) {
      number(&o->servinstDelayMs);
    } else if (!strcmp(a, "--servinst-refuse")) {
      o->servinstRefuse = true;
    } else if (!strcmp(a, "--soundfx-count")) {
      number(&o->soundFxCount);
    } else {
      ok = false;
    }
    if (!ok) {
      fprintf(stderr, "install-product: bad argument %s\n", a);
      return false;
    }
    if (tookValue) ++i;
  }
  if (o->version[0] == '\0') {
    fprintf(stderr, "install-product: no version given\n");
    return false;
  }
  return true;
}

}  // namespace testbed
