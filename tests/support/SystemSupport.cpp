#include "support/SystemSupport.h"

namespace vrtest {

bool CopyFromProgramFolder(const char* name, const std::string& toFolder) {
  return CopyFileA((ExeFolder() + name).c_str(), (toFolder + name).c_str(), FALSE) != FALSE;
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
  WaitForSingleObject(process_, 5000);
  CloseHandle(process_);
}

bool ChildProcess::Start(const char* program, const char* arguments) {
  std::string path = ExeFolder() + program;
  std::string commandLine = "\"" + path + "\"";
  if (arguments && *arguments) commandLine += std::string(" ") + arguments;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  return true;
}

bool ChildProcess::WaitForExit(DWORD ms) {
  return process_ && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
}

}  // namespace vrtest
