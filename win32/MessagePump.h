// Waits that keep the updater's windows answering. Windows offers to end a
// program whose window has not taken its messages for a few seconds; the
// updater pauses and waits for other programs for up to a minute right
// after it has removed the product's service, and ending it then would
// leave the product without one.
#pragma once

#include <windows.h>

namespace win32 {

// The dialog whose keyboard and mouse messages are handled while waiting
// (the main dialog); null: none. Anything else but painting is dropped, so
// no other work starts while the updater waits.
void SetPumpDialog(HWND dialog);

// Takes one waiting message of the thread and handles it as above; false
// when none was waiting. Messages sent from other threads or programs
// (a shutdown query among them) are handled inside as well. Inside a span
// with WOW64 redirection off nothing is taken (false at once).
bool HandleOneMessage();

// Waits ms milliseconds in all, or until handle (when not null) is
// signalled, handling the thread's messages meanwhile (not inside a span
// with WOW64 redirection off: there it only waits). True when handle was
// signalled.
bool WaitPumping(HANDLE handle, DWORD ms);

}  // namespace win32
