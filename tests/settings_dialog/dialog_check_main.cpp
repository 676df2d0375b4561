// Dazzlebox with the settings dialog in its form list, for the end-to-end checks of the dialog:
// the whole start (command line, saver name, seeding, dispatch) runs as in the program.
#include "settings_dialog/frm_config.h"
#include "startup/sub_main.h"

#ifdef DBX_DIALOG_WIN32
#include "platform/win32/win32_platform.h"
#include "platform/win32_dialog/win32_config_dialog.h"
#else
#include "platform/gtk/gtk_config_dialog.h"
#include "platform/x11/x11_platform.h"
#endif

namespace {

class Forms final : public dbx::FormFactory {
 public:
  std::unique_ptr<dbx::Form> CreateScreen(dbx::Platform& platform, const std::string& saverName,
                                          dbx::StartMode mode) override {
    return dbx::ProgramForms().CreateScreen(platform, saverName, mode);
  }
  std::unique_ptr<dbx::Form> CreateImageScr(dbx::Platform& platform,
                                            const std::string& saverName) override {
    return dbx::ProgramForms().CreateImageScr(platform, saverName);
  }
  std::unique_ptr<dbx::Form> CreateConfig(dbx::Platform& platform,
                                          const std::string& saverName) override {
#ifdef DBX_DIALOG_WIN32
    return std::make_unique<dbx::frmConfig>(platform, saverName, dbx::CreateWin32ConfigDialogUi);
#else
    return std::make_unique<dbx::frmConfig>(platform, saverName, dbx::CreateGtkConfigDialogUi);
#endif
  }
};

}  // namespace

#ifdef DBX_DIALOG_WIN32
int main() {
  auto platform = dbx::CreateSystemPlatform();
  Forms forms;
  return dbx::RunDazzlebox(*platform, forms);
}
#else
int main(int argc, char** argv) {
  auto platform = dbx::CreateX11Platform(dbx::ParseX11Arguments(argc, argv));
  Forms forms;
  return dbx::RunDazzlebox(*platform, forms);
}
#endif
