// The input hook on the movie player's own child window: the four inputs that can end the
// screensaver go to frmScreen::FlashButton and never reach the player; everything else does.
#pragma once

#include <cstdint>
#include <string>

#include "core/platform.h"

namespace dbx {

class frmScreen;

namespace FlashModel {

// Program-wide: the player's child window found by FindFlashChild (0 when none), the procedure
// that HookFlashWindow replaced, and the screen that receives the input.
struct HookState {
  NativeHandle flashChild = 0;
  WindowProc previousProc;
  frmScreen* screen = nullptr;
};
HookState& State();

// The enumeration step over a window's descendants: records the first window whose class name
// begins with "ATL:" (compared exactly) and returns false to stop; true to go on.
bool FindFlashChild(Platform& platform, NativeHandle window, std::intptr_t extra);

// Replaces the recorded window's procedure with FlashWndProc; returns the previous procedure.
WindowProc HookFlashWindow(Platform& platform);

// The replacement procedure.
std::intptr_t FlashWndProc(NativeHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam);

}  // namespace FlashModel
}  // namespace dbx
