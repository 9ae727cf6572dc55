// Drives the updater's real windows from another process: finds its dialogs
// and message boxes (class #32770) by process id, reads them, tells which
// string of the updater a box shows, and presses buttons by id.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace robot {

enum class WindowKind { Other, MainDialog, WaitWindow, MessageBox };

// Visible top-level #32770 windows of process pid, in z-order.
std::vector<HWND> ProcessDialogs(DWORD pid);
// Main dialog: has the history box 1004; wait window: has the text 1012;
// message box: has the static 0xFFFF that carries its text.
WindowKind Classify(HWND dialog);
HWND FindWindowOfKind(DWORD pid, WindowKind kind);

// Window text read through WM_GETTEXT (works across processes).
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
// Ids of the visible buttons of a dialog, in child order.
std::vector<int> ButtonIds(HWND dialog);

// Name of a message-box button id ("OK", "Cancel", "Retry", "Yes", "No", ...)
// and back; 0 for an unknown name.
const char* ButtonName(int id);
int ButtonIdOfName(const std::string& name);
// The answer when no script says otherwise: OK, else No, else Cancel, else
// the first button.
int DefaultAnswer(const std::vector<int>& buttons);

// Presses button id of dialog the way the dialog manager reports a click.
// Posted, so a handler that opens a modal box does not block the caller.
bool Press(HWND dialog, int id);

// The string table of an executable, read without running it.
class StringTable {
 public:
  bool Load(const char* exePath);
  // Id whose text equals text exactly, or 0.
  int Match(const std::string& text) const;
  std::string Text(int id) const;

 private:
  std::map<int, std::string> strings_;
};

// Code page 932 text as UTF-8 with line breaks written as "\n", for logs.
std::string LogText(const std::string& text);

// A started program and its process handle.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts exePath with the arguments (the whole command line is the quoted
  // path, the arguments and, for a resume run, " /r" at the very end).
  bool Start(const std::string& exePath, const std::string& arguments, bool resume);
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_; }
  // True when the process ended within ms; exitCode receives its code.
  bool WaitExit(DWORD ms, DWORD* exitCode);
  void Terminate();

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// Writes the whole screen as a 24-bit .bmp file; false on any failure.
bool SaveScreenshot(const char* path);

// Unix paths (as the build passes them) to Wine's Z: drive; other paths stay.
std::string ToWindowsPath(const std::string& path);

}  // namespace robot
