// Writes (or with --remove deletes) the product's filter registrations on
// their own, without installing the product:
//   RegisterFilters [--size N] [--long INDEX [--long-size N]] [--omit INDEX]... [--remove]
// Exit code 0 when every requested record was written.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "testbed/common/FilterRecord.h"
#include "testbed/installer/FilterRegistrations.h"

int main(int argc, char** argv) {
  testbed::FilterLayout layout;
  int omitted = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool hasValue = i + 1 < argc;
    if (strcmp(a, "--remove") == 0) {
      testbed::RemoveFilterRegistrations();
      return 0;
    } else if (strcmp(a, "--size") == 0 && hasValue) {
      layout.size = strtoul(argv[++i], nullptr, 10);
    } else if (strcmp(a, "--long") == 0 && hasValue) {
      layout.longFilter = atoi(argv[++i]);
    } else if (strcmp(a, "--long-size") == 0 && hasValue) {
      layout.longSize = strtoul(argv[++i], nullptr, 10);
    } else if (strcmp(a, "--omit") == 0 && hasValue) {
      int n = atoi(argv[++i]);
      if (n < 0 || n >= testbed::kFilterCount) return 2;
      omitted += layout.omit[n] ? 0 : 1;
      layout.omit[n] = true;
    } else {
      fprintf(stderr, "RegisterFilters: unknown argument %s\n", a);
      return 2;
    }
  }
  int written = testbed::WriteFilterRegistrations(layout);
  printf("RegisterFilters: %d records written\n", written);
  return written == testbed::kFilterCount - omitted ? 0 : 1;
}
