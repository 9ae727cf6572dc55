// Shutting down the product's resident launcher before files are replaced.
// The launcher is known only by the class of its top-level window.
#pragma once

#include <windows.h>

#include <stdint.h>

constexpr char kLauncherWindowClass[] = "VrOstrel";

// How long the launcher may take to handle the close request before the
// polls start anyway. A launcher that hangs in its handler must not hold the
// updater for ever; the updater's windows keep answering meanwhile.
constexpr DWORD kLauncherCloseTimeoutMs = 5000;
constexpr int kLauncherPolls = 10;
constexpr DWORD kLauncherPollPauseMs = 500;

// Asks the launcher window to close and waits for it to go.
//    1  no launcher window existed; nothing was sent
//    0  it was asked to close and disappeared within the polls
//   -1  it was asked to close and was still there after the last poll
// Never terminates the launcher and never sends it anything but WM_CLOSE.
int32_t CloseLauncherWindow();
