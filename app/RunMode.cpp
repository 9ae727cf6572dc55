#include "app/RunMode.h"

#include <windows.h>

#include <string.h>

RunMode RunModeOfCommandLine(const char* commandLine) {
  if (!commandLine) return RunMode::Normal;
  size_t length = strlen(commandLine);
  if (length <= 2) return RunMode::Normal;
  // Comparing bytes is safe in code page 932: '/' is never a lead byte, so a
  // trailing "/r" is always these two characters and never half of one.
  if (commandLine[length - 1] == 'r' && commandLine[length - 2] == '/') return RunMode::Resume;
  return RunMode::Normal;
}

RunMode GetRunMode() { return RunModeOfCommandLine(GetCommandLineA()); }
