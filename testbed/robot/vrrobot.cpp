// vrrobot: drives the updater's windows for tests and demonstrations.
//
//   vrrobot [options] -- updater.exe [arguments]
//     --resume               append " /r" to the updater's command line
//     --start                press Start (IDC_START) once the main dialog shows
//     --answer ID=BUTTON     answer the box showing string ID with BUTTON
//                            (OK, Cancel, Yes, No, Retry, ...); repeatable.
//                            Default: OK, else No, else Cancel.
//     --expect ID,ID,...     the string ids the boxes must show, in order
//     --close-when-idle MS   press Close once no box or wait window has been
//                            seen for MS milliseconds
//     --shot-dir DIR         save the screen as DIR\<name>.bmp before
//                            answering a box, and once for the main dialog
//                            and once during the install pass ("install")
//     --timeout SECONDS      give up (and end the updater) after this; 120
//     --timing               add " t=MS" (milliseconds since the updater was
//                            started) to the PRESS and BOX lines
//     --memory               one MEMORY line with the updater's memory
//                            figures once the main dialog has been idle for
//                            a second (just before Start is pressed) and
//                            one as each box appears
//
// One JSON record per event on stdout (UTF-8), its kind in "event": main,
// wait, box (id, buttons, answer, caption, text), press (button), shot (path,
// ok), buttons (start, close: whenever Start or Close changes between
// enabled and disabled), memory, warn, error, timeout, mismatch and exit
// (code, ids); "t" with --timing. tests/e2e/journeys.py reads them.
// Exit code: 0 the updater ended (and --expect matched), 1 --expect did not
// match, 2 timeout, 3 the updater could not be started, 4 bad arguments.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "res/resource.h"
#include "testbed/common/JsonText.h"
#include "testbed/robot/Robot.h"

namespace {

struct Options {
  bool resume = false;
  bool start = false;
  std::vector<std::pair<int, int>> answers;  // string id -> button id
  bool checkExpect = false;
  std::vector<int> expect;
  DWORD closeWhenIdleMs = 0;
  std::string shotDir;
  DWORD timeoutMs = 120000;
  bool timing = false;
  bool memory = false;
  std::string exe;
  std::string arguments;
};

// One record: {"event":EVENT, fields...}, printed when it goes.
class Record {
 public:
  explicit Record(const char* event) { Raw("event", testbed::JsonText(event)); }
  ~Record() {
    printf("{%s}\n", fields_.c_str());
    fflush(stdout);
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  Record& Text(const char* name, const std::string& value) {
    return Raw(name, testbed::JsonText(value));
  }
  Record& Number(const char* name, unsigned long long value) {
    return Raw(name, std::to_string(value));
  }
  Record& Raw(const char* name, const std::string& json) {
    fields_ += (fields_.empty() ? "" : ",") + testbed::JsonField(name, json);
    return *this;
  }

 private:
  std::string fields_;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](std::string* value) {
      if (i + 1 >= argc) return false;
      *value = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--") {
      ++i;
      break;
    } else if (a == "--resume") {
      o->resume = true;
    } else if (a == "--start") {
      o->start = true;
    } else if (a == "--answer" && next(&v)) {
      size_t eq = v.find('=');
      int button = eq == std::string::npos ? 0 : robot::ButtonIdOfName(v.substr(eq + 1));
      if (!button) return false;
      o->answers.emplace_back(atoi(v.substr(0, eq).c_str()), button);
    } else if (a == "--expect" && next(&v)) {
      o->checkExpect = true;
      for (size_t pos = 0; pos < v.size();) {
        size_t comma = v.find(',', pos);
        if (comma == std::string::npos) comma = v.size();
        if (comma > pos) o->expect.push_back(atoi(v.substr(pos, comma - pos).c_str()));
        pos = comma + 1;
      }
    } else if (a == "--close-when-idle" && next(&v)) {
      o->closeWhenIdleMs = static_cast<DWORD>(atoi(v.c_str()));
    } else if (a == "--shot-dir" && next(&v)) {
      o->shotDir = robot::ToWindowsPath(v);
    } else if (a == "--timing") {
      o->timing = true;
    } else if (a == "--memory") {
      o->memory = true;
    } else if (a == "--timeout" && next(&v)) {
      o->timeoutMs = static_cast<DWORD>(atoi(v.c_str())) * 1000;
    } else {
      return false;
    }
  }
  if (i >= argc) return false;
  o->exe = robot::ToWindowsPath(argv[i++]);
  for (; i < argc; ++i) {
    if (!o->arguments.empty()) o->arguments += ' ';
    o->arguments += argv[i];
  }
  return true;
}

