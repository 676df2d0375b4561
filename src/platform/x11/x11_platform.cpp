#include "platform/x11/x11_platform.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>

#include "core/window_messages.h"
#include "platform/imageio/image_io.h"
#include "platform/posix/posix_services.h"
#include "platform/x11/sdl_sound.h"

namespace dbx {
namespace {

// SIGTERM (xscreensaver ends its hacks with it) and SIGINT end the loop through this pipe.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// X errors of requests on foreign windows (a preview parent that went away) must not end the
// program: they are remembered and ignored.
int g_lastXError = 0;
int OnXError(Display*, XErrorEvent* e) {
  g_lastXError = e->error_code;
  return 0;
}

std::int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::optional<NativeHandle> ParseWindowId(const char* text) {
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v == 0 || v > 0xFFFFFFFFull) {
    return std::nullopt;
  }
  return static_cast<NativeHandle>(v);
}

// Virtual-key codes for the keys whose codes the forms look at; letters and digits are their
// upper-case character codes, as on Windows.
int VirtualKey(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return static_cast<int>(sym - XK_a + 'A');
  if (sym >= XK_A && sym <= XK_Z) return static_cast<int>(sym);
  if (sym >= XK_0 && sym <= XK_9) return static_cast<int>(sym);
  switch (sym) {
    case XK_Escape:
      return 27;
    case XK_Return:
    case XK_KP_Enter:
      return 13;
    case XK_space:
      return 32;
    case XK_Tab:
      return 9;
    case XK_BackSpace:
      return 8;
    case XK_Left:
      return 37;
    case XK_Up:
      return 38;
    case XK_Right:
      return 39;
    case XK_Down:
      return 40;
    case XK_Shift_L:
    case XK_Shift_R:
      return 16;
    case XK_Control_L:
    case XK_Control_R:
      return 17;
    case XK_Alt_L:
    case XK_Alt_R:
      return 18;
    default:
      return static_cast<int>(sym & 0xFF) | 0x100;
  }
}

int ShiftBitsOf(unsigned state) {
  int s = 0;
  if (state & ShiftMask) s |= kShiftMask;
  if (state & ControlMask) s |= kCtrlMask;
  if (state & Mod1Mask) s |= kAltMask;
  return s;
}

// The default colours of a classic desktop, by system colour index.
constexpr std::int32_t kSysColors[31] = {
    0xC8D0D4, 0x984E00, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
    0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
    0xE1FFFF, 0x000000, 0x800000, 0xF0CAA6, 0xC0C0C0, 0xFF3399, 0xC8D0D4};

class X11Platform;

class X11Window final : public Window {
 public:
  // A top-level window, or with `parent` a child window of that class inside it.
  X11Window(X11Platform& platform, const WindowOptions& options, WindowEvents& events,
            ::Window parent = 0, std::string_view className = {});
  ~X11Window() override { Destroy(); }
  void SetCaption(std::string_view caption) override;
  std::string Caption() const override { return caption_; }
  void Show() override;
  void SetState(WindowState state) override;
  Size ClientSize() const override { return size_; }
  void Present(const SurfaceView& pixels, Rect dirty) override;
  void EmbedInto(NativeHandle parent, Size size) override;
  int TwipsPerPixelX() const override;
  int TwipsPerPixelY() const override { return TwipsPerPixelX(); }
  NativeHandle Handle() const override { return window_; }
  void Destroy() override;
  void Move(Rect area) override;
  void SetVisible(bool visible) override;
  void Focus() override;

  void Dispatch(XEvent& e);
  void ApplyCursor(bool visible);
  WindowProc& Procedure() { return procedure_; }

 private:
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    // The procedure may be replaced, and the window destroyed, while it runs: call a copy.
    WindowProc proc = procedure_;
    return proc ? proc(window_, message, wParam, lParam) : 0;
  }

  X11Platform& platform_;
  WindowEvents& events_;
  WindowProc procedure_;
  int keyShift_ = 0;
  bool child_ = false;
  ::Window window_ = 0;
  GC gc_ = nullptr;
  std::string caption_;
  Size size_{640, 480};
  bool destroyed_ = false;
};

