// Every message box of the updater. One rule for all of them: the text is a
// string of the updater's string table, the caption is the updater's title
// (string 103), and the owner is the main dialog while it exists (none before
// it is created, as for the box of a second updater). Each box is traced with
// its string id and the answer.
#pragma once

#include <windows.h>

// The main dialog sets itself while it lives and clears itself when its
// window goes; null before and after.
void SetMessageOwner(HWND owner);
HWND MessageOwner();

// Shows string id in a box of the given type (MB_...) through the test seam
// (win32/Seams.h); returns the button that ended it (IDOK, IDYES, ...).
int ShowStringMessage(UINT id, UINT type);