// Saves the screen as DIR\<name>.bmp before a box is answered, so the
// picture shows what the user would have seen.
void Shot(const Options& o, const std::string& name) {
  if (o.shotDir.empty()) return;
  std::string path = o.shotDir + "\\" + name + ".bmp";
  const bool saved = robot::SaveScreenshot(path.c_str());
  Record("shot").Text("path", path).Raw("ok", saved ? "true" : "false");
}

std::string ButtonList(const std::vector<int>& ids) {
  std::vector<std::string> names;
  for (int id : ids) names.push_back(robot::ButtonName(id));
  return testbed::JsonText(names);
}

// True while the main dialog's status line shows the install pass's text
// (IDS_UPDATING_FMT up to its file name).
bool InInstallPass(HWND main, const robot::StringTable& table) {
  std::string format = table.Text(IDS_UPDATING_FMT);
  size_t cut = format.find("%s");
  if (cut != std::string::npos) format.resize(cut);
  if (format.empty()) return false;
  return robot::ControlText(main, IDC_STATUS).compare(0, format.size(), format) == 0;
}

// With --timing, "t": milliseconds since the updater was started.
void At(const Options& o, DWORD since, DWORD now, Record& record) {
  if (o.timing) record.Number("t", now - since);
}

// Peak and current working set and private bytes (commit charge) of the
// updater's process, in bytes.
void MemoryLine(const Options& o, HANDLE process, const char* when) {
  if (!o.memory) return;
  PROCESS_MEMORY_COUNTERS c = {};
  c.cb = sizeof c;
  Record record("memory");
  record.Text("when", when);
  if (!GetProcessMemoryInfo(process, &c, sizeof c)) {
    record.Number("error", GetLastError());
    return;
  }
  record.Number("peak_ws", c.PeakWorkingSetSize)
      .Number("ws", c.WorkingSetSize)
      .Number("peak_private", c.PeakPagefileUsage)
      .Number("private", c.PagefileUsage);
}

// One run of the updater watched to its end: what has been seen of its
// windows so far and what the robot has done about them.
class Watch {
 public:
  // Starts the clock: call once the updater has been started.
  Watch(const Options& o, const robot::StringTable& table, robot::Process& updater)
      : o_(o),
        table_(table),
        updater_(updater),
        started_(GetTickCount()),
        lastActivity_(started_) {}

  // Polls the updater's windows until it ends (true, with its exit code) or
  // the timeout passes (false).
  bool Run(DWORD* exitCode) {
    bool exited = false;
    while (!(exited = updater_.WaitExit(50, exitCode))) {
      DWORD now = GetTickCount();
      if (now - started_ > o_.timeoutMs) break;
      std::vector<HWND> dialogs = robot::ProcessDialogs(updater_.pid());
      ForgetClosedBoxes(dialogs);
      bool busy = false;
      HWND main = ScanDialogs(dialogs, &busy);
      if (main) TendMain(main, busy, now);
    }
    return exited;
  }

  // The string ids of the boxes answered, in order (0: a text of no string).
  const std::vector<int>& seen() const { return seen_; }

 private:
  void ForgetClosedBoxes(const std::vector<HWND>& dialogs) {
    for (auto it = handled_.begin(); it != handled_.end();) {
      bool present = false;
      for (HWND d : dialogs) present = present || d == *it;
      it = present ? std::next(it) : handled_.erase(it);
    }
  }

  // Reports the wait window and answers each new box; returns the main
  // dialog (null while it is not up) and whether a box or the wait window
  // is up (busy).
  HWND ScanDialogs(const std::vector<HWND>& dialogs, bool* busy) {
    HWND main = nullptr;
    for (HWND d : dialogs) {
      switch (robot::Classify(d)) {
        case robot::WindowKind::MainDialog:
          main = d;
          break;
        case robot::WindowKind::WaitWindow:
          *busy = true;
          if (!waitShown_) {
            waitShown_ = true;
            Record("wait").Text("text", robot::LogText(robot::ControlText(d, IDC_WAIT_TEXT)));
          }
          break;
        case robot::WindowKind::MessageBox:
          *busy = true;
          if (!handled_.count(d)) AnswerBox(d);
          break;
        case robot::WindowKind::Other:
          break;
      }
    }
    return main;
  }