class X11Cursor final : public Cursor {
 public:
  explicit X11Cursor(X11Platform& p) : platform_(p) {}
  int Show(bool show) override;
  Point Position() override;
  int count = 0;

 private:
  X11Platform& platform_;
};

class X11Process final : public Process {
 public:
  X11Process(X11Platform& p, std::string commandLine, std::string programName, bool hackMode)
      : platform_(p),
        commandLine_(std::move(commandLine)),
        programName_(std::move(programName)),
        hackMode_(hackMode) {}
  std::string CommandLine() override { return commandLine_; }
  std::string ProgramFileName() override { return programName_; }
  bool PreviousInstanceRunning() override {
    // xscreensaver runs one copy per screen on purpose: they are not rivals.
    if (hackMode_) return false;
    if (!lock_) lock_ = std::make_unique<InstanceLock>(OwnProgramPath());
    return lock_->PreviousInstanceRunning();
  }
  bool TopLevelWindowExists(std::string_view title) override;
  std::optional<Size> ClientSizeOf(NativeHandle window) override;
  bool Start(std::string_view commandLine) override {
    return SpawnDetached(SplitCommandLine(commandLine));
  }
  [[noreturn]] void ExitNow(int code) override;

 private:
  X11Platform& platform_;
  std::string commandLine_;
  std::string programName_;
  bool hackMode_;
  std::unique_ptr<InstanceLock> lock_;
};

class X11Loop final : public EventLoop {
 public:
  explicit X11Loop(X11Platform& p) : platform_(p) {}
  TimerId CreateTimer(std::int64_t periodMs, std::function<void()> tick) override {
    timers_.push_back(
        Timer{std::max<std::int64_t>(periodMs, 1), 0, false, false, true, std::move(tick)});
    return static_cast<TimerId>(timers_.size() - 1);
  }
  void SetTimer(TimerId id, bool enabled, std::int64_t periodMs) override {
    if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
    Timer& t = timers_[static_cast<std::size_t>(id)];
    t.enabled = enabled;
    t.period = std::max<std::int64_t>(periodMs, 1);
    t.due = NowMs() + t.period;
  }
  void DestroyTimer(TimerId id) override {
    if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
    timers_[static_cast<std::size_t>(id)].alive = false;
    timers_[static_cast<std::size_t>(id)].enabled = false;
  }
  void RunPending() override { Pump(0); }
  void WaitFrame() override {
    // One refresh period of a 60 Hz display, measured from the last frame so that drawing time
    // does not add up; messages keep running while waiting.
    const std::int64_t now = NowMs();
    if (nextFrame_ < now - kFrameMs) nextFrame_ = now;
    nextFrame_ += kFrameMs;
    do {
      Pump(std::max<std::int64_t>(nextFrame_ - NowMs(), 0));
    } while (!quit_ && NowMs() < nextFrame_);
  }
  std::int64_t NowMs() override { return MonotonicMs(); }
  int Run() override {
    while (!quit_) Pump(-1);
    return exitCode_;
  }
  void Quit(int code) override {
    quit_ = true;
    exitCode_ = code;
  }
  bool quitting() const { return quit_; }

 private:
  static constexpr std::int64_t kFrameMs = 16;
  struct Timer {
    std::int64_t period;
    std::int64_t due;
    bool enabled;
    bool running;
    bool alive;
    std::function<void()> tick;
  };
  // Handles what is pending and fires due timers; waits up to maxWaitMs (-1: until something).
  void Pump(std::int64_t maxWaitMs);

  X11Platform& platform_;
  std::vector<Timer> timers_;
  bool quit_ = false;
  int exitCode_ = 0;
  std::int64_t nextFrame_ = 0;
};

class X11Dialogs final : public Dialogs, public SystemColors {
 public:
  void MessageBox(std::string_view text, std::string_view caption, MessageKind) override {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
  }
  std::int32_t SysColor(int index) override {
    return index >= 0 && index < 31 ? kSysColors[index] : 0;
  }
};

