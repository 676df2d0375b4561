#include <gtest/gtest.h>

#include "platform/headless/headless_platform.h"
#include "settings/mod_reg.h"
#include "settings/paths.h"
#include "startup/frm_preview.h"
#include "startup/sub_main.h"

namespace dbx {
namespace {

const std::string S(1, kPathSep);

TEST(StartMode, FromTheFirstTwoCharacters) {
  struct Case {
    std::string line;
    StartMode mode;
  };
  const Case cases[] = {
      {"/s", StartMode::kScreen},
      {"   /S   ", StartMode::kScreen},
      {"/S:1", StartMode::kScreen},
      {"/s extra", StartMode::kScreen},
      {"/t", StartMode::kScreen},
      {"/T", StartMode::kScreen},
      {"/p 66666", StartMode::kPreview},
      {"/P:66666", StartMode::kPreview},
      {"/p", StartMode::kPreview},
      {"", StartMode::kConfig},
      {"/c", StartMode::kConfig},
      {"/c:4567", StartMode::kConfig},
      {"-s", StartMode::kConfig},
      {"/a", StartMode::kConfig},
      {"/", StartMode::kConfig},
      {"s/", StartMode::kConfig},
      {"\xC3\xA9/s", StartMode::kConfig},
      {"/\xC3\xA9", StartMode::kConfig},
      {"/s" + std::string(10000, 'x'), StartMode::kScreen},
      {std::string(10000, ' ') + "/p 5", StartMode::kPreview},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseStartMode(c.line), c.mode) << "'" << c.line.substr(0, 40) << "'";
  }
}

TEST(PreviewHandle, TrailingDigitsOfTheTrimmedLine) {
  struct Case {
    std::string line;
    std::optional<std::int32_t> handle;
  };
  const Case cases[] = {
      {"/P 1234", 1234},
      {"/P:1234", 1234},
      {"/P1234", 1234},
      {"  /p 66666  ", 66666},
      {"/p", std::nullopt},
      {"/P 12 x", std::nullopt},
      {"/p 2147483647", 2147483647},
      {"/p 2147483648", std::nullopt},
      {"/p 12345678901234567890", std::nullopt},
      {"/p 00000000000000000042", 42},
      {"/p -5", 5},  // the sign is not a digit: only the trailing run counts
      {"/p \xC3\xA9", std::nullopt},
      {"/p " + std::string(10000, '9'), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParsePreviewHandle(c.line), c.handle) << "'" << c.line.substr(0, 40) << "'";
  }
}

// Forms that record what the dispatch asked for.
struct TestForm : Form, WindowEvents {
  TestForm(Platform& p, std::string k) : kind(std::move(k)) {
    window = p.CreateWindow(WindowOptions{}, *this);
  }
  Window* GetWindow() override { return window.get(); }
  bool Loaded() const override { return true; }
  std::string kind;
  std::unique_ptr<Window> window;
};

struct TestForms : FormFactory {
  std::unique_ptr<Form> CreateScreen(Platform& p, const std::string&, StartMode mode) override {
    return std::make_unique<TestForm>(p, mode == StartMode::kPreview ? "screen-preview" : "screen");
  }
  std::unique_ptr<Form> CreateImageScr(Platform& p, const std::string&) override {
    return std::make_unique<TestForm>(p, "slideshow");
  }
  std::unique_ptr<Form> CreateConfig(Platform& p, const std::string&) override {
    return std::make_unique<TestForm>(p, "config");
  }
};

struct NoForms : FormFactory {
  std::unique_ptr<Form> CreateScreen(Platform&, const std::string&, StartMode) override {
    return nullptr;
  }
  std::unique_ptr<Form> CreateImageScr(Platform&, const std::string&) override { return nullptr; }
  std::unique_ptr<Form> CreateConfig(Platform&, const std::string&) override { return nullptr; }
};

struct Start {
  HeadlessPlatform p;
  TestForms forms;
  explicit Start(std::string line, std::string kind = "True") {
    p.files.systemDir = "SYS";
    p.process.commandLine = std::move(line);
    p.process.programFileName = "My Saver.scr";
    p.files.files["SYS" + S + "My Saver.scr"] = "";
    p.files.files[SeedFilePath(p)] = "[DM-NOVAPOST]\nImageOrSWF=" + kind + "\n";
  }
  std::string Kind(const StartOutcome& r) {
    return r.form ? static_cast<TestForm*>(r.form.get())->kind : "none";
  }
};

TEST(Main, DispatchByModeAndContentKind) {
  struct Case {
    const char* line;
    const char* content;
    const char* form;
  };
  const Case cases[] = {
      {"/s", "False", "screen"},    {"/s", "True", "slideshow"},
      {"/s", "false", "slideshow"}, {"/s", "", "slideshow"},
      {"/t", "False", "screen"},    {"/c", "False", "config"},
      {"", "True", "config"},       {"/p 77", "False", "screen-preview"},
  };
  for (const auto& c : cases) {
    Start s(c.line, c.content);
    s.p.process.foreignWindows[77] = {152, 112};
    const StartOutcome r = Main(s.p, s.forms);
    EXPECT_EQ(s.Kind(r), c.form) << c.line << " " << c.content;
    EXPECT_EQ(r.saverName, "My Saver");
    // The entry seeds only the content kind and leaves the rest to the window.
    EXPECT_EQ(ReadRegValue(s.p.settings, SettingsKey("My Saver"), "Loaded"), "False");
  }
}

TEST(Main, ScreenModeShowsMaximisedAndPreviewEmbedsAtTheParentsSize) {
  Start screen("/s");
  StartOutcome r = Main(screen.p, screen.forms);
  auto* w = static_cast<HeadlessWindow*>(r.form->GetWindow());
  EXPECT_TRUE(w->visible);
  EXPECT_EQ(w->state, WindowState::kMaximized);
  EXPECT_EQ(w->Caption(), "Form1");
  EXPECT_EQ(screen.p.cursor.count, 0);

  Start preview("/p:66666");
  preview.p.process.foreignWindows[66666] = {152, 112};
  preview.p.process.previousInstance = true;  // the guard never runs in preview mode
  preview.p.process.topLevelTitles = {"ScrVB"};
  r = Main(preview.p, preview.forms);
  ASSERT_NE(r.form, nullptr);
  EXPECT_EQ(r.previewParent, 66666);
  auto* pw = static_cast<HeadlessWindow*>(r.form->GetWindow());
  EXPECT_EQ(pw->parent, 66666u);
  EXPECT_EQ(pw->size, (Size{152, 112}));
  EXPECT_EQ(pw->state, WindowState::kNormal);
  EXPECT_EQ(pw->Caption(), "Preview");
  EXPECT_EQ(preview.p.cursor.count, 1);
  r.form.reset();  // the window goes before the platform that made it
}

TEST(Main, PicturePreviewIsPlainDarkGrey) {
  Start s("/p 5", "True");
  s.p.process.foreignWindows[5] = {31, 17};
  StartOutcome r = Main(s.p, s.forms);
  ASSERT_NE(dynamic_cast<frmPreview*>(r.form.get()), nullptr);
  auto* w = static_cast<HeadlessWindow*>(r.form->GetWindow());
  ASSERT_EQ(w->screen.size(), (Size{31, 17}));
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 31; ++x) ASSERT_EQ(w->screen.At(x, y), 0x404040u);
  }
}

