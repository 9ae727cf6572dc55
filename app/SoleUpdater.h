// One updater at a time on the whole machine. The first one holds a named
// mutex for the life of its process; a second one (started twice, or by
// another user in another session) tells the user and ends before it changes
// anything: no settlement of leftovers, no service change, no dialog. The
// temporaries and marks of the running updater are then left to it.
//
// Another program that holds the name keeps every updater from running (each
// says that an update is running); it gains nothing else by it.
#pragma once

#include <windows.h>

// The mutex's name on the Windows of version record os: in the global
// namespace ("Global\VrUpdater1030.Running") where the system knows the
// prefix, Windows 2000 and later, so that every session sees the same
// object; the plain name on NT 4.0 and the 9x family, which refuse a
// backslash in an object name and have one namespace only.
const char* SoleUpdaterMutexName(const OSVERSIONINFOEXA& os);

// Claims the mutex for the rest of the process (called once, at start). False
// when another updater holds it (or the name cannot be had at all): the user has been told with
// string 147 under the updater's title (information, OK, no owner), and the
// process must end without changing anything.
bool ClaimSoleUpdater();
