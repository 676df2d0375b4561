#include "platform/headless/headless_platform.h"

#include <algorithm>

#include "core/ini_file.h"
#include "core/window_messages.h"

namespace dbx {

std::string MemoryFiles::ReadString(const std::string& file, std::string_view section,
                                    std::string_view key, std::string_view fallback,
                                    std::size_t bufferSize) {
  const auto it = files.find(file);
  std::optional<std::string_view> text;
  if (it != files.end()) text = it->second;
  return IniProfileString(text, section, key, fallback, bufferSize);
}

std::string MemoryFiles::LongPathName(const std::string& path) {
  if (const auto it = longNames.find(path); it != longNames.end()) return it->second;
  return files.count(path) ? path : std::string();
}

char MemoryFiles::Separator() const {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

bool MemoryFiles::FileExists(const std::string& path) {
  return files.count(path) != 0;
}

bool HeadlessProcess::TopLevelWindowExists(std::string_view title) {
  if (std::find(topLevelTitles.begin(), topLevelTitles.end(), title) != topLevelTitles.end()) {
    return true;
  }
  if (owner) {
    for (const auto* w : owner->windows) {
      if (w->parent == 0 && w->Caption() == title) return true;
    }
  }
  return false;
}

std::optional<Size> HeadlessProcess::ClientSizeOf(NativeHandle window) {
  if (const auto it = foreignWindows.find(window); it != foreignWindows.end()) return it->second;
  return std::nullopt;
}

TimerId FakeEventLoop::CreateTimer(std::int64_t periodMs, std::function<void()> tick) {
  timers.push_back(Timer{periodMs, now + periodMs, false, true, std::move(tick)});
  return static_cast<TimerId>(timers.size() - 1);
}

void FakeEventLoop::SetTimer(TimerId id, bool enabled, std::int64_t periodMs) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers.size()) return;
  Timer& t = timers[static_cast<std::size_t>(id)];
  t.enabled = enabled;
  t.period = periodMs;
  t.due = now + std::max<std::int64_t>(periodMs, 1);
}

void FakeEventLoop::DestroyTimer(TimerId id) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers.size()) return;
  timers[static_cast<std::size_t>(id)].alive = false;
  timers[static_cast<std::size_t>(id)].enabled = false;
}

void FakeEventLoop::RunPending() {
  ++runPendingCalls;
  auto work = std::move(pending);
  pending.clear();
  for (auto& f : work) f();
}

void FakeEventLoop::AdvanceBy(std::int64_t ms) {
  const std::int64_t target = now + std::max<std::int64_t>(ms, 0);
  for (;;) {
    // The earliest due timer within the step fires next; a tick may change any timer.
    std::size_t next = timers.size();
    for (std::size_t i = 0; i < timers.size(); ++i) {
      const Timer& t = timers[i];
      if (t.alive && t.enabled && t.due <= target &&
          (next == timers.size() || t.due < timers[next].due)) {
        next = i;
      }
    }
    if (next == timers.size() || quit) break;
    Timer& t = timers[next];
    now = std::max(now, t.due);
    t.due = now + std::max<std::int64_t>(t.period, 1);
    auto tick = t.tick;  // the tick may create timers and invalidate the reference
    tick();
  }
  // A tick may have moved the clock past the target (a transition waiting for its frames).
  if (!quit) now = std::max(now, target);
}

int FakeEventLoop::Run() {
  const std::int64_t end = now + runLimitMs;
  while (!quit && now < end) {
    RunPending();
    AdvanceBy(frameMs);
  }
  return exitCode;
}

HeadlessWindow::HeadlessWindow(HeadlessPlatform& platform, const WindowOptions& options,
                               WindowEvents& windowEvents)
    : events(windowEvents), platform_(platform), caption_(options.caption) {
  handle = platform_.nextHandle++;
  twipsPerPixel = platform_.twipsPerPixel;
  procedure = [this](NativeHandle, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam) {
    return DeliverToEvents(events, message, wParam, lParam);
  };
  screen.Resize(size.w, size.h, options.background);
  platform_.windows.push_back(this);
}

HeadlessWindow::~HeadlessWindow() {
  Destroy();
}

