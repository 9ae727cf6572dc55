// Shared pieces of the system integration tests: recorded pauses and message
// boxes, the folder of the test program (where the testbed's programs lie),
// and a child process that is ended when the test ends.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/Files.h"

namespace vrtest {

struct Box {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

// Installs the pause and message-box hooks for the lifetime of the object.
// Pauses are recorded; each also sleeps realSleepDivisor-th of its length
// (0: not at all), so other processes get time to act, and is told to
// onPause (when set), which looks at the run from inside it. Boxes are
// answered from answers in order, IDCANCEL once they run out.
class Recorder {
 public:
  explicit Recorder(DWORD realSleepDivisor = 0);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  std::vector<DWORD> pauses;
  std::vector<Box> boxes;
  std::vector<int> answers;
  DWORD realSleepDivisor;
  std::function<void(DWORD)> onPause;

  size_t CountPauses(DWORD ms) const;
};

// A new empty folder under the temporary folder, ending in a backslash.
std::string MakeTempFolder(const char* prefix);
bool CopyFromProgramFolder(const char* name, const std::string& toFolder);

// A process started from the program folder, terminated (if still running)
// and waited for when the object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Start(const char* program, const char* arguments);
  bool WaitForExit(DWORD ms);
  HANDLE process() const { return process_; }

 private:
  HANDLE process_ = nullptr;
};

// Polls (with real sleeps) until test() holds or ms have passed.
template <typename Test>
bool WaitUntil(Test test, DWORD ms) {
  for (DWORD waited = 0;; waited += 50) {
    if (test()) return true;
    if (waited >= ms) return false;
    Sleep(50);
  }
}

}  // namespace vrtest
