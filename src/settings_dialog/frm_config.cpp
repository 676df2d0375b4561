#include "settings_dialog/frm_config.h"

#include <charconv>
#include <cmath>

#include "effects/numeric.h"
#include "settings/paths.h"
#include "settings/seeding.h"

namespace dbx {

std::optional<bool> YesNoValue(std::string_view text) {
  if (text == "True") return true;
  if (text == "False" || text.empty()) return false;
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value != 0;
}

frmConfig::frmConfig(Platform& platform, std::string saverName, const ConfigUiFactory& makeUi)
    : platform_(platform),
      saverName_(std::move(saverName)),
      settings_(platform.Settings(), saverName_),
      player_(&platform.Images()) {
  // The control as designed: windowed, playing in a loop, quality "High", show all.
  player_.SetWMode("Window");
  player_.SetFontSource(platform.Fonts());
  player_.SetQuality2("High");
  if (makeUi) ui_ = makeUi(platform_, *this);
  if (!ui_) {
    unloaded_ = true;
    return;
  }
  timer_ = platform_.Loop().CreateTimer(100, [this] { Tick(); });
  Form_Load();
  if (!unloaded_) ui_->Show();
}

frmConfig::~frmConfig() {
  if (timer_ >= 0) platform_.Loop().DestroyTimer(timer_);
  if (ui_ && !unloaded_) ui_->Close();
}

void frmConfig::Form_Load() {
  ui_->RemoveIcon();
  if (settings_.Get("ImageOrSWF") == "False") {
    ui_->SetVisible(ConfigControl::kRirodIMG, false);
    ui_->SetVisible(ConfigControl::kFlash, true);
    SetMovie();
  } else {
    ui_->SetVisible(ConfigControl::kRirodIMG, true);
    ui_->SetVisible(ConfigControl::kFlash, false);
    SetImg();
  }
}

void frmConfig::SetMovie() {
  ui_->RemoveIcon();
  player_.SetWMode("Window");
  SeedSettings(platform_, saverName_, KeyList::kDialogMovie);
  // The movie's background: nothing reads as 0; a text that is not a number ends SetMovie here,
  // and the labels keep their design texts.
  const std::string back = settings_.Get("BackColor");
  if (back.empty()) {
    player_.SetBackgroundColor(0);
  } else if (const auto color = ParseWholeNumber(back)) {
    player_.SetBackgroundColor(ResolveSystemColor(*color, platform_.Colors()));
  } else {
    return;
  }
  SetCaptions();
  // The quality text as read, an empty one included, goes to the player.
  const std::string quality = settings_.Get("Quality");
  SetFlashQuality(quality);
  PlayMovie(MoviePath(platform_, saverName_));
  // The cursor box is checked for a yes and never unchecked; a text that is no yes/no value ends
  // SetMovie here.
  const std::optional<bool> showCursor = YesNoValue(settings_.Get("ShowCursor"));
  if (!showCursor) return;
  if (*showCursor) ui_->SetChecked(ConfigControl::kChkCursor, true);
  // Only an exact match of a caption selects its quality option.
  for (int i = 0; i < 5; ++i) {
    if (kQualityCaptions[static_cast<std::size_t>(i)] == quality) SelectOption(i);
  }
  // The seed file stays where it is: deleting it would lose the content's settings for good
  // when the store did not keep them.
}

void frmConfig::SetImg() {
  SeedSettings(platform_, saverName_, KeyList::kDialogPicture);
  SetCaptions();
  // As in SetMovie, the seed file is kept.
}

void frmConfig::SetCaptions() {
  ui_->SetText(ConfigControl::kDeccap, settings_.Get("SaverDec"));
  ui_->SetText(ConfigControl::kVercap, "Version: " + settings_.Get("SaverVer"));
  ui_->SetText(ConfigControl::kCopycap, settings_.Get("SaverCopy"));
  ui_->SetText(ConfigControl::kWebsitecap, "Website: " + settings_.Get("SaverURL"));
}

void frmConfig::SelectOption(int index) {
  ui_->SetChecked(OptionControl(index), true);
  Option1_Click(index);
}

void frmConfig::Option1_Click(int index) {
  if (index < 0 || index > 4) return;
  SetFlashQuality(kQualityCaptions[static_cast<std::size_t>(index)]);
}

void frmConfig::SetFlashQuality(std::string_view quality) {
  player_.SetQuality2(quality);
  RedrawPreview();
}

void frmConfig::PlayMovie(const std::string& path) {
  // The preview plays the movie's sound; the device opens with the first movie (none: silent).
  if (!audio_) {
    audio_ = platform_.OpenAudioOutput(
        [this](std::int16_t* stereo, std::size_t frames) { player_.MixSound(stereo, frames); });
    if (audio_) {
      player_.SetMp3Decoders(
          [this](int rate, int channels) { return platform_.CreateMp3Decoder(rate, channels); });
      player_.SetSoundMode(SoundMode::kDevice);
    }
  }
  player_.SetMovie(path);
  player_.Play();
  Tick();
}

void frmConfig::Form_Resize() {
  if (unloaded_) return;
  // Passing through "Low" makes the player render the movie anew at the preview's size.
  const std::string quality = player_.Quality2();
  SetFlashQuality("Low");
  SetFlashQuality(quality);
}

void frmConfig::Form_KeyPress(int keyAscii) {
  if (keyAscii == 27) Form_Unload();
}

void frmConfig::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  audio_.reset();  // the sound ends with the window
  if (timer_ >= 0) {
    platform_.Loop().DestroyTimer(timer_);
    timer_ = -1;
  }
  ui_->Close();
  platform_.Loop().Quit(0);
}