void HeadlessWindow::SetState(WindowState newState) {
  state = newState;
  if (newState == WindowState::kMaximized) {
    size = platform_.screenSize;
    screen.Resize(size.w, size.h);
    events.OnResize(size);
  }
}

void HeadlessWindow::CoverArea(Rect area) {
  state = WindowState::kMaximized;
  covered = area;
  size = Size{area.w, area.h};
  screen.Resize(size.w, size.h);
  events.OnResize(size);
}

void HeadlessWindow::Present(const SurfaceView& pixels, Rect dirty) {
  ++presents;
  if (screen.width() != size.w || screen.height() != size.h) screen.Resize(size.w, size.h);
  const int x0 = std::max(dirty.x, 0), y0 = std::max(dirty.y, 0);
  const int x1 = std::min({dirty.x + dirty.w, pixels.width(), size.w});
  const int y1 = std::min({dirty.y + dirty.h, pixels.height(), size.h});
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) screen.At(x, y) = pixels.At(x, y);
  }
  if (onPresent) onPresent(screen);
}

void HeadlessWindow::EmbedInto(NativeHandle parentHandle, Size embedSize) {
  parent = parentHandle;
  size = embedSize;
  screen.Resize(size.w, size.h);
  visible = true;
  events.OnResize(size);
}

void HeadlessWindow::Move(Rect area) {
  placement = area;
  if (parent == 0) return;
  size = Size{std::max(area.w, 0), std::max(area.h, 0)};
  screen.Resize(size.w, size.h);
  events.OnResize(size);
}

void HeadlessWindow::Destroy() {
  if (destroyed) return;
  destroyed = true;
  visible = false;
  auto& list = platform_.windows;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::optional<Surface> HeadlessImageLoader::Load(const std::string& path) {
  loads.push_back(path);
  const auto it = pictures.find(path);
  if (it == pictures.end()) return std::nullopt;
  return it->second.Clone();
}

std::optional<Surface> HeadlessImageLoader::Decode(const std::uint8_t*, std::size_t) {
  return std::nullopt;
}

std::int32_t HeadlessDialogs::SysColor(int index) {
  // A fixed, recognisable palette: index i gives the grey i * 8.
  const int v = (index & 31) * 8;
  return v | (v << 8) | (v << 16);
}

HeadlessPlatform::HeadlessPlatform() {
  process.owner = this;
}

std::unique_ptr<Window> HeadlessPlatform::CreateWindow(const WindowOptions& options,
                                                       WindowEvents& events) {
  if (refuseWindows) return nullptr;
  return std::make_unique<HeadlessWindow>(*this, options, events);
}

}  // namespace dbx

namespace dbx {

std::unique_ptr<Window> HeadlessPlatform::CreateChildWindow(Window& parentWindow,
                                                            std::string_view className,
                                                            const WindowOptions& options,
                                                            WindowEvents& events) {
  auto w = std::make_unique<HeadlessWindow>(*this, options, events);
  w->parent = parentWindow.Handle();
  w->className = std::string(className);
  w->visible = true;
  return w;
}

HeadlessWindow* HeadlessPlatform::Find(NativeHandle handle) {
  for (auto* w : windows) {
    if (w->handle == handle) return w;
  }
  return nullptr;
}

std::vector<NativeHandle> HeadlessPlatform::DescendantWindows(NativeHandle parentHandle) {
  // Depth first, in creation order, as a system enumerates children and their children.
  std::vector<NativeHandle> out;
  for (auto* w : windows) {
    if (w->parent == parentHandle && w->handle != parentHandle) {
      out.push_back(w->handle);
      for (NativeHandle d : DescendantWindows(w->handle)) out.push_back(d);
    }
  }
  return out;
}

std::string HeadlessPlatform::WindowClassName(NativeHandle window) {
  HeadlessWindow* w = Find(window);
  return w ? w->className : std::string();
}

WindowProc HeadlessPlatform::SubclassWindow(NativeHandle window, WindowProc newProcedure) {
  HeadlessWindow* w = Find(window);
  if (!w) return {};
  WindowProc previous = std::move(w->procedure);
  w->procedure = std::move(newProcedure);
  return previous;
}

}  // namespace dbx