class X11Platform final : public Platform {
 public:
  explicit X11Platform(const X11StartOptions& options)
      : store_(FileSettingsStore::DefaultPath()),
        process_(*this, options.commandLine, FileTitleOf(options.argv0), options.hostWindow != 0),
        cursor_(*this),
        loop_(*this),
        hostWindow_(options.hostWindow) {
    files_.programPath = options.argv0;
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
      struct sigaction sa {};
      sa.sa_handler = OnSignal;
      ::sigaction(SIGTERM, &sa, nullptr);
      ::sigaction(SIGINT, &sa, nullptr);
    }
  }
  ~X11Platform() override {
    if (display_) XCloseDisplay(display_);
  }

  SettingsStore& Settings() override { return store_; }
  IniReader& Ini() override { return files_; }
  SystemPaths& Paths() override { return files_; }
  Process& Proc() override { return process_; }
  Cursor& Pointer() override { return cursor_; }
  EventLoop& Loop() override { return loop_; }
  ImageLoader& Images() override { return images_; }
  SoundPlayer& Sound() override {
    if (!sound_) sound_ = CreateSdlSoundPlayer();
    return *sound_;
  }
  Dialogs& Dialog() override { return dialogs_; }
  SystemColors& Colors() override { return dialogs_; }
  std::unique_ptr<Window> CreateWindow(const WindowOptions& options,
                                       WindowEvents& events) override {
    if (!Dpy()) return nullptr;
    return std::make_unique<X11Window>(*this, options, events);
  }

  std::unique_ptr<Window> CreateChildWindow(Window& parent, std::string_view className,
                                            const WindowOptions& options,
                                            WindowEvents& events) override {
    if (!Dpy()) return nullptr;
    auto w = std::make_unique<X11Window>(*this, options, events,
                                         static_cast<::Window>(parent.Handle()), className);
    w->SetVisible(true);
    return w;
  }
  std::vector<NativeHandle> DescendantWindows(NativeHandle parent) override {
    std::vector<NativeHandle> out;
    Display* d = Dpy();
    if (!d || parent == 0) return out;
    ::Window root = 0, up = 0, *children = nullptr;
    unsigned n = 0;
    g_lastXError = 0;
    if (!XQueryTree(d, static_cast<::Window>(parent), &root, &up, &children, &n)) return out;
    // Topmost first, as a system lists children; each followed by its own descendants.
    for (unsigned i = n; i-- > 0;) {
      out.push_back(children[i]);
      for (NativeHandle grandchild : DescendantWindows(children[i])) out.push_back(grandchild);
    }
    if (children) XFree(children);
    return out;
  }
  std::string WindowClassName(NativeHandle window) override {
    Display* d = Dpy();
    if (!d) return {};
    XClassHint hint{};
    g_lastXError = 0;
    if (!XGetClassHint(d, static_cast<::Window>(window), &hint)) return {};
    std::string name = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return name;
  }
  WindowProc SubclassWindow(NativeHandle window, WindowProc procedure) override {
    const auto it = windows.find(static_cast<::Window>(window));
    if (it == windows.end()) return {};
    WindowProc previous = std::move(it->second->Procedure());
    it->second->Procedure() = std::move(procedure);
    return previous;
  }

  // The display, opened on first use (Nudger and the headless paths never need one).
  Display* Dpy() {
    if (!display_ && !displayFailed_) {
      display_ = XOpenDisplay(nullptr);
      displayFailed_ = display_ == nullptr;
      if (display_) {
        XSetErrorHandler(OnXError);
        wmDelete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
      }
    }
    return display_;
  }
  Display* DisplayIfOpen() const { return display_; }
  Atom WmDelete() const { return wmDelete_; }
  NativeHandle HostWindow() const { return hostWindow_; }
  int CursorCount() const { return cursor_.count; }
  std::map<::Window, X11Window*> windows;

  static std::string FileTitleOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }

 private:
  FileSettingsStore store_;
  PosixFiles files_;
  X11Process process_;
  X11Cursor cursor_;
  X11Loop loop_;
  FileImageLoader images_;
  std::unique_ptr<SoundPlayer> sound_;
  X11Dialogs dialogs_;
  Display* display_ = nullptr;
  bool displayFailed_ = false;
  Atom wmDelete_ = 0;
  NativeHandle hostWindow_ = 0;
};

