// The product's background service, removed before files are replaced and
// installed again afterwards. The updater never creates, stops or deletes the
// service itself: it runs the product's own installer "Servinst.exe" from the
// maker's common folder and only asks the service control manager whether the
// service is still registered.
#pragma once

#include <windows.h>

#include <stdint.h>

constexpr char kServiceName[] = "qfsvcg";
constexpr char kServiceInstallerName[] = "Servinst.exe";
constexpr char kServiceRemoveArgument[] = "-D";

// Pause after the installer was started, to let it get going.
constexpr DWORD kServiceInstallerStartPauseMs = 500;
// Removal waits for the service to disappear: one check, then up to 61
// re-checks, one pause of a second before each re-check and after the last.
constexpr DWORD kServiceWaitPauseMs = 1000;
constexpr int kServiceWaitRechecks = 61;
// Removal then waits for the installer itself to end (its program is one of
// the update's files), as long again at most.
constexpr DWORD kInstallerEndWaitMs = (kServiceWaitRechecks + 1) * kServiceWaitPauseMs;
// Then, for an installer another run started, until its program's file is
// free: looked at every 100 ms, for 10 s at most (a file held for good is
// reported by the in-use checks that follow).
constexpr DWORD kInstallerFilePollMs = 100;
constexpr DWORD kInstallerFileWaitMs = 10000;

// 1 when the local service control manager (opened with full access) knows
// the service and lets it be opened for query and stop; else 0.
int32_t IsServiceInstalled(const char* name);

// Runs the installer in commonFolder (ends in a backslash; the product
// environment's, engine/ProductEnvironment.h): removal (install 0, argument "-D") or
// installation (non-zero, no argument). Does nothing on the 9x family or
// while the common folder is unknown (empty). Removal then waits for "qfsvcg" to
// disappear and for the installer to end and, while the service is still
// there, asks Retry/Cancel (message 106, system/MessageBoxes.h); Retry
// repeats the whole removal. Returns 1 when this call started the
// installer, else 0.
int32_t RunServiceInstallerIn(const char* commonFolder, int32_t install);
