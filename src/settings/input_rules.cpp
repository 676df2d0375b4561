#include "settings/input_rules.h"

#include <cstdlib>

namespace dbx {

bool InputEndsShow(const Settings& settings, WakeInput input, Cursor& pointer, Point start,
                   int threshold, Point& current) {
  // All four rules are read on every call, whichever input it is.
  const std::string left = settings.Get("LeftMouse"), right = settings.Get("RightMouse");
  const std::string move = settings.Get("MoveMouse"), key = settings.Get("KeyDown");
  switch (input) {
    case WakeInput::kLeftButton:
      return left != "False";
    case WakeInput::kRightButton:
      return right != "False";
    case WakeInput::kKey:
      return key != "False";
    case WakeInput::kMove:
      if (move == "True") return false;
      current = pointer.Position();
      return std::abs(current.x - start.x) > threshold || std::abs(current.y - start.y) > threshold;
  }
  return false;
}

}  // namespace dbx