// ------------------------------------------------------------------------------------------------

X11Window::X11Window(X11Platform& platform, const WindowOptions& options, WindowEvents& events,
                     ::Window parent, std::string_view className)
    : platform_(platform), events_(events), child_(parent != 0), caption_(options.caption) {
  procedure_ = [this](NativeHandle, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam) {
    return DeliverToEvents(events_, message, wParam, lParam, keyShift_);
  };
  Display* d = platform_.Dpy();
  const int screen = DefaultScreen(d);
  if (parent == 0) parent = RootWindow(d, screen);
  XSetWindowAttributes attrs{};
  attrs.background_pixel = options.background;
  attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                     PointerMotionMask | StructureNotifyMask | ExposureMask | FocusChangeMask;
  window_ = XCreateWindow(d, parent, 0, 0, static_cast<unsigned>(size_.w),
                          static_cast<unsigned>(size_.h), 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWBackPixel | CWEventMask, &attrs);
  gc_ = XCreateGC(d, window_, 0, nullptr);
  if (!className.empty()) {
    const std::string cls(className);
    XClassHint hint{};
    hint.res_name = const_cast<char*>(cls.c_str());
    hint.res_class = const_cast<char*>(cls.c_str());
    XSetClassHint(d, window_, &hint);
  }
  Atom wmDelete = platform_.WmDelete();
  XSetWMProtocols(d, window_, &wmDelete, 1);
  if (!options.border) {
    // Motif hints: no decorations.
    struct {
      unsigned long flags, functions, decorations;
      long inputMode;
      unsigned long status;
    } hints{2, 0, 0, 0, 0};
    const Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    XChangeProperty(d, window_, motif, motif, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&hints), 5);
  }
  SetCaption(caption_);
  platform_.windows[window_] = this;
  ApplyCursor(platform_.CursorCount() >= 0);
}

void X11Window::SetCaption(std::string_view caption) {
  caption_ = caption;
  if (destroyed_) return;
  Display* d = platform_.Dpy();
  XStoreName(d, window_, caption_.c_str());
  const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  XChangeProperty(d, window_, netName, utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(caption_.data()),
                  static_cast<int>(caption_.size()));
  XFlush(d);
}

void X11Window::Show() {
  if (destroyed_) return;
  XMapRaised(platform_.Dpy(), window_);
  XFlush(platform_.Dpy());
}

void X11Window::SetState(WindowState state) {
  if (destroyed_ || state != WindowState::kMaximized) return;
  Display* d = platform_.Dpy();
  if (const NativeHandle host = platform_.HostWindow()) {
    // Inside xscreensaver's window: fill it, and follow its size.
    XWindowAttributes a{};
    g_lastXError = 0;
    if (XGetWindowAttributes(d, static_cast<::Window>(host), &a) && g_lastXError == 0) {
      XSelectInput(d, static_cast<::Window>(host), StructureNotifyMask);
      EmbedInto(host, Size{a.width, a.height});
      return;
    }
  }
  const int screen = DefaultScreen(d);
  const Size full{DisplayWidth(d, screen), DisplayHeight(d, screen)};
  // A screen saver covers everything: no window manager places or decorates it.
  XUnmapWindow(d, window_);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  XChangeWindowAttributes(d, window_, CWOverrideRedirect, &attrs);
  XMoveResizeWindow(d, window_, 0, 0, static_cast<unsigned>(full.w), static_cast<unsigned>(full.h));
  XMapRaised(d, window_);
  XSync(d, False);
  XGrabKeyboard(d, window_, True, GrabModeAsync, GrabModeAsync, CurrentTime);
  XSetInputFocus(d, window_, RevertToParent, CurrentTime);
  XFlush(d);
  // The form lays itself out now, whether or not the size changed.
  size_ = full;
  events_.OnResize(size_);
}

