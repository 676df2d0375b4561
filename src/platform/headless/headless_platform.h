// A platform with no display, in memory: the settings store, the seed files and the clock are
// fields that tests set and inspect, and windows keep the last picture presented to them. Tests and
// the render tool use it; nothing here touches the real system.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform.h"
#include "core/registry_document.h"

namespace dbx {

class MemorySettingsStore final : public SettingsStore {
 public:
  std::optional<std::string> ReadText(std::string_view key, std::string_view name) override {
    ++reads;
    return doc.ReadText(key, name);
  }
  void WriteText(std::string_view key, std::string_view name, std::string_view text) override {
    ++writes;
    if (!Change()) return;
    doc.WriteText(key, name, text);
  }
  // With `atomic` set, a batch is one change (as the settings file makes it); otherwise value by
  // value (as the registry does).
  void WriteTexts(const std::vector<SettingWrite>& batch) override {
    if (!atomic) {
      SettingsStore::WriteTexts(batch);
      return;
    }
    ++batches;
    if (!Change()) return;
    for (const auto& w : batch) doc.WriteText(w.key, w.name, w.text);
  }
  RegistryDocument doc;
  int reads = 0;
  int writes = 0;   // WriteText calls, the ones inside a value-by-value batch included
  int batches = 0;  // atomic batches
  bool atomic = false;
  // Changes that still reach the store; every later one is lost, as when the writing process is
  // killed. Negative: no limit.
  int changesLeft = -1;

 private:
  bool Change() {
    if (changesLeft == 0) return false;
    if (changesLeft > 0) --changesLeft;
    return true;
  }
};

// Files of the fake disk: INI texts and the set of paths that exist.
class MemoryFiles final : public IniReader, public SystemPaths {
 public:
  std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize) override;
  std::string SystemDirectory() override { return systemDir; }
  std::string LongPathName(const std::string& path) override;
  char Separator() const override;
  bool FileExists(const std::string& path) override;

  std::string systemDir = "/sys";
  std::map<std::string, std::string> files;  // path -> content
  // Short names that the fake disk maps to their long forms.
  std::map<std::string, std::string> longNames;
};

class HeadlessProcess : public Process {
 public:
  std::string CommandLine() override { return commandLine; }
  std::string ProgramFileName() override { return programFileName; }
  bool PreviousInstanceRunning(std::string_view saverName) override {
    guardedName = saverName;
    return previousInstance;
  }
  bool TopLevelWindowExists(std::string_view title) override;
  std::optional<Size> ClientSizeOf(NativeHandle window) override;
  bool Start(std::string_view line) override {
    started.emplace_back(line);
    return startSucceeds;
  }
  [[noreturn]] void ExitNow(int code) override { throw ExitRequest{code}; }

  // ExitNow unwinds to the test through this exception.
  struct ExitRequest {
    int code;
  };

  std::string commandLine;
  std::string programFileName = "dazzlebox";
  bool previousInstance = false;
  std::string guardedName;                  // the saver name of the last instance test
  std::vector<std::string> topLevelTitles;  // besides the windows of this platform
  std::map<NativeHandle, Size> foreignWindows;
  std::vector<std::string> started;
  bool startSucceeds = true;
  class HeadlessPlatform* owner = nullptr;
};

class HeadlessCursor final : public Cursor {
 public:
  int Show(bool show) override { return count += show ? 1 : -1; }
  Point Position() override { return position; }
  int count = 0;
  Point position{100, 100};
};

// A clock that moves only when told: timers fire in time order as it advances.
class FakeEventLoop final : public EventLoop {
 public:
  TimerId CreateTimer(std::int64_t periodMs, std::function<void()> tick) override;
  void SetTimer(TimerId id, bool enabled, std::int64_t periodMs) override;
  void DestroyTimer(TimerId id) override;
  void RunPending() override;
  // Lets pending work run, then moves the clock by one frame.
  void WaitFrame() override {
    RunPending();
    AdvanceBy(frameMs);
  }
  std::int64_t NowMs() override { return now; }
  int Run() override;
  void Quit(int code) override {
    quit = true;
    exitCode = code;
  }

  // Moves the clock, firing each due timer (a timer fires at most once per period step).
  void AdvanceBy(std::int64_t ms);
  // Work that RunPending runs (input a test wants delivered in the middle of a step).
  std::vector<std::function<void()>> pending;

  std::int64_t now = 0;
  std::int64_t frameMs = 16;
  bool quit = false;
  int exitCode = 0;
  int runPendingCalls = 0;
  // Run() advances the clock by this much per round until Quit or the limit.
  std::int64_t runLimitMs = 60'000;

