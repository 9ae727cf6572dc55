/* Loads each library named on the command line by bare name, as a careless
   program would: shows that a planted copy is found where the loader looks,
   so that the planting journey's check can fail. Exit code: the number of
   names that did not load. */
#include <windows.h>

int main(int argc, char** argv) {
  int failed = 0;
  int i;
  for (i = 1; i < argc; ++i) {
    if (!LoadLibraryA(argv[i])) ++failed;
  }
  return failed;
}
