#include "support/SystemSupport.h"

#include <stdio.h>

#include "win32/Seams.h"

namespace vrtest {

namespace {

Recorder* g_recorder = nullptr;

void RecordPause(DWORD ms) {
  g_recorder->pauses.push_back(ms);
  if (g_recorder->realSleepDivisor) Sleep(ms / g_recorder->realSleepDivisor);
  if (g_recorder->onPause) g_recorder->onPause(ms);
}

int RecordBox(HWND owner, const char* text, const char* caption, UINT type) {
  g_recorder->boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  size_t index = g_recorder->boxes.size() - 1;
  return index < g_recorder->answers.size() ? g_recorder->answers[index] : IDCANCEL;
}

}  // namespace

Recorder::Recorder(DWORD divisor) : realSleepDivisor(divisor) {
  g_recorder = this;
  seams::SetPauseHook(&RecordPause);
  seams::SetMessageBoxHook(&RecordBox);
}

Recorder::~Recorder() {
  seams::SetPauseHook(nullptr);
  seams::SetMessageBoxHook(nullptr);
  g_recorder = nullptr;
}

size_t Recorder::CountPauses(DWORD ms) const {
  size_t n = 0;
  for (DWORD p : pauses) n += (p == ms);
  return n;
}

std::string MakeTempFolder(const char* prefix) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  for (unsigned n = GetTickCount() & 0xFFFF;; ++n) {
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%s%s%04x\\", temp, prefix, n);
    if (CreateDirectoryA(folder, nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
}

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
