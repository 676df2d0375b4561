// The windows compiled into the program. Each screen registers here as it arrives; a start that
// needs one that is not built in ends cleanly with nothing shown.
#include "flash_screen/frm_screen.h"
#include "settings_dialog/frm_config.h"
#include "slideshow/frm_image_scr.h"
#if defined(DBX_CONFIG_DIALOG_WIN32)
#include "platform/win32_dialog/win32_config_dialog.h"
#elif defined(DBX_CONFIG_DIALOG_GTK)
#include "platform/gtk/gtk_config_dialog.h"
#endif
#include "startup/sub_main.h"

namespace dbx {
namespace {

class Forms final : public FormFactory {
 public:
  std::unique_ptr<Form> CreateScreen(Platform& platform, const std::string& saverName,
                                     StartMode mode) override {
    return std::make_unique<frmScreen>(platform, saverName, mode != StartMode::kPreview);
  }
  std::unique_ptr<Form> CreateImageScr(Platform& platform, const std::string& saverName) override {
    return std::make_unique<frmImageScr>(platform, saverName);
  }
  std::unique_ptr<Form> CreateConfig(Platform& platform, const std::string& saverName) override {
#if defined(DBX_CONFIG_DIALOG_WIN32)
    return std::make_unique<frmConfig>(platform, saverName, CreateWin32ConfigDialogUi);
#elif defined(DBX_CONFIG_DIALOG_GTK)
    return std::make_unique<frmConfig>(platform, saverName, CreateGtkConfigDialogUi);
#else
    // A build without a dialog toolkit opens no dialog.
    (void)platform;
    (void)saverName;
    return nullptr;
#endif
  }
};

}  // namespace

FormFactory& ProgramForms() {
  static Forms forms;
  return forms;
}

}  // namespace dbx
