// Plays the display control panel for the preview check: it owns a small window, starts
//   "<program>" /p <its window handle>
// and then checks, through its own window queries, that a visible child window of the started
// process fills its client area from (0, 0). Afterwards it closes its window, as the control panel
// does when the user picks another saver, and checks that the preview process ends by itself.
//
//   preview_host <program> [width height]     exit code 0 when every check passed
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Found {
  DWORD processId = 0;
  HWND child = nullptr;
};

BOOL CALLBACK FindChildOfProcess(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hwnd, &owner);
  if (owner == found->processId) {
    found->child = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Lets the host's messages run for up to `ms`, or until `done` says so.
template <typename Done>
bool PumpUntil(DWORD ms, Done done) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  for (;;) {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    if (done()) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

int failures = 0;
void Check(bool ok, const char* what, const std::string& detail = {}) {
  std::printf("%s: %s%s%s\n", ok ? "ok" : "FAIL", what, detail.empty() ? "" : " - ",
              detail.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: preview_host <program> [width height]\n");
    return 64;
  }
  const int width = argc >= 4 ? std::atoi(argv[2]) : 152;
  const int height = argc >= 4 ? std::atoi(argv[3]) : 112;

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ::DefWindowProcA;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = "DazzleboxPreviewHost";
  ::RegisterClassA(&windowClass);
  RECT frame{0, 0, width, height};
  ::AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  const HWND host =
      ::CreateWindowExA(0, windowClass.lpszClassName, "Preview host",
                        WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (host == nullptr) {
    Check(false, "host window created");
    return 1;
  }
  ::ShowWindow(host, SW_SHOWNORMAL);
  RECT client{};
  ::GetClientRect(host, &client);
  std::printf("host window %llu, client %ldx%ld\n",
              static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(host)), client.right,
              client.bottom);

  std::string line = std::string("\"") + argv[1] + "\" /p " +
                     std::to_string(reinterpret_cast<std::uintptr_t>(host));
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
  Check(started, "preview process started", line);
  if (!started) return 1;

  Found found;
  found.processId = process.dwProcessId;
  const bool appeared = PumpUntil(20000, [&] {
    found.child = nullptr;
    ::EnumChildWindows(host, FindChildOfProcess, reinterpret_cast<LPARAM>(&found));
    return found.child != nullptr && ::IsWindowVisible(found.child);
  });
  Check(appeared, "a visible child window of the preview process appeared");
  if (found.child != nullptr) {
    Check(::IsChild(host, found.child) != FALSE, "IsChild(host, preview)");
    Check(::GetAncestor(found.child, GA_PARENT) == host, "the preview's parent is the host");
    Check(::IsWindowVisible(found.child) != FALSE, "the preview is visible");
    RECT r{};
    ::GetWindowRect(found.child, &r);
    POINT origin{r.left, r.top};
    ::ScreenToClient(host, &origin);
    char text[128];
    std::snprintf(text, sizeof(text), "at %ld,%ld size %ldx%ld", origin.x, origin.y,
                  r.right - r.left, r.bottom - r.top);
    Check(origin.x == 0 && origin.y == 0, "the preview sits at (0, 0) of the host's client area",
          text);
    Check(r.right - r.left == client.right && r.bottom - r.top == client.bottom,
          "the preview has the size of the host's client area", text);
    char caption[64] = {};
    ::GetWindowTextA(found.child, caption, sizeof(caption));
    std::printf("preview caption \"%s\"\n", caption);
  }

  // The control panel closes its window: the preview must end by itself.
  ::DestroyWindow(host);
  const bool ended =
      PumpUntil(5000, [&] { return ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
  Check(ended, "the preview process ended after its parent window was destroyed");
  if (!ended) ::TerminateProcess(process.hProcess, 1);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
  return failures == 0 ? 0 : 1;
}
