// The product's resident launcher: a top-level window of class "VrOstrel"
// that closes when it receives WM_CLOSE. Flags make it misbehave the ways the
// updater must cope with:
//   --ignore-close        WM_CLOSE is swallowed; the window stays
//   --hang-on-close[=ms]  WM_CLOSE blocks its sender for ms (default 120000)
//                         before the window closes
//   --decoy               a window of another class whose title is "VrOstrel";
//                         only a lookup by title would find it
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kLauncherClass[] = "VrOstrel";
constexpr char kDecoyClass[] = "VrOstrelDecoy";

enum class CloseBehaviour { Close, Ignore, Hang };
CloseBehaviour g_onClose = CloseBehaviour::Close;
DWORD g_hangMs = 120000;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE:
      if (g_onClose == CloseBehaviour::Ignore) return 0;
      // Sleeping inside the handler keeps a SendMessage caller waiting.
      if (g_onClose == CloseBehaviour::Hang) Sleep(g_hangMs);
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wp, lp);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  bool decoy = false;
  for (int i = 1; i < __argc; ++i) {
    const char* a = __argv[i];
    if (strcmp(a, "--ignore-close") == 0) {
      g_onClose = CloseBehaviour::Ignore;
    } else if (strncmp(a, "--hang-on-close", 15) == 0) {
      g_onClose = CloseBehaviour::Hang;
      if (a[15] == '=') g_hangMs = static_cast<DWORD>(strtoul(a + 16, nullptr, 10));
    } else if (strcmp(a, "--decoy") == 0) {
      decoy = true;
    } else {
      return 2;
    }
  }

  const char* className = decoy ? kDecoyClass : kLauncherClass;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className;
  if (!RegisterClassA(&wc)) return 1;
  HWND hwnd = CreateWindowExA(0, className, kLauncherClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
