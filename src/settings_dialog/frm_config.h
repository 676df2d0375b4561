// frmConfig: the settings dialog of config mode. It shows the content's description, version,
// copyright line and web address beside a preview (the movie playing, or an empty white area for
// picture content), seeds the settings on a first run and writes nothing else: the quality,
// background colour and movie chosen here act on the preview only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/form.h"
#include "core/platform.h"
#include "settings/mod_reg.h"
#include "settings_dialog/config_dialog_ui.h"
#include "swf/flash_player.h"

namespace dbx {

// Makes the dialog's window on this system, or nothing when the system cannot show one.
using ConfigUiFactory =
    std::function<std::unique_ptr<ConfigDialogUi>(Platform&, ConfigDialogEvents&)>;

// The captions of the quality options, by index.
inline constexpr std::array<std::string_view, 5> kQualityCaptions = {"Low", "AutoLow", "AutoHigh",
                                                                     "High", "Best"};

// "ShowCursor" as a yes/no value: "True" yes; "False" and the empty text no; a number yes unless
// it is 0. Anything else is not a yes/no value (nothing).
std::optional<bool> YesNoValue(std::string_view text);

class frmConfig final : public Form, private ConfigDialogEvents {
 public:
  // Loading runs the load step and then shows the window, so the dialog is up when this returns
  // (GetWindow() has nothing further to show).
  frmConfig(Platform& platform, std::string saverName, const ConfigUiFactory& makeUi);
  ~frmConfig() override;

  Window* GetWindow() override { return nullptr; }
  bool Loaded() const override { return !unloaded_; }

  // The load steps for movie content and for picture content.
  void SetMovie();
  void SetImg();

  void Form_KeyPress(int keyAscii);
  void Form_Resize();
  void Form_Unload();
  void cmdChange_Click();
  void cmdBack_Click();
  void Option1_Click(int index);

  // The preview player, for tests.
  const FlashPlayer& Flash() const { return player_; }
  ConfigDialogUi* Ui() { return ui_.get(); }

 private:
  void Form_Load();
  void PlayMovie(const std::string& path);
  void SetCaptions();
  void SelectOption(int index);
  void SetFlashQuality(std::string_view quality);
  void RedrawPreview();
  void Tick();

  void OnKeyPress(int charCode) override { Form_KeyPress(charCode); }
  void OnClick(ConfigControl control) override;
  void OnMouseMove(ConfigControl control) override;
  void OnResize() override { Form_Resize(); }
  void OnCloseRequest() override { Form_Unload(); }
  void OnPreviewPaint() override { RedrawPreview(); }

  Platform& platform_;
  std::string saverName_;
  Settings settings_;
  std::unique_ptr<ConfigDialogUi> ui_;
  FlashPlayer player_;
  std::unique_ptr<AudioOutput> audio_;  // pulls from player_: closed before it goes
  Surface frame_;
  TimerId timer_ = -1;
  std::int64_t timerPeriod_ = 0;
  bool unloaded_ = false;
};

}  // namespace dbx
