// Deterministic interruption, for the kill campaign (tests/e2e/killcampaign.py).
//
// A test-only build of the updater, compiled with VR_KILL_POINTS, ends its
// own process when it reaches the point its environment names:
//
//   VR_KILL_AT=TEXT      the first point whose name is TEXT or begins with
//                        TEXT and a character that is no letter or digit
//   VR_KILL_AT=TEXT#N    the N-th such point
//
// Points are reached after every step the updater traces (win32/Trace.h; the
// name is the step's text) and at the named windows marked with
// VR_KILL_POINT in the code. The process first traces
// "VrUpdater: kill point TEXT#N at NAME" (so that a point reached can be told
// from one never reached), then terminates itself at once, without any
// clean-up: what a crash or the task manager would leave behind. It is not a
// power cut: data written but not yet on the disc, and the registry, survive
// the end of the process.
//
// In the updater that ships, VR_KILL_POINT expands to nothing: no point
// names and no look at the environment reach its code (tests/static checks
// the shipped program for them).
#pragma once

#ifdef VR_KILL_POINTS

namespace win32 {

// Exit code of a process that ended at a kill point.
constexpr unsigned kKillPointExitCode = 0xDEAD;

// Ends the process here when VR_KILL_AT names this point; returns otherwise.
void ReachKillPoint(const char* name);

}  // namespace win32

#define VR_KILL_POINT(name) ::win32::ReachKillPoint(name)

#else

#define VR_KILL_POINT(name) static_cast<void>(0)

#endif
