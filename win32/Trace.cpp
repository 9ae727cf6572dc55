#include "win32/Trace.h"

#include <windows.h>

#include <stdarg.h>
#include <strsafe.h>

#include "win32/BoundedString.h"
#include "win32/KillPoint.h"

namespace {
constexpr char kPrefix[] = "VrUpdater: ";
}

void TraceStep(const char* format, ...) {
  char body[400] = {};
  va_list args;
  va_start(args, format);
  HRESULT hr = StringCchVPrintfA(body, sizeof body, format, args);
  va_end(args);
  if (FAILED(hr)) win32::CopyText(body, sizeof body, format);

  char line[sizeof kPrefix + sizeof body + 1] = {};
  win32::CopyText(line, sizeof line, kPrefix);
  win32::AppendText(line, sizeof line, body);
  win32::AppendText(line, sizeof line, "\n");
  OutputDebugStringA(line);
  VR_KILL_POINT(body);
}
