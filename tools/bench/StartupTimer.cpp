// vrstartup: how long a program takes from its start until its main dialog
// (the updater's, found the way the robot finds it) is on screen.
//
//   vrstartup RUNS A.exe B.exe
//
// Starts A and B in turn, RUNS times each after one start of each that is
// not counted (it warms the prefix's caches), presses Close once the dialog
// shows and waits for the program to end. Prints one STARTUP line per
// program with the median and the least time in milliseconds, then one
// STARTUP_DIFF line with the median of B's time less A's over the pairs of
// starts made one after the other: single starts under Wine vary by
// hundreds of milliseconds, and a pair shares most of what slows it. Exit code 0
// when every start showed its dialog within 30 s, 1 otherwise, 2 on bad
// arguments.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testbed/robot/Robot.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the main dialog was visible, or a negative number.
double TimeOneStart(const std::string& exe) {
  double begin = Now();
  robot::Process process;
  if (!process.Start(exe, "", false)) return -1;
  HWND main = nullptr;
  while (!main && Now() - begin < 30000) {
    main = robot::FindWindowOfKind(process.pid(), robot::WindowKind::MainDialog);
    if (!main) Sleep(1);
  }
  double shown = Now() - begin;
  DWORD code = 0;
  if (main) robot::Press(main, IDCANCEL);
  if (!process.WaitExit(10000, &code)) process.Terminate();
  return main ? shown : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc == 4 ? atoi(argv[1]) : 0;
  if (runs < 1) {
    fprintf(stderr, "usage: vrstartup RUNS A.exe B.exe\n");
    return 2;
  }
  const std::string exes[2] = {robot::ToWindowsPath(argv[2]), robot::ToWindowsPath(argv[3])};
  std::vector<double> times[2];
  bool ok = true;
  for (int run = 0; run <= runs; ++run) {
    double ms[2];
    for (int which = 0; which < 2; ++which) {
      ms[which] = TimeOneStart(exes[which]);
      if (ms[which] < 0) {
        printf("STARTUP %s: no dialog\n", exes[which].c_str());
        ok = false;
      }
    }
    if (run > 0 && ms[0] >= 0 && ms[1] >= 0) {  // pairs only, so the differences line up
      times[0].push_back(ms[0]);
      times[1].push_back(ms[1]);
    }
  }
  std::vector<double> diffs;
  for (size_t i = 0; i < times[0].size(); ++i) diffs.push_back(times[1][i] - times[0][i]);
  for (int which = 0; which < 2; ++which) {
    std::vector<double>& t = times[which];
    if (t.empty()) continue;
    std::sort(t.begin(), t.end());
    printf("STARTUP exe=%s runs=%u median_ms=%.0f min_ms=%.0f\n", exes[which].c_str(),
           static_cast<unsigned>(t.size()), t[t.size() / 2], t.front());
  }
  if (!diffs.empty()) {
    std::sort(diffs.begin(), diffs.end());
    printf("STARTUP_DIFF pairs=%u median_ms=%.0f\n", static_cast<unsigned>(diffs.size()),
           diffs[diffs.size() / 2]);
  }
  fflush(stdout);
  return ok ? 0 : 1;
}
