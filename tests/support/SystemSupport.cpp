#include "support/SystemSupport.h"

namespace vrtest {

std::string ExeFolderCommand(const char* program, const std::string& arguments) {
  const std::string command = "\"" + ExeFolder() + program + "\"";
  return arguments.empty() ? command : command + " " + arguments;
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
  WaitForSingleObject(process_.get(), 5000);
}

bool ChildProcess::Start(const std::string& commandLine, const char* directory) {
  std::string command = commandLine;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory, &si,
                      &pi))
    return false;
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  return true;
}

bool ChildProcess::WaitForExit(DWORD ms) {
  return process_ && WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0;
}

int ChildProcess::ExitCode() const {
  DWORD code = 0;
  if (!process_ || WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process_.get(), &code))
    return -1;
  return static_cast<int>(code);
}

int RunAndWait(const std::string& commandLine, DWORD timeoutMs) {
  ChildProcess child;
  if (!child.Start(commandLine) || !child.WaitForExit(timeoutMs)) return -1;
  return child.ExitCode();
}

}  // namespace vrtest
