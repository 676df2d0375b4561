// The settings dialog's window as the form sees it: controls made from one table, texts, checks,
// visibility, and the events the form handles. One implementation per system (a Win32 dialog
// window, a GTK3 window) and a fake in the tests; the form's logic never sees a system handle.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/surface.h"
#include "settings_dialog/common_dialog.h"

namespace dbx {

enum class ConfigControl : int {
  kFlash,
  kRirodIMG,
  kFrame1,
  kVercap,
  kDeccap,
  kWebsitecap,
  kCopycap,
  kUserLogo,
  kLabel1,
  kCmdChange,
  kCmdBack,
  kChkCursor,
  kFraQuality,
  kOption0,
  kOption1,
  kOption2,
  kOption3,
  kOption4,
  kCount
};
inline constexpr int kConfigControlCount = static_cast<int>(ConfigControl::kCount);

enum class ControlKind {
  kMoviePreview,  // the movie player's own child window
  kPictureBox,    // an empty area with a background colour
  kLogo,          // the logo picture
  kFrame,         // a group box with a caption
  kInfoLabel,     // Tahoma 8.25 pt, transparent background
  kButton,
  kCheckBox,
  kOption,  // one group, inside the quality frame
};

// One control as designed: position and size in twips, relative to the client area (to the
// frame's inside for the quality options).
struct ControlSpec {
  ConfigControl id;
  std::string_view name;
  ControlKind kind;
  std::string_view text;
  int left, top, width, height;
  int tabIndex;
  bool autoSize = false;  // the label sizes itself to its text
  bool blueText = false;
};

// Every control in the order of the design table.
const std::array<ControlSpec, kConfigControlCount>& ConfigControls();
const ControlSpec& ControlOf(ConfigControl id);
// The quality option of index 0 to 4.
ConfigControl OptionControl(int index);

// The client area of the dialog, in twips.
inline constexpr int kConfigClientWidthTwips = 5820;
inline constexpr int kConfigClientHeightTwips = 5415;
// The logo's natural size in pixels.
inline constexpr Size kLogoSize{90, 28};

// A rectangle in twips converted to pixels at the screen's twips per pixel.
Rect TwipsToPixels(int left, int top, int width, int height, int twipsPerPixelX,
                   int twipsPerPixelY);

// The logo picture, drawn in code so that no image file ships with the program.
Surface MakeLogo();

// What the dialog's window reports to the form.
class ConfigDialogEvents {
 public:
  virtual ~ConfigDialogEvents() = default;
  // A key that produced a character, whichever control had the focus (Esc gives 27).
  virtual void OnKeyPress(int charCode) = 0;
  // A button or check box pressed, or an option clicked by the user.
  virtual void OnClick(ConfigControl control) = 0;
  // The mouse moved over `control`, or over the dialog's bare surface (kCount).
  virtual void OnMouseMove(ConfigControl control) = 0;
  // The window was resized, its first showing included.
  virtual void OnResize() = 0;
  // The user closes the window by its frame.
  virtual void OnCloseRequest() = 0;
  // The preview area needs its picture again.
  virtual void OnPreviewPaint() {}
};

class ConfigDialogUi {
 public:
  virtual ~ConfigDialogUi() = default;
  virtual void SetText(ConfigControl control, std::string_view text) = 0;
  virtual std::string Text(ConfigControl control) const = 0;
  virtual void SetVisible(ConfigControl control, bool visible) = 0;
  virtual bool Visible(ConfigControl control) const = 0;
  // The check box and the options; checking an option unchecks the others of its group. No
  // click event follows.
  virtual void SetChecked(ConfigControl control, bool checked) = 0;
  virtual bool Checked(ConfigControl control) const = 0;
  virtual void SetUnderline(ConfigControl control, bool underline) = 0;
  virtual void RemoveIcon() = 0;
  virtual void Show() = 0;
  // Removes the window; no event reaches the form afterwards.
  virtual void Close() = 0;
  // The window as an owner for the common dialogs; kNoOwner when it has none.
  virtual std::int32_t OwnerHandle() const = 0;
  // The movie preview: its size in pixels and a frame to show in it.
  virtual Size PreviewSize() const = 0;
  virtual void PresentPreview(const SurfaceView& frame) = 0;
  virtual CommonDialogBackend& CommonDialogs() = 0;
};

}  // namespace dbx
