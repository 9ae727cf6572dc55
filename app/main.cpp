// Entry point of the updater.
#include <windows.h>

#include "app/UpdaterApp.h"

namespace {
UpdaterApp theApp;
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  theApp.InitInstance();
  return 0;  // nobody reads the exit code
}