void frmConfig::cmdChange_Click() {
  std::string fileName, fileTitle, filter = "SWF movie|*.swf";
  OpenOptions options = OpenOption::kFileMustExist;
  std::int32_t filterIndex = 1, flags = 0;
  if (ShowOpenDialog(ui_->CommonDialogs(), fileName, fileTitle, options, filter, filterIndex, "",
                     "Choose a SWF", "", kNoOwner, flags)) {
    PlayMovie(fileName);
  }
}

void frmConfig::cmdBack_Click() {
  std::int32_t color = 0;
  if (ShowColorDialog(ui_->CommonDialogs(), color, /*anyColor=*/true, /*fullOpen=*/false,
                      /*preventFullOpen=*/false, kNoOwner)) {
    player_.SetBackgroundColor(color);
    RedrawPreview();
  }
}

void frmConfig::OnClick(ConfigControl control) {
  if (unloaded_) return;
  switch (control) {
    case ConfigControl::kCmdChange:
      cmdChange_Click();
      break;
    case ConfigControl::kCmdBack:
      cmdBack_Click();
      break;
    case ConfigControl::kOption0:
    case ConfigControl::kOption1:
    case ConfigControl::kOption2:
    case ConfigControl::kOption3:
    case ConfigControl::kOption4:
      Option1_Click(static_cast<int>(control) - static_cast<int>(ConfigControl::kOption0));
      break;
    default:
      // The check box only shows the setting; the labels do nothing on a click.
      break;
  }
}

void frmConfig::OnMouseMove(ConfigControl control) {
  if (unloaded_) return;
  // Over the web address the text is underlined; the bare surface takes the underline away;
  // other controls leave it as it is.
  if (control == ConfigControl::kWebsitecap) {
    ui_->SetUnderline(ConfigControl::kWebsitecap, true);
  } else if (control == ConfigControl::kCount) {
    ui_->SetUnderline(ConfigControl::kWebsitecap, false);
  }
}

void frmConfig::Tick() {
  if (unloaded_) return;
  if (player_.Advance(platform_.Loop().NowMs())) RedrawPreview();
  // The timer follows the movie's frame rate.
  const auto period =
      static_cast<std::int64_t>(std::max(1.0, std::floor(player_.FrameIntervalMs())));
  if (period != timerPeriod_ && timer_ >= 0) {
    timerPeriod_ = period;
    platform_.Loop().SetTimer(timer_, true, period);
  }
}

void frmConfig::RedrawPreview() {
  if (unloaded_ || !ui_ || !ui_->Visible(ConfigControl::kFlash)) return;
  const Size size = ui_->PreviewSize();
  if (size.w <= 0 || size.h <= 0) return;
  player_.SetViewportSize(size);
  if (frame_.width() != size.w || frame_.height() != size.h) frame_.Resize(size.w, size.h);
  player_.RenderFrame(frame_.View());
  ui_->PresentPreview(frame_.View());
}

}  // namespace dbx
