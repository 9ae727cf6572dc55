// Command line of the product's installer (VrInstallProduct.exe):
//   VrInstallProduct VERSION [options]
// VERSION is dotted ("10.2.9.0"); a key file for it must have been built.
#pragma once

#include <windows.h>

#include "testbed/installer/FilterRegistrations.h"

namespace testbed {

struct InstallOptions {
  char version[32] = "";
  // Empty folders take the defaults: <Program Files>\Marrowick\Vorrel Recorder,
  // <Common Files>\Marrowick and <Common Files>\Marrowick\Shared (the folders
  // of a 32-bit installer, so "Program Files (x86)" on 64-bit Windows).
  char programFolder[MAX_PATH] = "";
  char commonFolder[MAX_PATH] = "";
  char sharedFolder[MAX_PATH] = "";
  char upList[MAX_PATH] = "";     // update list whose files get older copies
  char qfControl[32] = "normal";  // normal, noexport, empty, stdcall, none
  char runValue[MAX_PATH] = "";   // updater path for the Run value; empty: none
  bool trailingBackslash = true;  // recorded folder texts end in a backslash
  bool wrongLength = false;       // key file longer than its version's length
  DWORD keyLength = 0;            // explicit key file length (0: by version)
  bool appPath = true;            // write the App Paths entry
  bool uninstallEntry = true;     // write the Uninstall entry
  bool service = true;            // install the service through Servinst.exe
  bool filters = true;            // write the filter registrations
  FilterLayout filterLayout;
  bool registerComServer = true;
  DWORD servinstDelayMs = 0;
  bool servinstRefuse = false;
  DWORD soundFxCount = 0;  // 0: leave the library's default
};

// Fills options from argv; false (with a message on stderr) on a bad line.
bool ParseInstallOptions(int argc, char** argv, InstallOptions* options);

}  // namespace testbed