void X11Window::Present(const SurfaceView& pixels, Rect dirty) {
  if (destroyed_ || !pixels.data()) return;
  const int x0 = std::max(dirty.x, 0), y0 = std::max(dirty.y, 0);
  const int x1 = std::min(dirty.x + dirty.w, pixels.width());
  const int y1 = std::min(dirty.y + dirty.h, pixels.height());
  if (x1 <= x0 || y1 <= y0) return;
  Display* d = platform_.Dpy();
  Visual* visual = DefaultVisual(d, DefaultScreen(d));
  const int depth = DefaultDepth(d, DefaultScreen(d));
  // The image points straight at the surface's pixels (0x00RRGGBB is the ZPixmap layout of a
  // 24-bit TrueColor visual); Xlib only reads them.
  XImage* image = XCreateImage(
      d, visual, static_cast<unsigned>(depth), ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
      static_cast<unsigned>(pixels.width()), static_cast<unsigned>(pixels.height()), 32,
      static_cast<int>(pixels.stride() * 4));
  if (!image) return;
  XPutImage(d, window_, gc_, image, x0, y0, x0, y0, static_cast<unsigned>(x1 - x0),
            static_cast<unsigned>(y1 - y0));
  image->data = nullptr;
  XDestroyImage(image);
  XFlush(d);
}

void X11Window::EmbedInto(NativeHandle parent, Size size) {
  if (destroyed_) return;
  Display* d = platform_.Dpy();
  g_lastXError = 0;
  XReparentWindow(d, window_, static_cast<::Window>(parent), 0, 0);
  XResizeWindow(d, window_, static_cast<unsigned>(std::max(size.w, 1)),
                static_cast<unsigned>(std::max(size.h, 1)));
  XMapWindow(d, window_);
  XSync(d, False);
  size_ = size;
  events_.OnResize(size_);
}

int X11Window::TwipsPerPixelX() const {
  // 1440 twips make an inch; the display's resolution as the desktop states it (Xft.dpi).
  int dpi = 96;
  if (Display* d = platform_.DisplayIfOpen()) {
    if (const char* v = XGetDefault(d, "Xft", "dpi")) {
      const int parsed = std::atoi(v);
      if (parsed >= 48 && parsed <= 960) dpi = parsed;
    }
  }
  return std::max(1, 1440 / dpi);
}

void X11Window::Move(Rect area) {
  if (destroyed_ || !child_) return;
  Display* d = platform_.Dpy();
  XMoveResizeWindow(d, window_, area.x, area.y, static_cast<unsigned>(std::max(area.w, 1)),
                    static_cast<unsigned>(std::max(area.h, 1)));
  XFlush(d);
  if (Size{area.w, area.h} != size_) {
    size_ = Size{area.w, area.h};
    events_.OnResize(size_);
  }
}

void X11Window::Focus() {
  if (destroyed_) return;
  Display* d = platform_.Dpy();
  XWindowAttributes a{};
  // Only a window that is on screen can take the focus.
  if (XGetWindowAttributes(d, window_, &a) && a.map_state == IsViewable) {
    XSetInputFocus(d, window_, RevertToParent, CurrentTime);
    XFlush(d);
  }
}

void X11Window::SetVisible(bool visible) {
  if (destroyed_) return;
  Display* d = platform_.Dpy();
  if (visible) {
    XMapWindow(d, window_);
  } else {
    XUnmapWindow(d, window_);
  }
  XFlush(d);
}

void X11Window::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  platform_.windows.erase(window_);
  if (Display* d = platform_.DisplayIfOpen()) {
    XUngrabKeyboard(d, CurrentTime);
    if (gc_) XFreeGC(d, gc_);
    XDestroyWindow(d, window_);
    XFlush(d);
  }
}

void X11Window::ApplyCursor(bool visible) {
  Display* d = platform_.Dpy();
  if (visible) {
    XUndefineCursor(d, window_);
  } else {
    static const char empty[8] = {};
    Pixmap blank = XCreateBitmapFromData(d, window_, empty, 8, 8);
    XColor black{};
    ::Cursor invisible = XCreatePixmapCursor(d, blank, blank, &black, &black, 0, 0);
    XDefineCursor(d, window_, invisible);
    XFreeCursor(d, invisible);
    XFreePixmap(d, blank);
  }
  XFlush(d);
}

