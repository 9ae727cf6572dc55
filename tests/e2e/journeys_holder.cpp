// e2e_holder: keeps one installed file of the product open without sharing,
// the way a running part of the product would, until it is ended.
//
//   e2e_holder NAME READY-FILE
// NAME is relative to the product's program folder (App Paths, 32-bit view).
// Once the file is held, READY-FILE is written, so the caller knows when the
// updater may start. Exit code 1 when the file cannot be opened.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "testbed/common/ProductKeys.h"
#include "testbed/common/Flavour.h"
#include "win32/UniqueHandle.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: e2e_holder NAME READY-FILE\n");
    return 2;
  }
  win32::RegKey key;
  char folder[MAX_PATH] = "";
  DWORD size = sizeof folder - 1, type = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, testbed::kAppPathsKey, 0, KEY_READ | testbed::kProductView,
                    key.put()) != ERROR_SUCCESS ||
      RegQueryValueExA(key.get(), "Path", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) !=
          ERROR_SUCCESS) {
    fprintf(stderr, "e2e_holder: product not installed\n");
    return 1;
  }
  folder[size] = '\0';
  std::string path = folder;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += argv[1];
  win32::FileHandle held(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  if (!held) {
    fprintf(stderr, "e2e_holder: cannot open %s (%lu)\n", path.c_str(), GetLastError());
    return 1;
  }
  win32::FileHandle ready(
      CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!ready) return 1;
  ready.reset();
  printf("e2e_holder: holding %s\n", path.c_str());
  fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
