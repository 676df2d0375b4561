#include "settings/input_rules.h"

#include <cstdlib>

namespace dbx {

bool InputEndsShow(const Settings& settings, int input, Cursor& pointer, Point start, int threshold,
                   Point& current) {
  // All four rules are read on every call, whichever input it is.
  const std::string left = settings.Get("LeftMouse"), right = settings.Get("RightMouse");
  const std::string move = settings.Get("MoveMouse"), key = settings.Get("KeyDown");
  switch (input) {
    case kWakeLeftButton:
      return left != "False";
    case kWakeRightButton:
      return right != "False";
    case kWakeKey:
      return key != "False";
    case kWakeMove:
      if (move == "True") return false;
      current = pointer.Position();
      return std::abs(current.x - start.x) > threshold || std::abs(current.y - start.y) > threshold;
    default:
      return false;
  }
}

}  // namespace dbx
