// The product's main executable as far as the updater is concerned: a program
// whose version resource carries the installed version. The installer pads
// it to the length that version's file has.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
