// Holds a file open until told to let go, without sharing as a running
// program would, or with the sharing a scanner gives:
//   replace_holder <path> <ready event> <release event> [share mode]
// Signals the ready event once the file is open; exits 2 when it cannot open
// it, 3 when the events are missing.
#include <windows.h>
#include <stdlib.h>

#include "win32/UniqueHandle.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 3;
  const DWORD share = argc == 5 ? strtoul(argv[4], nullptr, 10) : 0;
  win32::KernelHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]));
  win32::KernelHandle release(OpenEventA(SYNCHRONIZE, FALSE, argv[3]));
  if (!ready || !release) return 3;
  win32::FileHandle file(CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  SetEvent(ready.get());
  WaitForSingleObject(release.get(), 120000);
  return 0;
}
