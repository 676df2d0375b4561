// Helpers of the movie player tests: PNG reading and writing, a JPEG loader on libjpeg, a small
// SWF writer for exact fixtures, and the location of the sample movies.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/platform.h"
#include "core/surface.h"

namespace dbx::swftest {

// The sample folder tests/data/swf (nothing only in a checkout that lacks it).
std::optional<std::filesystem::path> SamplesDir();
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// 8-bit RGB or RGBA PNG into a surface (alpha dropped); nothing when unreadable.
std::optional<Surface> ReadPng(const std::filesystem::path& path);
bool WritePng(const std::filesystem::path& path, const Surface& s);
// Where tests write their pictures for a person to look at (DBX_SWF_DUMP_DIR), if set.
std::optional<std::filesystem::path> DumpDir();

// A folder of a test's own under the system's temporary one (`name` and the object's address
// tell tests apart), made with `subfolders` in it and removed with all it holds at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name, const std::filesystem::path& subfolders = {});
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& root() const { return root_; }
  // The folder `rel` (the root itself when empty) as a path that ends with "/".
  std::string Dir(const std::filesystem::path& rel = {}) const;
  void Write(const std::filesystem::path& rel, const std::vector<std::uint8_t>& bytes) const;
  void WriteText(const std::filesystem::path& rel, const std::string& text) const;

 private:
  std::filesystem::path root_;
};

class JpegLoader final : public ImageLoader {
 public:
  std::optional<Surface> Load(const std::string& path) override;
  std::optional<Surface> Decode(const std::uint8_t* data, std::size_t size) override;
  int decodes = 0;
};

// Writes SWF structures bit by bit.
class BitWriter {
 public:
  void UB(std::uint32_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) Bit((v >> i) & 1);
  }
  void SB(std::int32_t v, unsigned n) { UB(static_cast<std::uint32_t>(v) & Mask(n), n); }
  void Align() {
    if (bits_) {
      bytes_.push_back(cur_);
      cur_ = 0;
      bits_ = 0;
    }
  }
  void U8(std::uint8_t v) {
    Align();
    bytes_.push_back(v);
  }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Bytes(const std::vector<std::uint8_t>& b) {
    Align();
    for (std::uint8_t v : b) bytes_.push_back(v);
  }
  // Bits needed to hold v as a signed field.
  static unsigned SBits(std::int32_t v) {
    unsigned n = 1;
    while (n < 32 && (v < -(1 << (n - 1)) || v >= (1 << (n - 1)))) ++n;
    return n;
  }
  void Rect(std::int32_t xmin, std::int32_t xmax, std::int32_t ymin, std::int32_t ymax);
  void Matrix(double sx, double sy, double r0, double r1, std::int32_t tx, std::int32_t ty);
  std::vector<std::uint8_t> Take() {
    Align();
    return std::move(bytes_);
  }

 private:
  static std::uint32_t Mask(unsigned n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1; }
  void Bit(unsigned b) {
    cur_ = static_cast<std::uint8_t>(cur_ | (b << (7 - bits_)));
    if (++bits_ == 8) Align();
  }
  std::vector<std::uint8_t> bytes_;
  std::uint8_t cur_ = 0;
  unsigned bits_ = 0;
};

// A polygon or curve path for DefineShape records (twips, absolute points).
struct PathOp {
  enum Kind { kMove, kLine, kCurve } kind;
  std::int32_t x, y, cx = 0, cy = 0;
};

// Builds a whole movie tag by tag.
class SwfWriter {
 public:
  SwfWriter(int widthPx, int heightPx, double fps = 24)
      : w_(widthPx), h_(heightPx), fps_(fps), frame_{0, widthPx * 20, 0, heightPx * 20} {}
  // The stage rectangle in the header, in twips (by default 0 to the size in pixels).
  void Frame(int xmin, int xmax, int ymin, int ymax) { frame_ = {xmin, xmax, ymin, ymax}; }
  void Tag(std::uint16_t code, const std::vector<std::uint8_t>& body, bool longForm = false);
  void Background(std::uint8_t r, std::uint8_t g, std::uint8_t b);
  // DefineShape3 (or 4 with `nonZero`) with one solid RGBA fill on fill1 of every edge, paths given
  // as lists of operations.
  void SolidShape(std::uint16_t id, std::uint32_t rgba, const std::vector<PathOp>& ops,
                  bool nonZero = false, int version = 3);
  // DefineShape3 with no fill and one line style (width in twips, RGBA colour, round caps).
  void StrokedPath(std::uint16_t id, std::uint16_t width, std::uint32_t rgba,
                   const std::vector<PathOp>& ops);
  void Place(std::uint16_t id, std::uint16_t depth, std::int32_t tx = 0, std::int32_t ty = 0,
             std::uint16_t clipDepth = 0);
  void Remove(std::uint16_t depth);
  // PlaceObject2 with the parts the timeline tests use.
  struct Place2Args {
    std::uint16_t depth = 1;
    std::optional<std::uint16_t> character;
    bool move = false;
    std::optional<std::pair<std::int32_t, std::int32_t>> translate;
    std::optional<std::uint16_t> ratio;
    std::string name;
    std::vector<std::uint8_t> clipActions;  // the whole clip-action list, written as given
  };
  void Place2(const Place2Args& a);
  // DefineSprite `id` from the tags of `inner` (an End is added unless `withEnd` is false),
  // `frames` in its header.
  void Sprite(std::uint16_t id, const SwfWriter& inner, std::uint16_t frames, bool withEnd = true);
  void Label(const std::string& name);
  void DoAction(const std::vector<std::uint8_t>& code) { Tag(12, code); }
  void Export(std::uint16_t id, const std::string& name);
  void SetVersion(std::uint8_t version) { version_ = version; }
  void ShowFrame() { Tag(1, {}); }
  void End() { Tag(0, {}); }
  // The file; compression 'F', 'C' (zlib). `lengthOverride` writes a wrong FileLength.
  std::vector<std::uint8_t> Finish(char compression = 'F', std::uint16_t headerFrames = 1,
                                   std::optional<std::uint32_t> lengthOverride = {}) const;
  std::vector<std::uint8_t>& body() { return body_; }

 private:
  int w_, h_;
  double fps_;
  std::array<int, 4> frame_;
  std::uint8_t version_ = 10;
  std::vector<std::uint8_t> body_;
};

// A PNG file: `samples` holds each pixel's samples (channels of the colour type) at `depth` bits,
// row by row; rows are filtered in turn with filters 0 to 4 and packed by zlib.
struct PngSpec {
  int width = 1, height = 1, colorType = 6, depth = 8;
  bool interlaced = false;
  std::vector<std::uint32_t> samples;
  std::vector<std::uint8_t> palette, transparency;  // PLTE and tRNS, written when not empty
};
std::vector<std::uint8_t> EncodePng(const PngSpec& spec);

// A GIF89a file with one image of colour indexes, LZW-packed. When the code table fills up the
// encoder starts again with a clear code, or with `keepFullTable` goes on with the full table.
struct GifSpec {
  int screenWidth = 1, screenHeight = 1;
  int left = 0, top = 0, width = 1, height = 1;
  int minCodeSize = 2;
  std::vector<std::uint8_t> palette;  // RGB triples, a power of two of them
  bool localPalette = false, interlaced = false, keepFullTable = false;
  int transparent = -1;
  std::vector<std::uint8_t> indexes;  // in display order, row by row
};
std::vector<std::uint8_t> EncodeGif(const GifSpec& spec);

std::vector<PathOp> Rectangle(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

}  // namespace dbx::swftest
