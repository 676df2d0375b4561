// The input rules of the screens: which input ends the screensaver, read afresh from the settings
// on every event (the settings may change while a screen runs).
#pragma once

#include "core/platform.h"
#include "settings/mod_reg.h"

namespace dbx {

// The inputs a screen reports to its wake-up handler.
enum class WakeInput { kLeftButton, kRightButton, kKey, kMove };

// True when `input` ends the screensaver: a button or key unless its setting ("LeftMouse",
// "RightMouse", "KeyDown") is exactly "False"; a pointer move unless "MoveMouse" is exactly "True"
// and only once the pointer lies more than `threshold` pixels from `start` on either axis, in any
// direction. The pointer position read for a move is stored in `current`.
bool InputEndsShow(const Settings& settings, WakeInput input, Cursor& pointer, Point start,
                   int threshold, Point& current);

}  // namespace dbx