void X11Window::Dispatch(XEvent& e) {
  const auto mouseKeys = [](unsigned state) {
    std::uintptr_t w = 0;
    if (state & Button1Mask) w |= kMkLButton;
    if (state & Button3Mask) w |= kMkRButton;
    if (state & Button2Mask) w |= kMkMButton;
    if (state & ShiftMask) w |= kMkShift;
    if (state & ControlMask) w |= kMkControl;
    return w;
  };
  switch (e.type) {
    case KeyPress: {
      char buf[8] = {};
      KeySym sym = 0;
      const int n = XLookupString(&e.xkey, buf, sizeof buf, &sym, nullptr);
      keyShift_ = ShiftBitsOf(e.xkey.state);
      Send(kWmKeyDown, static_cast<std::uintptr_t>(VirtualKey(sym)), 0);
      if (!destroyed_ && n == 1) {
        Send(kWmChar, static_cast<unsigned char>(buf[0]), 0);
      }
      break;
    }
    case KeyRelease: {
      KeySym sym = XLookupKeysym(&e.xkey, 0);
      Send(kWmKeyUp, static_cast<std::uintptr_t>(VirtualKey(sym)), 0);
      break;
    }
    case ButtonPress:
    case ButtonRelease: {
      const bool down = e.type == ButtonPress;
      std::uint32_t message;
      std::uintptr_t bit;
      switch (e.xbutton.button) {
        case Button1:
          message = down ? kWmLButtonDown : kWmLButtonUp;
          bit = kMkLButton;
          break;
        case Button2:
          message = down ? kWmMButtonDown : kWmMButtonUp;
          bit = kMkMButton;
          break;
        case Button3:
          message = down ? kWmRButtonDown : kWmRButtonUp;
          bit = kMkRButton;
          break;
        default:
          return;  // wheel steps are not clicks
      }
      // As on Windows, the bits tell the buttons held after the event.
      std::uintptr_t keys = mouseKeys(e.xbutton.state);
      keys = down ? (keys | bit) : (keys & ~bit);
      Send(message, keys, MakeMouseLParam(e.xbutton.x, e.xbutton.y));
      break;
    }
    case MotionNotify:
      Send(kWmMouseMove, mouseKeys(e.xmotion.state), MakeMouseLParam(e.xmotion.x, e.xmotion.y));
      break;
    case ConfigureNotify:
      if (e.xconfigure.window == window_ &&
          (e.xconfigure.width != size_.w || e.xconfigure.height != size_.h)) {
        size_ = Size{e.xconfigure.width, e.xconfigure.height};
        events_.OnResize(size_);
      }
      break;
    case Expose:
      if (e.xexpose.count == 0) events_.OnPaint();
      break;
    case ClientMessage:
      if (static_cast<Atom>(e.xclient.data.l[0]) == platform_.WmDelete()) events_.OnCloseRequest();
      break;
    case DestroyNotify:
      if (e.xdestroywindow.window == window_) {
        // The parent went away and took this window with it.
        destroyed_ = true;
        platform_.windows.erase(window_);
        events_.OnCloseRequest();
      }
      break;
    default:
      break;
  }
}

int X11Cursor::Show(bool show) {
  count += show ? 1 : -1;
  for (auto& [id, w] : platform_.windows) w->ApplyCursor(count >= 0);
  return count;
}

Point X11Cursor::Position() {
  Display* d = platform_.Dpy();
  if (!d) return {};
  ::Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
  return {rx, ry};
}

bool X11Process::TopLevelWindowExists(std::string_view title) {
  Display* d = platform_.Dpy();
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
  Display* d = platform_.Dpy();
  if (!d || window == 0) return std::nullopt;
  XWindowAttributes a{};
  g_lastXError = 0;
  const Status ok = XGetWindowAttributes(d, static_cast<::Window>(window), &a);
  XSync(d, False);
  if (!ok || g_lastXError != 0) return std::nullopt;
  return Size{a.width, a.height};
}

