// Processes as the tests start them: a child that is ended when the test
// ends, a program run to its end, and a wait for a condition.
#pragma once

#include <windows.h>

#include <string>

#include "support/Files.h"
#include "support/SeamRecorder.h"
#include "win32/UniqueHandle.h"

namespace vrtest {

// The command line of a program of the test program's folder: its quoted
// path, then arguments (when any).
std::string ExeFolderCommand(const char* program, const std::string& arguments = std::string());

// A process started from a command line (in directory when given),
// terminated (if still running) and waited for when the object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Start(const std::string& commandLine, const char* directory = nullptr);
  bool WaitForExit(DWORD ms);
  // The exit code once ended; -1 while running or when it never started.
  int ExitCode() const;
  HANDLE process() const { return process_.get(); }

 private:
  win32::KernelHandle process_;
};

// Runs a command line and waits up to timeoutMs; the exit code, or -1 when
// it could not start or did not finish.
int RunAndWait(const std::string& commandLine, DWORD timeoutMs = 30000);

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
