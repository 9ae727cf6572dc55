// Every message box of the updater. One rule for all of them: the text is a
// string of the updater's string table, the caption is the updater's title
// (string 103), and the owner is the main dialog while it exists (none before
// it is created, as for the box of a second updater). Each box is traced with
// its string id and the answer. Which text and which buttons and icon a box
// has is one row of the table in MessageBoxes.cpp.
#pragma once

#include <windows.h>

// The boxes, by the moment they are shown at. One text may be shown by
// several boxes with different buttons (string 106 by three).
enum class Message {
  kNotInstalled,      // the product is not installed
  kDiskFull,          // too little room on the program folder's drive
  kFilesInUse,        // the Start button's scan found a file in use
  kNothingToUpdate,   // installed version not listed, or nothing applies
  kInstalledNewer,    // the installed key file is newer than the update
  kReupdateQuestion,  // the update's version is installed: update again?
  kCannotWrite,       // the program folder cannot be written
  kAppRunning,        // the update procedure's scan found a file in use
  kFileRetry,         // a file cannot be replaced: stop the service and retry?
  kServiceRetry,      // the service is still installed after its removal: retry?
  kUpdateRunning,     // another updater runs
  kRestartQuestion,   // restart Windows now?
};

// The main dialog sets itself while it lives and clears itself when its
// window goes; null before and after.
void SetMessageOwner(HWND owner);
HWND MessageOwner();

// The string id and the box type (MB_...) of a message.
UINT MessageStringId(Message message);
UINT MessageBoxType(Message message);

// Shows message in its box through the test seam (win32/Seams.h); returns
// the button that ended it (IDOK, IDYES, ...).
int ShowUpdaterMessage(Message message);
