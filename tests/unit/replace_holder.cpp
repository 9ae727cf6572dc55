// Holds a file open without sharing until told to let go, as a running
// program or a scanner would:
//   replace_holder <path> <ready event> <release event>
// Signals the ready event once the file is open; exits 2 when it cannot open
// it, 3 when the events are missing.
#include <windows.h>

#include "win32/UniqueHandle.h"

int main(int argc, char** argv) {
  if (argc != 4) return 3;
  win32::KernelHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]));
  win32::KernelHandle release(OpenEventA(SYNCHRONIZE, FALSE, argv[3]));
  if (!ready || !release) return 3;
  win32::FileHandle file(CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  SetEvent(ready.get());
  WaitForSingleObject(release.get(), 120000);
  return 0;
}
