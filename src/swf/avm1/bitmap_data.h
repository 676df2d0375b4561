// flash.display.BitmapData: a picture of premultiplied ARGB pixels that scripts make and change,
// and that clips show through attachBitmap.
#pragma once

#include <cstdint>
#include <memory>

#include "swf/avm1/object.h"
#include "swf/format/movie.h"

namespace dbx::swf::avm1 {

class Vm;

class BitmapDataObject : public Object {
 public:
  BitmapDataObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kOther) {}
  // Null once disposed.
  std::shared_ptr<Bitmap> bitmap;
  bool transparent = true;
  bool Usable() const { return bitmap != nullptr; }
};

// The BitmapData an object is, if it is one.
BitmapDataObject* AsBitmapData(const Value& v);

// Converts between the stored premultiplied form and the straight ARGB that scripts see, rounding
// as the player does (a colour read back can differ from the one written in the lowest bits).
std::uint32_t PremultiplyArgb(std::uint32_t argb);
std::uint32_t UnmultiplyArgb(std::uint32_t premultiplied);

// Installs flash.display.BitmapData, and flash.geom.Rectangle and ColorTransform when nothing else
// has.
void InstallBitmapData(Vm& vm);

}  // namespace dbx::swf::avm1
