// The settings dialog's window on Windows: a fixed-frame window with the controls of the design
// table, laid out from twips at the screen's twips per pixel, and the system's open-file and
// colour dialogs (comdlg32).
#pragma once

#include <memory>

#include "core/platform.h"
#include "settings_dialog/config_dialog_ui.h"

namespace dbx {

// The window for frmConfig (pass it as frmConfig's ConfigUiFactory). Nothing when the system
// refuses the window. Keyboard handling (Tab, arrows, Space, Enter, Esc) runs through a message
// hook of the calling thread, so any message loop of the thread drives it.
std::unique_ptr<ConfigDialogUi> CreateWin32ConfigDialogUi(Platform& platform,
                                                          ConfigDialogEvents& events);

// GetOpenFileNameA, ChooseColorA and GetSysColor behind the wrapper's backend.
class Win32CommonDialogs final : public CommonDialogBackend {
 public:
  int RunOpenDialog(OpenFileRequest& request) override;
  int RunColorDialog(ColorRequest& request) override;
  std::int32_t SysColor(int index) override;
};

}  // namespace dbx