  void AnswerBox(HWND box) {
    const DWORD shownAt = GetTickCount();
    MemoryLine(o_, updater_.handle(), "box");
    Sleep(150);  // let the box finish painting before it is read
    std::string text = robot::ControlText(box, 0xFFFF);
    std::string caption = robot::WindowText(box);
    std::vector<int> buttons = robot::ButtonIds(box);
    int id = table_.Match(text);
    int answer = robot::DefaultAnswer(buttons);
    for (const auto& a : o_.answers) {
      if (a.first == id) answer = a.second;
    }
    seen_.push_back(id);
    {
      Record box("box");
      box.Number("id", static_cast<unsigned>(id))
          .Raw("buttons", ButtonList(buttons))
          .Text("answer", robot::ButtonName(answer))
          .Text("caption", robot::LogText(caption))
          .Text("text", robot::LogText(text));
      At(o_, started_, shownAt, box);
    }
    char name[32];
    snprintf(name, sizeof name, "box%02u-%d", static_cast<unsigned>(seen_.size()), id);
    Shot(o_, name);
    robot::Press(box, answer);
    handled_.insert(box);
  }

  // Reports the main dialog and its buttons, and presses Start or Close
  // when the options ask for it and no box or wait window is up.
  void TendMain(HWND main, bool busy, DWORD now) {
    if (!mainSeen_) {
      mainSeen_ = true;
      Sleep(200);  // the first paint
      Record("main").Text("title", robot::LogText(robot::WindowText(main)));
      Shot(o_, "main");
    }
    int buttons = (IsWindowEnabled(GetDlgItem(main, IDC_START)) ? 1 : 0) |
                  (IsWindowEnabled(GetDlgItem(main, IDCANCEL)) ? 2 : 0);
    if (buttons != buttonState_) {
      buttonState_ = buttons;
      Record("buttons").Number("start", buttons & 1).Number("close", (buttons >> 1) & 1);
    }
    if (!installShot_ && !o_.shotDir.empty() && InInstallPass(main, table_)) {
      installShot_ = true;
      Shot(o_, "install");
    }
    if (busy) {
      lastActivity_ = now;
      return;
    }
    waitShown_ = false;  // the next wait window is reported again
    if (o_.start && !startPressed_ && IsWindowEnabled(GetDlgItem(main, IDC_START))) {
      if (o_.memory) {
        Sleep(1000);
        MemoryLine(o_, updater_.handle(), "idle");
      }
      startPressed_ = true;
      lastActivity_ = now;
      {
        Record press("press");
        press.Text("button", "Start");
        At(o_, started_, GetTickCount(), press);
      }
      robot::Press(main, IDC_START);
      return;
    }
    if (o_.closeWhenIdleMs && now - lastActivity_ >= o_.closeWhenIdleMs &&
        IsWindowEnabled(GetDlgItem(main, IDCANCEL))) {
      lastActivity_ = now;
      Record("press").Text("button", "Close");
      robot::Press(main, IDCANCEL);
    }
  }

  const Options& o_;
  const robot::StringTable& table_;
  robot::Process& updater_;
  std::set<HWND> handled_;  // boxes answered and still on screen
  std::vector<int> seen_;
  bool mainSeen_ = false, waitShown_ = false, startPressed_ = false;
  bool installShot_ = false;
  int buttonState_ = -1;  // bit 0: Start enabled, bit 1: Close enabled
  DWORD started_, lastActivity_;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    fprintf(stderr,
            "usage: vrrobot [--resume] [--start] [--answer ID=BUTTON]... "
            "[--expect ID,...] [--close-when-idle MS] [--shot-dir DIR] "
            "[--timeout S] [--timing] [--memory] -- updater.exe [args]\n");
    return 4;
  }
  robot::StringTable table;
  if (!table.Load(o.exe.c_str())) Record("warn").Text("detail", "no string table in " + o.exe);

  robot::Process updater;
  if (!updater.Start(o.exe, o.arguments, o.resume)) {
    const DWORD error = GetLastError();
    Record("error").Text("detail", "cannot start " + o.exe).Number("error", error);
    return 3;
  }

  Watch watch(o, table, updater);
  DWORD exitCode = 0;
  if (!watch.Run(&exitCode)) {
    Record("timeout").Number("seconds", o.timeoutMs / 1000);
    updater.Terminate();
    return 2;
  }
  std::string ids;
  for (int id : watch.seen()) ids += (ids.empty() ? "" : ",") + std::to_string(id);
  Record("exit").Number("code", exitCode).Raw("ids", "[" + ids + "]");
  if (o.checkExpect && watch.seen() != o.expect) {
    std::string expected;
    for (int id : o.expect) expected += (expected.empty() ? "" : ",") + std::to_string(id);
    Record("mismatch").Raw("expected", "[" + expected + "]");
    return 1;
  }
  return 0;
}
