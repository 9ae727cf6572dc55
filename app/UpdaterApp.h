// The application object: one per process. Its start-up runs the main dialog
// modally; when the dialog ends, the process ends.
#pragma once

class UpdaterApp {
 public:
  // Prepares the process (library search path, common controls), runs the
  // main dialog without an owner and returns false: there is no message loop
  // of the application's own, the process ends after the dialog.
  bool InitInstance();
};
