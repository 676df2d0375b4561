// The program's entry: start mode, saver name, content kind, single-instance guard, dispatch.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/form.h"
#include "core/platform.h"

namespace dbx {

// The start mode from the first two characters of the trimmed, upper-cased command line.
StartMode ParseStartMode(std::string_view commandLine);

// The trailing run of decimal digits of the trimmed line, or nothing when there is none or it does
// not fit a 32-bit signed integer.
std::optional<std::int32_t> ParsePreviewHandle(std::string_view commandLine);

// What Main decided, for the caller and for tests.
struct StartOutcome {
  StartMode mode = StartMode::kConfig;
  std::string saverName;
  std::string contentKind;
  std::int32_t previewParent = 0;
  std::unique_ptr<Form> form;  // the one window of the run, when one was opened
};

// The caption that marks a running screen between processes.
inline constexpr std::string_view kInstanceMark = "ScrVB";

// The single-instance guard of screen mode. Ends the process when a marked screen already runs;
// otherwise returns whether the window about to open must carry the mark (another instance runs).
bool GuardSingleInstance(Platform& platform, std::string_view saverName);

// Runs the entry once: parses the command line, derives the saver name, seeds the content kind,
// opens the window of the mode. Returns what it opened; the caller runs the loop while it is
// loaded.
StartOutcome Main(Platform& platform, FormFactory& forms);

// The whole program: Main, then the message loop while a window is open. Returns the exit code.
int RunDazzlebox(Platform& platform, FormFactory& forms);

// The forms compiled into this program (screens, slideshow, dialog, preview).
FormFactory& ProgramForms();

}  // namespace dbx