TEST(Main, PreviewWithoutAUsableParentEndsWithNothingShown) {
  for (const char* line : {"/p", "/p 2147483648", "/p 99"}) {
    Start s(line);
    const StartOutcome r = Main(s.p, s.forms);
    EXPECT_EQ(r.form, nullptr) << line;
    EXPECT_EQ(RunDazzlebox(s.p, s.forms), 0) << line;
  }
}

TEST(Main, SingleInstanceGuard) {
  // First instance: keeps its design caption.
  Start first("/s");
  StartOutcome r1 = Main(first.p, first.forms);
  EXPECT_EQ(r1.form->GetWindow()->Caption(), "Form1");
  // Second: another instance runs, no mark yet: it marks itself.
  Start second("/s");
  second.p.process.previousInstance = true;
  StartOutcome r2 = Main(second.p, second.forms);
  EXPECT_EQ(r2.form->GetWindow()->Caption(), "ScrVB");
  // The guard asks about this saver, by its name.
  EXPECT_EQ(second.p.process.guardedName, r2.saverName);
  EXPECT_FALSE(r2.saverName.empty());
  // Third: finds the mark and ends at once, showing nothing.
  Start third("/s");
  third.p.process.previousInstance = true;
  third.p.process.topLevelTitles = {"ScrVB"};
  try {
    Main(third.p, third.forms);
    ADD_FAILURE() << "the third instance went on";
  } catch (const HeadlessProcess::ExitRequest& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_TRUE(third.p.windows.empty());
  // The dialog never runs the guard.
  Start dialog("/c");
  dialog.p.process.previousInstance = true;
  dialog.p.process.topLevelTitles = {"ScrVB"};
  EXPECT_EQ(dialog.Kind(Main(dialog.p, dialog.forms)), "config");
}

TEST(Main, SaverNameFromTheLongFormOfTheProgramName) {
  Start s("/c");
  s.p.process.programFileName = "MYSAVE~1.SCR";
  s.p.files.longNames["SYS" + S + "MYSAVE~1.scr"] = "SYS" + S + "My Saver.scr";
  EXPECT_EQ(Main(s.p, s.forms).saverName, "My Saver");

  Start outside("/c");  // a program that is not in the system directory has no saver name
  outside.p.process.programFileName = "Elsewhere.scr";
  EXPECT_EQ(Main(outside.p, outside.forms).saverName, "");

  Start padded("/c");
  padded.p.process.programFileName = " Spaced .scr";
  padded.p.files.files["SYS" + S + " Spaced .scr"] = "";
  EXPECT_EQ(Main(padded.p, padded.forms).saverName, "Spaced");
}

TEST(Main, WithoutTheScreenWindowsTheStartEndsCleanly) {
  for (const char* line : {"/s", "/c", "/p 5", ""}) {
    Start s(line);
    s.p.process.foreignWindows[5] = {10, 10};
    NoForms none;
    const StartOutcome r = Main(s.p, none);
    if (std::string(line) == "/p 5") {
      EXPECT_NE(r.form, nullptr);  // the picture preview is ours
    } else {
      EXPECT_EQ(r.form, nullptr) << line;
      EXPECT_EQ(RunDazzlebox(s.p, none), 0) << line;
    }
  }
}

}  // namespace
}  // namespace dbx
