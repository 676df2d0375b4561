#include "flash_screen/flash_model.h"

#include "flash_screen/frm_screen.h"

namespace dbx::FlashModel {

HookState& State() {
  static HookState state;
  return state;
}

bool FindFlashChild(Platform& platform, NativeHandle window, std::intptr_t /*extra*/) {
  std::string name = platform.WindowClassName(window);
  if (name.size() > 254) name.resize(254);  // the class name buffer
  if (const auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
  if (name.compare(0, 4, "ATL:") == 0) {
    State().flashChild = window;
    return false;
  }
  return true;
}

WindowProc HookFlashWindow(Platform& platform) {
  return platform.SubclassWindow(State().flashChild, &FlashWndProc);
}

std::intptr_t FlashWndProc(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  frmScreen* screen = State().screen;
  switch (message) {
    case kWmRButtonDown:
      if (screen) screen->FlashButton(WakeInput::kRightButton);
      return 0;
    case kWmMouseMove:
      if (screen) screen->FlashButton(WakeInput::kMove);
      return 0;
    case kWmLButtonUp:
      if (screen) screen->FlashButton(WakeInput::kLeftButton);
      return 0;
    case kWmKeyDown:
      if (screen) screen->FlashButton(WakeInput::kKey);
      return 0;
    default: {
      // A copy: the window may go away while its procedure runs.
      WindowProc previous = State().previousProc;
      return previous ? previous(window, message, wParam, lParam) : 0;
    }
  }
}

}  // namespace dbx::FlashModel
