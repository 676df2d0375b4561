#include "startup/sub_main.h"

#include <exception>

#include "core/trace.h"
#include "settings/mod_reg.h"
#include "settings/paths.h"
#include "settings/seeding.h"
#include "startup/frm_preview.h"

namespace dbx {
namespace {

std::string_view TrimSpaces(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

#ifndef _WIN32
bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return UpperAscii(s.substr(s.size() - suffix.size())) == UpperAscii(suffix);
}
#endif

// The saver name: the program's long file name without its extension. On Windows the program is
// always "<name>.scr" in the system directory; elsewhere it may be "<name>.scr" or plainly
// "<name>".
std::string DeriveSaverName(Platform& platform) {
  const std::string file = FileTitle(platform.Proc().ProgramFileName());
  const auto dot = file.rfind('.');
  const std::string base = dot == std::string::npos ? file : file.substr(0, dot);
#ifdef _WIN32
  const std::string ext = ".scr";
  const std::string stem = base;
#else
  const std::string ext = EndsWithNoCase(file, ".scr") ? ".scr" : "";
  const std::string stem = ext.empty() ? file : base;
#endif
  std::string name = FileTitle(LongPath(platform, SystemDir(platform) + kPathSep + stem + ext));
  if (!ext.empty()) {
    // Removing the extension fails on a name shorter than it, and the step is then skipped.
    if (name.size() >= ext.size()) name.resize(name.size() - ext.size());
  }
  return std::string(TrimSpaces(name));
}

}  // namespace

StartMode ParseStartMode(std::string_view commandLine) {
  const std::string line = UpperAscii(TrimSpaces(commandLine));
  const std::string_view sw = std::string_view(line).substr(0, 2);
  if (sw == "/C") return StartMode::kConfig;
  if (sw == "/S" || sw == "/T") return StartMode::kScreen;
  if (sw == "/P") return StartMode::kPreview;
  return StartMode::kConfig;
}

std::optional<std::int32_t> ParsePreviewHandle(std::string_view commandLine) {
  const std::string_view line = TrimSpaces(commandLine);
  std::size_t start = line.size();
  while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9') --start;
  const std::string_view digits = line.substr(start);
  if (digits.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > 2147483647) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

StartOutcome Main(Platform& platform, FormFactory& forms) {
  StartOutcome r;
  const std::string line = UpperAscii(TrimSpaces(platform.Proc().CommandLine()));
  r.mode = ParseStartMode(line);
  r.saverName = DeriveSaverName(platform);

  SeedSettings(platform, r.saverName, KeyList::kEntry);
  r.contentKind = ReadRegValue(platform.Settings(), SettingsKey(r.saverName), "ImageOrSWF");
  const bool movie = r.contentKind == "False";

  switch (r.mode) {
    case StartMode::kConfig:
      r.form = forms.CreateConfig(platform, r.saverName);
      if (r.form && r.form->GetWindow()) r.form->GetWindow()->Show();
      break;
    case StartMode::kScreen: {
      const bool mark = GuardSingleInstance(platform, r.saverName);
      r.form = movie ? forms.CreateScreen(platform, r.saverName, StartMode::kScreen)
                     : forms.CreateImageScr(platform, r.saverName);
      if (r.form && r.form->GetWindow()) {
        Window* w = r.form->GetWindow();
        if (mark) w->SetCaption(kInstanceMark);
        Trace("show");
        w->Show();
        w->SetState(WindowState::kMaximized);
        Trace("shown");
      }
      break;
    }
    case StartMode::kPreview: {
      platform.Pointer().Show(true);
      r.previewParent = ParsePreviewHandle(line).value_or(0);
      const auto parent = static_cast<NativeHandle>(static_cast<std::uint32_t>(r.previewParent));
      const std::optional<Size> size = platform.Proc().ClientSizeOf(parent);
      if (!size) {
        // No window to draw into: a window parented to nothing would live on unseen, so the
        // preview ends here instead.
        break;
      }
      if (movie) {
        r.form = forms.CreateScreen(platform, r.saverName, StartMode::kPreview);
      } else {
        r.form = std::make_unique<frmPreview>(platform);
      }
      if (r.form && r.form->GetWindow()) {
        r.form->GetWindow()->SetCaption("Preview");
        r.form->GetWindow()->EmbedInto(parent, *size);
      }
      break;
    }
  }
  return r;
}

bool GuardSingleInstance(Platform& platform, std::string_view saverName) {
  if (!platform.Proc().PreviousInstanceRunning(saverName)) return false;
  if (platform.Proc().TopLevelWindowExists(kInstanceMark)) platform.Proc().ExitNow(0);
  return true;
}

int RunDazzlebox(Platform& platform, FormFactory& forms) {
  try {
    StartOutcome r = Main(platform, forms);
    if (!r.form || !r.form->Loaded()) return 0;
    return platform.Loop().Run();
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace dbx
