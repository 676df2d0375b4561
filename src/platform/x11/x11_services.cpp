#include "platform/x11/x11_services.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/x11/window.h"

namespace dbx::x11 {
namespace {

// The default colours of a classic desktop, by system colour index.
constexpr std::int32_t kSysColors[31] = {
    0xC8D0D4, 0x984E00, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
    0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
    0xE1FFFF, 0x000000, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xFF3399, 0xC8D0D4};

}  // namespace

int X11Cursor::Show(bool show) {
  int& count = display_.cursorCount;
  count += show ? 1 : -1;
  for (auto& [id, w] : display_.windows) w->ApplyCursor(count >= 0);
  return count;
}

Point X11Cursor::Position() {
  Display* d = display_.Get();
  if (!d) return {};
  ::Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  return {rx, ry};
}

bool X11Process::PreviousInstanceRunning(std::string_view saverName) {
  // xscreensaver runs one copy per screen on purpose: they are not rivals.
  if (hackMode_) return false;
  if (!lock_) lock_ = std::make_unique<InstanceLock>(std::string(saverName));
  return lock_->PreviousInstanceRunning();
}

bool X11Process::TopLevelWindowExists(std::string_view title) {
  Display* d = display_.Get();
  if (!d) return false;
  // Top-level windows, and their children once (window managers reparent them into frames).
  std::vector<::Window> level{DefaultRootWindow(d)};
  for (int depth = 0; depth < 2; ++depth) {
    std::vector<::Window> next;
    for (::Window w : level) {
      ::Window root = 0, parent = 0, *children = nullptr;
      unsigned n = 0;
      if (!XQueryTree(d, w, &root, &parent, &children, &n)) continue;
      for (unsigned i = 0; i < n; ++i) {
        char* name = nullptr;
        if (XFetchName(d, children[i], &name) && name) {
          const bool match = title == name;
          XFree(name);
          if (match) {
            XFree(children);
            return true;
          }
        }
        next.push_back(children[i]);
      }
      if (children) XFree(children);
    }
    level.swap(next);
  }
  return false;
}

std::optional<Size> X11Process::ClientSizeOf(NativeHandle window) {
  Display* d = display_.Get();
  if (!d || window == 0) return std::nullopt;
  XWindowAttributes a{};
  LastXError() = 0;
  const Status ok = XGetWindowAttributes(d, static_cast<::Window>(window), &a);
  XSync(d, False);
  if (!ok || LastXError() != 0) return std::nullopt;
  return Size{a.width, a.height};
}

void X11Process::ExitNow(int code) {
  if (Display* d = display_.IfOpen()) XFlush(d);
  std::fflush(nullptr);
  std::_Exit(code);
}

void X11Dialogs::MessageBox(std::string_view text, std::string_view caption, MessageKind) {
  std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
               static_cast<int>(text.size()), text.data());
}

std::int32_t X11Dialogs::SysColor(int index) {
  return index >= 0 && index < 31 ? kSysColors[index] : 0;
}

}  // namespace dbx::x11
