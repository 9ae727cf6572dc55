#include "system/MessageBoxes.h"

#include "res/resource.h"
#include "win32/BufferSizes.h"
#include "win32/ResString.h"
#include "win32/Seams.h"
#include "win32/Trace.h"
#include "win32/TraceSteps.h"

namespace {

constexpr int kMessageCapacity = 1024;

HWND g_owner = nullptr;

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK:
      return "ok";
    case IDCANCEL:
      return "cancel";
    case IDYES:
      return "yes";
    case IDNO:
      return "no";
    case IDRETRY:
      return "retry";
    default:
      return "other";
  }
}

}  // namespace

void SetMessageOwner(HWND owner) { g_owner = owner; }

HWND MessageOwner() { return g_owner; }

int ShowStringMessage(UINT id, UINT type) {
  // A text or title that cannot be loaded shows as empty rather than cut.
  char text[kMessageCapacity] = {};
  char title[win32::kTitleSize] = {};
  win32::LoadResString(id, text, sizeof text);
  win32::LoadResString(IDS_TITLE, title, sizeof title);
  const int answer = seams::ShowMessage(g_owner, text, title, type);
  TraceStep(steps::kMessage, id, AnswerName(answer));
  return answer;
}
