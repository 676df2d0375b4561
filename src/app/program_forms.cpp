// The windows compiled into the program. Each screen registers here as it arrives; a start that
// needs one that is not built in ends cleanly with nothing shown.
#include "flash_screen/frm_screen.h"
#include "slideshow/frm_image_scr.h"
#include "startup/sub_main.h"

namespace dbx {
namespace {

class Forms final : public FormFactory {
 public:
  std::unique_ptr<Form> CreateScreen(Platform& platform, const std::string& saverName,
                                     StartMode) override {
    return std::make_unique<frmScreen>(platform, saverName);
  }
  std::unique_ptr<Form> CreateImageScr(Platform& platform, const std::string& saverName) override {
    return std::make_unique<frmImageScr>(platform, saverName);
  }
  std::unique_ptr<Form> CreateConfig(Platform&, const std::string&) override { return nullptr; }
};

}  // namespace

FormFactory& ProgramForms() {
  static Forms forms;
  return forms;
}

}  // namespace dbx
