// The windows a run may open, as the start-up sees them: a screen, the slideshow, the settings
// dialog. Each screen implements Form; the program's FormFactory makes them, so start-up depends on
// no screen and no screen depends on start-up.
#pragma once

#include <memory>
#include <string>

#include "core/platform.h"

namespace dbx {

enum class StartMode { kConfig = 1, kScreen = 2, kPreview = 3 };

// The windows that a start may open. Each screen arrives with its own module; until one is there
// the seam answers nullptr and the start ends cleanly with nothing shown.
class Form {
 public:
  virtual ~Form() = default;
  virtual Window* GetWindow() = 0;
  virtual bool Loaded() const = 0;
};

class FormFactory {
 public:
  virtual ~FormFactory() = default;
  virtual std::unique_ptr<Form> CreateScreen(Platform& platform, const std::string& saverName,
                                             StartMode mode) = 0;  // frmScreen
  virtual std::unique_ptr<Form> CreateImageScr(Platform& platform,
                                               const std::string& saverName) = 0;  // frmImageScr
  virtual std::unique_ptr<Form> CreateConfig(Platform& platform,
                                             const std::string& saverName) = 0;  // frmConfig
};

}  // namespace dbx
