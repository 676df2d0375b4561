// The default window procedure of our own windows: hands each input message to the form's
// WindowEvents. Platforms route every input message of their windows through the window's
// procedure, so that a replaced procedure sees the input first.
#pragma once

#include "core/platform.h"

namespace dbx {

inline int ShiftBitsOfMouseKeys(std::uintptr_t wParam) {
  int s = 0;
  if (wParam & kMkShift) s |= kShiftMask;
  if (wParam & kMkControl) s |= kCtrlMask;
  return s;
}

inline int ButtonBitsOfMouseKeys(std::uintptr_t wParam) {
  int b = 0;
  if (wParam & kMkLButton) b |= static_cast<int>(MouseButton::kLeft);
  if (wParam & kMkRButton) b |= static_cast<int>(MouseButton::kRight);
  if (wParam & kMkMButton) b |= static_cast<int>(MouseButton::kMiddle);
  return b;
}

// Delivers one input message to `events`; 0 as the message result.
inline std::intptr_t DeliverToEvents(WindowEvents& events, std::uint32_t message,
                                     std::uintptr_t wParam, std::intptr_t lParam, int shift = 0) {
  const Point at = MouseLParamPoint(lParam);
  const int mouseShift = ShiftBitsOfMouseKeys(wParam);
  switch (message) {
    case kWmKeyDown:
      events.OnKeyDown(static_cast<int>(wParam), shift);
      break;
    case kWmChar:
      events.OnKeyPress(static_cast<int>(wParam));
      break;
    case kWmMouseMove:
      events.OnMouseMove(ButtonBitsOfMouseKeys(wParam), mouseShift, at);
      break;
    case kWmLButtonDown:
      events.OnMouseDown(MouseButton::kLeft, mouseShift, at);
      break;
    case kWmLButtonUp:
      events.OnMouseUp(MouseButton::kLeft, mouseShift, at);
      break;
    case kWmRButtonDown:
      events.OnMouseDown(MouseButton::kRight, mouseShift, at);
      break;
    case kWmRButtonUp:
      events.OnMouseUp(MouseButton::kRight, mouseShift, at);
      break;
    case kWmMButtonDown:
      events.OnMouseDown(MouseButton::kMiddle, mouseShift, at);
      break;
    case kWmMButtonUp:
      events.OnMouseUp(MouseButton::kMiddle, mouseShift, at);
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace dbx
