// The small services of the Linux platform that need the display: the pointer, the process and
// its neighbours' windows, message boxes and system colours.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/posix_services.h"
#include "platform/x11/display.h"

namespace dbx::x11 {

class X11Cursor final : public Cursor {
 public:
  explicit X11Cursor(X11Display& display) : display_(display) {}
  int Show(bool show) override;
  Point Position() override;

 private:
  X11Display& display_;
};

class X11Process final : public Process {
 public:
  X11Process(X11Display& display, std::string commandLine, std::string programName, bool hackMode)
      : display_(display),
        commandLine_(std::move(commandLine)),
        programName_(std::move(programName)),
        hackMode_(hackMode) {}
  std::string CommandLine() override { return commandLine_; }
  std::string ProgramFileName() override { return programName_; }
  bool PreviousInstanceRunning(std::string_view saverName) override;
  bool TopLevelWindowExists(std::string_view title) override;
  std::optional<Size> ClientSizeOf(NativeHandle window) override;
  bool Start(std::string_view commandLine) override {
    return SpawnDetached(SplitCommandLine(commandLine));
  }
  [[noreturn]] void ExitNow(int code) override;

 private:
  X11Display& display_;
  std::string commandLine_;
  std::string programName_;
  bool hackMode_;
  std::unique_ptr<InstanceLock> lock_;
};

// Message boxes go to the standard error; system colours are those of a classic desktop.
class X11Dialogs final : public Dialogs, public SystemColors {
 public:
  void MessageBox(std::string_view text, std::string_view caption, MessageKind) override;
  std::int32_t SysColor(int index) override;
};

}  // namespace dbx::x11