  struct Timer {
    std::int64_t period = 0;
    std::int64_t due = 0;
    bool enabled = false;
    bool alive = true;
    std::function<void()> tick;
  };
  std::vector<Timer> timers;
};

class HeadlessWindow final : public Window {
 public:
  HeadlessWindow(class HeadlessPlatform& platform, const WindowOptions& options,
                 WindowEvents& events);
  ~HeadlessWindow() override;
  void SetCaption(std::string_view caption) override { caption_ = caption; }
  std::string Caption() const override { return caption_; }
  void Show() override { visible = true; }
  void SetState(WindowState state) override;
  Size ClientSize() const override { return size; }
  void Present(const SurfaceView& pixels, Rect dirty) override;
  void EmbedInto(NativeHandle parent, Size embedSize) override;
  void CoverArea(Rect area) override;
  int TwipsPerPixelX() const override { return twipsPerPixel; }
  int TwipsPerPixelY() const override { return twipsPerPixel; }
  NativeHandle Handle() const override { return handle; }
  void Destroy() override;
  void Move(Rect area) override;
  void SetVisible(bool v) override { visible = v; }

  // Input as the system would deliver it: through the window procedure.
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0) {
    return procedure(handle, message, wParam, lParam);
  }
  WindowProc procedure;  // the window's procedure; starts as delivery to `events`
  std::string className = "Dazzlebox.Window";
  Rect placement{};  // a child window's place in its parent
  Rect covered{};    // the desktop area a full-screen window covers (CoverArea)

  WindowEvents& events;
  Surface screen;  // what the window shows
  Size size{640, 480};
  bool visible = false;
  bool destroyed = false;
  WindowState state = WindowState::kNormal;
  NativeHandle parent = 0;
  NativeHandle handle = 0;
  int twipsPerPixel = 15;
  int presents = 0;
  // Called after every presentation with what the window now shows.
  std::function<void(const Surface&)> onPresent;

 private:
  HeadlessPlatform& platform_;
  std::string caption_;
};

class HeadlessImageLoader final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override;
  std::optional<Surface> Decode(const std::uint8_t* data, std::size_t size) override;
  std::map<std::string, Surface> pictures;  // path -> picture
  std::vector<std::string> loads;
};

class HeadlessSound final : public SoundPlayer {
 public:
  bool Play(const std::string& path, SoundRepeat repeat) override {
    playing = path;
    looping = repeat == SoundRepeat::kLoop;
    ++plays;
    return true;
  }
  void Stop() override {
    playing.clear();
    ++stops;
  }
  std::string playing;
  bool looping = false;
  int plays = 0;
  int stops = 0;
};

class HeadlessDialogs final : public Dialogs, public SystemColors {
 public:
  void MessageBox(std::string_view text, std::string_view, MessageKind) override {
    messages.emplace_back(text);
  }
  std::int32_t SysColor(int index) override;
  std::vector<std::string> messages;
};

class HeadlessPlatform : public Platform {
 public:
  HeadlessPlatform();
  SettingsStore& Settings() override { return settings; }
  IniReader& Ini() override { return files; }
  SystemPaths& Paths() override { return files; }
  Process& Proc() override { return process; }
  Cursor& Pointer() override { return cursor; }
  EventLoop& Loop() override { return loop; }
  ImageLoader& Images() override { return images; }
  SoundPlayer& Sound() override { return sound; }
  Dialogs& Dialog() override { return dialogs; }
  SystemColors& Colors() override { return dialogs; }
  std::unique_ptr<Window> CreateWindow(const WindowOptions& options, WindowEvents& events) override;
  std::unique_ptr<Window> CreateChildWindow(Window& parent, std::string_view className,
                                            const WindowOptions& options,
                                            WindowEvents& events) override;
  std::vector<Rect> Monitors() override { return monitors; }
  std::vector<NativeHandle> DescendantWindows(NativeHandle parent) override;
  std::string WindowClassName(NativeHandle window) override;
  WindowProc SubclassWindow(NativeHandle window, WindowProc procedure) override;
  HeadlessWindow* Find(NativeHandle handle);

  MemorySettingsStore settings;
  MemoryFiles files;
  HeadlessProcess process;
  HeadlessCursor cursor;
  FakeEventLoop loop;
  HeadlessImageLoader images;
  HeadlessSound sound;
  HeadlessDialogs dialogs;
  Size screenSize{1024, 768};
  // What new windows answer for twips per pixel (15: a scale factor of 100%).
  int twipsPerPixel = 15;
  // The desktop's monitors (none: one screen of screenSize).
  std::vector<Rect> monitors;
  // CreateWindow answers nothing, as a system without a display does.
  bool refuseWindows = false;
  std::vector<HeadlessWindow*> windows;  // live windows, in creation order
  NativeHandle nextHandle = 0x1000;
};

}  // namespace dbx
