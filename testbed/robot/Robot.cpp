#include "testbed/robot/Robot.h"

#include <string.h>

#include "res/resource.h"

namespace robot {

namespace {
constexpr int kIdHistory = IDC_HISTORY;
constexpr int kIdWaitText = IDC_WAIT_TEXT;
constexpr int kIdBoxText = 0xFFFF;

struct EnumState {
  DWORD pid;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<EnumState*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != state->pid || !IsWindowVisible(window)) return TRUE;
  char cls[64];
  if (GetClassNameA(window, cls, sizeof cls) && strcmp(cls, "#32770") == 0) {
    state->out->push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  char cls[32];
  if (GetClassNameA(child, cls, sizeof cls) && lstrcmpiA(cls, "Button") == 0 &&
      IsWindowVisible(child)) {
    reinterpret_cast<std::vector<int>*>(param)->push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}

const struct {
  int id;
  const char* name;
} kButtons[] = {{IDOK, "OK"},       {IDCANCEL, "Cancel"},     {IDABORT, "Abort"},
                {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"},     {IDYES, "Yes"},
                {IDNO, "No"},       {IDTRYAGAIN, "TryAgain"}, {IDCONTINUE, "Continue"}};
}  // namespace

std::vector<HWND> ProcessDialogs(DWORD pid) {
  std::vector<HWND> found;
  EnumState state{pid, &found};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&state));
  return found;
}

WindowKind Classify(HWND dialog) {
  if (GetDlgItem(dialog, kIdHistory)) return WindowKind::MainDialog;
  if (GetDlgItem(dialog, kIdWaitText)) return WindowKind::WaitWindow;
  if (GetDlgItem(dialog, kIdBoxText)) return WindowKind::MessageBox;
  return WindowKind::Other;
}

HWND FindWindowOfKind(DWORD pid, WindowKind kind) {
  for (HWND w : ProcessDialogs(pid)) {
    if (Classify(w) == kind) return w;
  }
  return nullptr;
}

std::string WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
    return std::string();
  }
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                           SMTO_ABORTIFHUNG, 2000, &copied)) {
    return std::string();
  }
  text.resize(copied);
  return text;
}

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control ? WindowText(control) : std::string();
}

std::vector<int> ButtonIds(HWND dialog) {
  std::vector<int> ids;
  EnumChildWindows(dialog, CollectButton, reinterpret_cast<LPARAM>(&ids));
  return ids;
}

const char* ButtonName(int id) {
  for (const auto& b : kButtons) {
    if (b.id == id) return b.name;
  }
  return "?";
}

int ButtonIdOfName(const std::string& name) {
  for (const auto& b : kButtons) {
    if (lstrcmpiA(b.name, name.c_str()) == 0) return b.id;
  }
  return 0;
}

int DefaultAnswer(const std::vector<int>& buttons) {
  for (int preferred : {IDOK, IDNO, IDCANCEL}) {
    for (int id : buttons) {
      if (id == preferred) return id;
    }
  }
  return buttons.empty() ? IDCANCEL : buttons.front();
}

bool Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)) != FALSE;
}

bool StringTable::Load(const char* exePath) {
  strings_.clear();
  HMODULE module = LoadLibraryExA(exePath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  // Each block of the table holds 16 strings; the updater's ids are small.
  char buffer[2048];
  for (int id = 1; id < 4096; ++id) {
    int n = LoadStringA(module, id, buffer, sizeof buffer);
    if (n > 0) strings_[id] = std::string(buffer, n);
  }
  FreeLibrary(module);
  return !strings_.empty();
}

int StringTable::Match(const std::string& text) const {
  for (const auto& entry : strings_) {
    if (entry.second == text) return entry.first;
  }
  return 0;
}

std::string StringTable::Text(int id) const {
  auto it = strings_.find(id);
  return it == strings_.end() ? std::string() : it->second;
}

std::string LogText(const std::string& text) {
  if (text.empty()) return text;
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(wide, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &w[0], wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &utf8[0], bytes, nullptr, nullptr);
  std::string out;
  for (char c : utf8) {
    if (c == '\r') continue;
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

Process::~Process() {
  if (process_) CloseHandle(process_);
}

bool Process::Start(const std::string& exePath, const std::string& arguments, bool resume) {
  std::string commandLine = "\"" + exePath + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  if (resume) commandLine += " /r";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  if (!CreateProcessA(exePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  pid_ = pi.dwProcessId;
  return true;
}

bool Process::WaitExit(DWORD ms, DWORD* exitCode) {
  if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(process_, exitCode);
  return true;
}

void Process::Terminate() {
  if (process_) {
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, 5000);
  }
}

bool SaveScreenshot(const char* path) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  bool ok = false;
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as .bmp files store rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    if (GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                  DIB_RGB_COLORS) == height) {
      BITMAPFILEHEADER file = {};
      file.bfType = 0x4D42;  // "BM"
      file.bfOffBits = sizeof file + sizeof info;
      file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
      HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
      if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ok = WriteFile(out, &file, sizeof file, &written, nullptr) &&
             WriteFile(out, &info, sizeof info, &written, nullptr) &&
             WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
        CloseHandle(out);
      }
    }
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

std::string ToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

}  // namespace robot
