// vrrobot: drives the updater's windows for tests and demonstrations.
//
//   vrrobot [options] -- updater.exe [arguments]
//     --resume               append " /r" to the updater's command line
//     --start                press Start (button 1000) once the main dialog shows
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
// One line per event on stdout (UTF-8): MAIN, WAIT, BOX, PRESS, SHOT,
// BUTTONS (whenever Start or Close changes between enabled and disabled),
// MEMORY, EXIT.
// Exit code: 0 the updater ended (and --expect matched), 1 --expect did not
// match, 2 timeout, 3 the updater could not be started, 4 bad arguments.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

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

void Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
}

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
  if (robot::SaveScreenshot(path.c_str())) {
    Line("SHOT %s", path.c_str());
  } else {
    Line("SHOT %s failed", path.c_str());
  }
}

std::string ButtonList(const std::vector<int>& ids) {
  std::string out;
  for (int id : ids) {
    if (!out.empty()) out += '/';
    out += robot::ButtonName(id);
  }
  return out;
}

// True while the main dialog's status line shows the install pass's text
// (string 109 up to its file name).
bool InInstallPass(HWND main, const robot::StringTable& table) {
  std::string format = table.Text(109);
  size_t cut = format.find("%s");
  if (cut != std::string::npos) format.resize(cut);
  if (format.empty()) return false;
  return robot::ControlText(main, 1005).compare(0, format.size(), format) == 0;
}

// " t=MS" for --timing, else nothing.
std::string At(const Options& o, DWORD since) {
  if (!o.timing) return "";
  return " t=" + std::to_string(GetTickCount() - since);
}

// Peak and current working set and private bytes (commit charge) of the
// updater's process, in bytes.
void MemoryLine(const Options& o, HANDLE process, const char* when) {
  if (!o.memory) return;
  PROCESS_MEMORY_COUNTERS c = {};
  c.cb = sizeof c;
  if (!GetProcessMemoryInfo(process, &c, sizeof c)) {
    Line("MEMORY when=%s unreadable (error %lu)", when, GetLastError());
    return;
  }
  Line("MEMORY when=%s peak_ws=%llu ws=%llu peak_private=%llu private=%llu", when,
       static_cast<unsigned long long>(c.PeakWorkingSetSize),
       static_cast<unsigned long long>(c.WorkingSetSize),
       static_cast<unsigned long long>(c.PeakPagefileUsage),
       static_cast<unsigned long long>(c.PagefileUsage));
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
            Line("WAIT text=\"%s\"", robot::LogText(robot::ControlText(d, 1012)).c_str());
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
    std::string shownAt = At(o_, started_);
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
    Line("BOX id=%d buttons=%s answer=%s caption=\"%s\" text=\"%s\"%s", id,
         ButtonList(buttons).c_str(), robot::ButtonName(answer), robot::LogText(caption).c_str(),
         robot::LogText(text).c_str(), shownAt.c_str());
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
      Line("MAIN title=\"%s\"", robot::LogText(robot::WindowText(main)).c_str());
      Shot(o_, "main");
    }
    int buttons = (IsWindowEnabled(GetDlgItem(main, 1000)) ? 1 : 0) |
                  (IsWindowEnabled(GetDlgItem(main, IDCANCEL)) ? 2 : 0);
    if (buttons != buttonState_) {
      buttonState_ = buttons;
      Line("BUTTONS start=%d close=%d", buttons & 1, (buttons >> 1) & 1);
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
    if (o_.start && !startPressed_ && IsWindowEnabled(GetDlgItem(main, 1000))) {
      if (o_.memory) {
        Sleep(1000);
        MemoryLine(o_, updater_.handle(), "idle");
      }
      startPressed_ = true;
      lastActivity_ = now;
      Line("PRESS Start%s", At(o_, started_).c_str());
      robot::Press(main, 1000);
      return;
    }
    if (o_.closeWhenIdleMs && now - lastActivity_ >= o_.closeWhenIdleMs &&
        IsWindowEnabled(GetDlgItem(main, IDCANCEL))) {
      lastActivity_ = now;
      Line("PRESS Close");
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
  if (!table.Load(o.exe.c_str())) Line("WARN no string table in %s", o.exe.c_str());

  robot::Process updater;
  if (!updater.Start(o.exe, o.arguments, o.resume)) {
    Line("ERROR cannot start %s (error %lu)", o.exe.c_str(), GetLastError());
    return 3;
  }

  Watch watch(o, table, updater);
  DWORD exitCode = 0;
  if (!watch.Run(&exitCode)) {
    Line("TIMEOUT after %lu s; ending the updater", o.timeoutMs / 1000);
    updater.Terminate();
    return 2;
  }
  std::string ids;
  for (int id : watch.seen()) ids += (ids.empty() ? "" : ",") + std::to_string(id);
  Line("EXIT code=%lu boxes=%u ids=%s", exitCode, static_cast<unsigned>(watch.seen().size()),
       ids.c_str());
  if (o.checkExpect && watch.seen() != o.expect) {
    Line("MISMATCH expected other boxes");
    return 1;
  }
  return 0;
}
