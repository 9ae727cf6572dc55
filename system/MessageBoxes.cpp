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

struct MessageRow {
  Message message;
  UINT stringId;
  UINT type;
};

// One row per box, in the order of the enumeration.
constexpr MessageRow kMessages[] = {
    {Message::kNotInstalled, IDS_NOT_INSTALLED, MB_OK | MB_ICONINFORMATION},
    {Message::kDiskFull, IDS_DISK_FULL, MB_OK | MB_ICONINFORMATION},
    {Message::kFilesInUse, IDS_FILES_IN_USE, MB_OK | MB_ICONEXCLAMATION},
    {Message::kNothingToUpdate, IDS_NOTHING_TO_UPDATE, MB_OK | MB_ICONINFORMATION},
    {Message::kInstalledNewer, IDS_INSTALLED_NEWER, MB_OK | MB_ICONINFORMATION},
    {Message::kReupdateQuestion, IDS_REUPDATE_QUESTION, MB_YESNO | MB_ICONQUESTION},
    {Message::kCannotWrite, IDS_CANNOT_WRITE, MB_OK | MB_ICONINFORMATION},
    {Message::kAppRunning, IDS_APP_RUNNING, MB_OK | MB_ICONINFORMATION},
    {Message::kFileRetry, IDS_APP_RUNNING, MB_RETRYCANCEL},
    {Message::kServiceRetry, IDS_APP_RUNNING, MB_RETRYCANCEL | MB_ICONINFORMATION},
    {Message::kUpdateRunning, IDS_UPDATE_RUNNING, MB_OK | MB_ICONINFORMATION},
    {Message::kRestartQuestion, IDS_RESTART_QUESTION, MB_YESNO | MB_ICONQUESTION},
};

constexpr bool RowsFollowTheEnumeration() {
  for (size_t i = 0; i < sizeof kMessages / sizeof kMessages[0]; ++i) {
    if (static_cast<size_t>(kMessages[i].message) != i) return false;
  }
  return true;
}
static_assert(RowsFollowTheEnumeration(), "one row per message, in order");
static_assert(sizeof kMessages / sizeof kMessages[0] ==
                  static_cast<size_t>(Message::kRestartQuestion) + 1,
              "every message has a row");

const MessageRow& RowOf(Message message) { return kMessages[static_cast<size_t>(message)]; }

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

UINT MessageStringId(Message message) { return RowOf(message).stringId; }

UINT MessageBoxType(Message message) { return RowOf(message).type; }

int ShowUpdaterMessage(Message message) {
  const UINT id = RowOf(message).stringId;
  // A text or title that cannot be loaded shows as empty rather than cut.
  char text[kMessageCapacity] = {};
  char title[win32::kTitleSize] = {};
  win32::LoadResString(id, text, sizeof text);
  win32::LoadResString(IDS_TITLE, title, sizeof title);
  const int answer = seams::ShowMessage(g_owner, text, title, RowOf(message).type);
  TraceStep(steps::kMessage, id, AnswerName(answer));
  return answer;
}
