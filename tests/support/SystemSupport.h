// Shared pieces of the system integration tests: programs copied from the
// folder of the test program (where the testbed's programs lie), a child
// process that is ended when the test ends, and a wait for a condition.
#pragma once

#include <windows.h>

#include <string>

#include "support/Files.h"
#include "support/SeamRecorder.h"

namespace vrtest {

// Copies the program folder's file name into toFolder.
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