void X11Process::ExitNow(int code) {
  if (Display* d = platform_.DisplayIfOpen()) XFlush(d);
  std::fflush(nullptr);
  std::_Exit(code);
}

void X11Loop::Pump(std::int64_t maxWaitMs) {
  Display* d = platform_.DisplayIfOpen();
  // Wait for input, a signal or the next due timer, whichever comes first.
  std::int64_t wait = maxWaitMs;
  const std::int64_t now = NowMs();
  for (const auto& t : timers_) {
    if (t.alive && t.enabled && !t.running) {
      const std::int64_t until = std::max<std::int64_t>(t.due - now, 0);
      wait = wait < 0 ? until : std::min(wait, until);
    }
  }
  if (d && XPending(d) > 0) wait = 0;
  pollfd fds[2];
  int nfds = 0;
  if (g_signalPipe[0] >= 0) fds[nfds++] = pollfd{g_signalPipe[0], POLLIN, 0};
  if (d) fds[nfds++] = pollfd{ConnectionNumber(d), POLLIN, 0};
  if (wait != 0) {
    ::poll(fds, static_cast<nfds_t>(nfds),
           wait < 0 ? 1000 : static_cast<int>(std::min<std::int64_t>(wait, 1000)));
  }
  if (g_signalPipe[0] >= 0) {
    char buf[16];
    if (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
      // Ended from outside (xscreensaver, Ctrl+C): close as the forms would on a close request.
      std::vector<X11Window*> open;
      for (auto& [id, w] : platform_.windows) open.push_back(w);
      for (X11Window* w : open) {
        if (platform_.windows.count(static_cast<::Window>(w->Handle()))) {
          XEvent e{};
          e.type = ClientMessage;
          e.xclient.data.l[0] = static_cast<long>(platform_.WmDelete());
          w->Dispatch(e);
        }
      }
      Quit(0);
    }
  }
  while (d && XPending(d) > 0 && !quit_) {
    XEvent e;
    XNextEvent(d, &e);
    const auto it = platform_.windows.find(e.xany.window);
    if (it != platform_.windows.end()) {
      it->second->Dispatch(e);
    } else if (e.type == DestroyNotify && e.xdestroywindow.event != e.xdestroywindow.window) {
      // A host window we watch went away.
    }
  }
  // Timers that are due fire once each; a timer never re-enters its own tick.
  const std::int64_t fireAt = NowMs();
  for (std::size_t i = 0; i < timers_.size() && !quit_; ++i) {
    Timer& t = timers_[i];
    if (!t.alive || !t.enabled || t.running || t.due > fireAt) continue;
    t.due = fireAt + t.period;
    t.running = true;
    auto tick = t.tick;
    tick();
    timers_[i].running = false;
  }
}

}  // namespace

X11StartOptions ParseX11Arguments(int argc, char** argv) {
  X11StartOptions o;
  o.argv0 = argc > 0 && argv[0] ? argv[0] : "dazzlebox";
  std::vector<std::string> rest;
  bool hack = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i] ? argv[i] : "";
    if ((a == "-window-id" || a == "--window-id") && i + 1 < argc) {
      hack = true;
      if (auto id = ParseWindowId(argv[++i])) o.hostWindow = *id;
    } else if (a == "-root" || a == "--root") {
      hack = true;
    } else {
      rest.push_back(a);
    }
  }
  if (!hack && rest.empty()) {
    if (auto id = ParseWindowId(std::getenv("XSCREENSAVER_WINDOW"))) {
      hack = true;
      o.hostWindow = *id;
    }
  }
  if (hack) {
    if (o.hostWindow == 0) {
      if (Display* d = XOpenDisplay(nullptr)) {
        o.hostWindow = DefaultRootWindow(d);
        XCloseDisplay(d);
      }
    }
    o.commandLine = "/s";
    return o;
  }
  for (const auto& a : rest) {
    if (!o.commandLine.empty()) o.commandLine += ' ';
    o.commandLine += a;
  }
  return o;
}

std::unique_ptr<Platform> CreateX11Platform(const X11StartOptions& options) {
  return std::make_unique<X11Platform>(options);
}

}  // namespace dbx
