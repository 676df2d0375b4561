// The settings dialog's window on Linux, in GTK3: the controls of the design table at fixed pixel
// positions converted from twips, and GTK's file and colour choosers behind the common-dialog
// wrapper.
//
// The program's message loop is the X11 loop of the platform layer; GTK is pumped from it by a
// 10 ms timer of that loop while the dialog is open, so the movie preview's timer, Quit and the
// rest of the program work unchanged. The file and colour choosers run GTK's own loop until they
// close (they are modal), during which the preview stands still.
#pragma once

#include <memory>

#include "core/platform.h"
#include "settings_dialog/config_dialog_ui.h"

namespace dbx {

// The window for frmConfig (pass it as frmConfig's ConfigUiFactory). Nothing when GTK cannot open
// the display.
std::unique_ptr<ConfigDialogUi> CreateGtkConfigDialogUi(Platform& platform,
                                                        ConfigDialogEvents& events);

}  // namespace dbx
