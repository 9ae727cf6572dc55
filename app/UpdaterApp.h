// The application object: one per process. Its start-up runs the main dialog
// modally; when the dialog ends, the process ends.
#pragma once

class UpdaterApp {
 public:
  // Prepares the process (library search path, common controls), claims the
  // machine for this updater (app/SoleUpdater.h; a second one ends here),
  // runs the main dialog without an owner and returns false: there is no
  // message loop of the application's own, the process ends after the
  // dialog.
  bool InitInstance();
};

// Keeps the download folder and the current directory out of the library
// search path: SetDllDirectoryA("") where Windows has it (XP SP1 and later)
// and SetDefaultDllDirectories(system folder only) where Windows has that
// (8, or 7 with KB2533623). Where neither exists, nothing is called: every
// library the updater loads itself is loaded by its full path anyway.
void HardenLibrarySearch();
