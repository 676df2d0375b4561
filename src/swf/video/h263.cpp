// Sorenson H.263 frames: a picture header, then the macroblocks in rows from the top left, with
// no group-of-blocks headers between them. Nothing is trusted: every read past the end of the
// frame's data, unknown code or coefficient past the end of a block fails the frame, which then
// leaves the pictures as they were.
#include "swf/video/h263.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace dbx::swf::video {
namespace {

// The bits of a frame, the high bit of each byte first. Reads past the end give zeros and leave
// the position past the end, which Overrun() tells.
class Bits {
 public:
  Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // The next n bits (1 <= n <= 25) without taking them.
  std::uint32_t Peek(int n) const {
    const std::size_t byte = pos_ >> 3;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | (byte + i < size_ ? data_[byte + i] : 0u);
    return (v << (pos_ & 7)) >> (32 - n);
  }
  void Skip(int n) { pos_ += static_cast<std::size_t>(n); }
  std::uint32_t Read(int n) {
    const std::uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  // A signed number of n bits.
  int ReadSigned(int n) {
    const int v = static_cast<int>(Read(n));
    return v >= (1 << (n - 1)) ? v - (1 << n) : v;
  }
  bool Overrun() const { return pos_ > size_ * 8; }
  std::size_t Left() const { return Overrun() ? 0 : size_ * 8 - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Code {
  std::uint16_t bits;
  std::uint8_t length;
};

// A table of variable-length codes, read by looking the next bits up at once; a code's value is
// its place in the list it was made from.
class Vlc {
 public:
  template <std::size_t N>
  explicit Vlc(const std::array<Code, N>& codes) {
    for (const Code& c : codes) longest_ = std::max(longest_, static_cast<int>(c.length));
    table_.assign(std::size_t{1} << longest_, Entry{});
    for (std::size_t i = 0; i < N; ++i) {
      if (codes[i].length == 0) continue;
      const int spare = longest_ - codes[i].length;
      const std::size_t first = static_cast<std::size_t>(codes[i].bits) << spare;
      for (std::size_t j = 0; j < (std::size_t{1} << spare); ++j)
        table_[first + j] = Entry{static_cast<std::int16_t>(i), codes[i].length};
    }
  }
  // The next code's value, or -1 for bits that start no code.
  int Read(Bits& bits) const {
    const Entry e = table_[bits.Peek(longest_)];
    if (e.length == 0) return -1;
    bits.Skip(e.length);
    return e.value;
  }

 private:
  struct Entry {
    std::int16_t value = 0;
    std::uint8_t length = 0;
  };
  int longest_ = 1;
  std::vector<Entry> table_;
};

// Macroblock type and chroma coded-block pattern of a key frame's macroblocks: values 0-3 are
// intra with chroma pattern 0-3, 4-7 intra with a quantiser change, 8 stuffing.
constexpr std::array<Code, 9> kIntraMcbpc = {
    {{1, 1}, {1, 3}, {2, 3}, {3, 3}, {1, 4}, {1, 6}, {2, 6}, {3, 6}, {1, 9}}};
// The same for predicted frames: type * 4 + chroma pattern, the types being inter, inter with a
// quantiser change, inter with four vectors, intra, intra with a quantiser change, stuffing
// (20 alone) and four vectors with a quantiser change.
constexpr std::array<Code, 28> kInterMcbpc = {{
    {1, 1},  {3, 4},   {2, 4},   {5, 6},    // inter
    {3, 3},  {7, 7},   {6, 7},   {5, 9},    // inter, quantiser change
    {2, 3},  {5, 7},   {4, 7},   {5, 8},    // four vectors
    {3, 5},  {4, 8},   {3, 8},   {3, 7},    // intra
    {4, 6},  {4, 9},   {3, 9},   {2, 9},    // intra, quantiser change
    {1, 9},                                 // stuffing
    {0, 0},  {0, 0},   {0, 0},              // (no codes)
    {2, 11}, {12, 13}, {14, 13}, {15, 13},  // four vectors, quantiser change
}};
constexpr int kInterStuffing = 20, kIntraStuffing = 8;

// Luma coded-block pattern as intra macroblocks give it (inter ones give it inverted), the top
// left block in the high bit.
// clang-format off
constexpr std::array<Code, 16> kCbpy = {{
    {3, 4}, {5, 5}, {4, 5}, {9, 4}, {3, 5}, {7, 4}, {2, 6}, {11, 4},
    {2, 5}, {3, 6}, {5, 4}, {10, 4}, {4, 4}, {8, 4}, {6, 4}, {3, 2}}};
// clang-format on

// Size of a motion vector difference in half samples, a sign bit following all but 0.
constexpr std::array<Code, 33> kMvd = {
    {{1, 1},   {1, 2},  {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},   {3, 7},   {11, 9},
     {10, 9},  {9, 9},  {17, 10}, {16, 10}, {15, 10}, {14, 10}, {13, 10}, {12, 10}, {11, 10},
     {10, 10}, {9, 10}, {8, 10},  {7, 10},  {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},
     {5, 11},  {4, 11}, {3, 11},  {2, 11},  {3, 12},  {2, 12}}};

// Transform coefficients as (last, run, level) events, a sign bit following each, in the order
// MakeEvents() lists them; the last code is the escape to fixed-length fields.
constexpr std::array<Code, 103> kTcoef = {
    {{0x2, 2},   {0xf, 4},   {0x15, 6},  {0x17, 7},  {0x1f, 8},  {0x25, 9},  {0x24, 9},  {0x21, 10},
     {0x20, 10}, {0x7, 11},  {0x6, 11},  {0x20, 11}, {0x6, 3},   {0x14, 6},  {0x1e, 8},  {0xf, 10},
     {0x21, 11}, {0x50, 12}, {0xe, 4},   {0x1d, 8},  {0xe, 10},  {0x51, 12}, {0xd, 5},   {0x23, 9},
     {0xd, 10},  {0xc, 5},   {0x22, 9},  {0x52, 12}, {0xb, 5},   {0xc, 10},  {0x53, 12}, {0x13, 6},
     {0xb, 10},  {0x54, 12}, {0x12, 6},  {0xa, 10},  {0x11, 6},  {0x9, 10},  {0x10, 6},  {0x8, 10},
     {0x16, 7},  {0x55, 12}, {0x15, 7},  {0x14, 7},  {0x1c, 8},  {0x1b, 8},  {0x21, 9},  {0x20, 9},
     {0x1f, 9},  {0x1e, 9},  {0x1d, 9},  {0x1c, 9},  {0x1b, 9},  {0x1a, 9},  {0x22, 11}, {0x23, 11},
     {0x56, 12}, {0x57, 12}, {0x7, 4},   {0x19, 9},  {0x5, 11},  {0xf, 6},   {0x4, 11},  {0xe, 6},
     {0xd, 6},   {0xc, 6},   {0x13, 7},  {0x12, 7},  {0x11, 7},  {0x10, 7},  {0x1a, 8},  {0x19, 8},
     {0x18, 8},  {0x17, 8},  {0x16, 8},  {0x15, 8},  {0x14, 8},  {0x13, 8},  {0x18, 9},  {0x17, 9},
     {0x16, 9},  {0x15, 9},  {0x14, 9},  {0x13, 9},  {0x12, 9},  {0x11, 9},  {0x7, 10},  {0x6, 10},
     {0x5, 10},  {0x4, 10},  {0x24, 11}, {0x25, 11}, {0x26, 11}, {0x27, 11}, {0x58, 12}, {0x59, 12},
     {0x5a, 12}, {0x5b, 12}, {0x5c, 12}, {0x5d, 12}, {0x5e, 12}, {0x5f, 12}, {0x3, 7}}};
constexpr int kEscape = 102;

// The events in kTcoef's order: for each run, not last then last, every level from 1 up to
// the largest that has a code of its own.
constexpr std::array<std::uint8_t, 27> kMaxLevelNotLast = {
    12, 6, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr std::array<std::uint8_t, 41> kMaxLevelLast = {3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
struct Event {
  std::uint8_t last, run, level;
};
std::array<Event, 102> MakeEvents() {
  std::array<Event, 102> events{};
  std::size_t n = 0;
  for (std::size_t run = 0; run < kMaxLevelNotLast.size(); ++run)
    for (int level = 1; level <= kMaxLevelNotLast[run]; ++level)
      events[n++] = Event{0, static_cast<std::uint8_t>(run), static_cast<std::uint8_t>(level)};
  for (std::size_t run = 0; run < kMaxLevelLast.size(); ++run)
    for (int level = 1; level <= kMaxLevelLast[run]; ++level)
      events[n++] = Event{1, static_cast<std::uint8_t>(run), static_cast<std::uint8_t>(level)};
  return events;
}

constexpr std::array<std::uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct Tables {
  Vlc intraMcbpc{kIntraMcbpc}, interMcbpc{kInterMcbpc}, cbpy{kCbpy}, mvd{kMvd}, tcoef{kTcoef};
  std::array<Event, 102> events = MakeEvents();
};
const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

enum class PictureType { kIntra, kInter, kDisposable };

struct Header {
  int version = 0;
  int width = 0, height = 0;
  PictureType type = PictureType::kIntra;
  int quantiser = 1;
};

// The picture header, leaving `bits` at the first macroblock.
bool ReadHeader(Bits& bits, Header& h) {
  if (bits.Read(17) != 1) return false;
  h.version = static_cast<int>(bits.Read(5));
  if (h.version > 1) return false;
  bits.Skip(8);  // temporal reference
  // Sizes of their own in 8 or 16 bits each, or one of five common sizes.
  static constexpr int kSizes[5][2] = {{352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120}};
  const std::uint32_t sizeCode = bits.Read(3);
  if (sizeCode == 7) return false;
  if (sizeCode < 2) {
    h.width = static_cast<int>(bits.Read(sizeCode == 0 ? 8 : 16));
    h.height = static_cast<int>(bits.Read(sizeCode == 0 ? 8 : 16));
  } else {
    h.width = kSizes[sizeCode - 2][0];
    h.height = kSizes[sizeCode - 2][1];
  }
  const std::uint32_t type = bits.Read(2);
  if (type == 3) return false;
  h.type = static_cast<PictureType>(type);
  bits.Skip(1);  // deblocking flag: pictures are shown without the filter
  h.quantiser = static_cast<int>(bits.Read(5));
  while (bits.Read(1) && !bits.Overrun()) bits.Skip(8);  // extra information
  return h.width > 0 && h.height > 0 && h.quantiser > 0 && !bits.Overrun();
}

std::uint8_t Clamp255(int v) {
  return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// One block's coefficients, dequantised, in `coef` (row by row). Intra blocks start with their
// DC value; `coded` says whether the block has further coefficients.
bool ReadBlock(Bits& bits, const Tables& t, int version, int quantiser, bool intra, bool coded,
               int coef[64]) {
  std::fill(coef, coef + 64, 0);
  int i = 0;
  if (intra) {
    const int dc = static_cast<int>(bits.Read(8));
    coef[0] = (dc == 255 ? 128 : dc) * 8;
    i = 1;
  }
  if (!coded) return true;
  const int mul = 2 * quantiser, add = (quantiser - 1) | 1;
  for (;;) {
    const int index = t.tcoef.Read(bits);
    if (index < 0) return false;
    int last, run, level;
    if (index == kEscape) {
      // Version 0 has an 8-bit level; version 1 a 7-bit one or, after a flag, an 11-bit one.
      const bool wide = version == 1 && bits.Read(1);
      last = static_cast<int>(bits.Read(1));
      run = static_cast<int>(bits.Read(6));
      level = bits.ReadSigned(version == 0 ? 8 : wide ? 11 : 7);
      if (version == 0 && level == -128) return false;
    } else {
      const Event& e = t.events[static_cast<std::size_t>(index)];
      last = e.last;
      run = e.run;
      level = bits.Read(1) ? -e.level : e.level;
    }
    i += run;
    if (i > 63) return false;
    if (level != 0)
      coef[kZigzag[static_cast<std::size_t>(i)]] =
          std::clamp(level > 0 ? level * mul + add : level * mul - add, -2048, 2047);
    ++i;
    if (last) break;
    if (i > 63 || bits.Overrun()) return false;
  }
  return !bits.Overrun();
}

// The cosines of the inverse transform: kBasis[x][u] = c(u) / 2 * cos((2x + 1) u pi / 16).
struct Basis {
  float c[8][8];
  Basis() {
    for (int x = 0; x < 8; ++x)
      for (int u = 0; u < 8; ++u)
        c[x][u] = static_cast<float>((u == 0 ? std::sqrt(0.125) : 0.5) *
                                     std::cos((2 * x + 1) * u * 3.14159265358979323846 / 16));
  }
};
const Basis& GetBasis() {
  static const Basis basis;
  return basis;
}

// A plane of the reference picture: samples outside its edgeW x edgeH area (the whole
// macroblocks) repeat its edge.
struct RefPlane {
  const std::uint8_t* data;
  int stride, edgeW, edgeH;
};

// Copies a size x size block (8 or 16) of `ref` from (x, y) moved by the vector (mx, my) in half
// samples into `dst`, averaging neighbours at half positions with H.263 rounding. A block of a
// four-vector macroblock starts at most at (limitW, limitH), the shown size of the plane, and
// takes no half step there; limitW 0 leaves the block where its vector puts it.
void Predict(const RefPlane& ref, int x, int y, int mx, int my, int size, std::uint8_t* dst,
             int dstStride, int limitW = 0, int limitH = 0) {
  int sx = x + (mx >> 1), sy = y + (my >> 1), hx = mx & 1, hy = my & 1;
  if (limitW > 0) {
    sx = std::max(sx, -2 * size);
    sy = std::max(sy, -2 * size);
    if (sx >= limitW) sx = limitW, hx = 0;
    if (sy >= limitH) sy = limitH, hy = 0;
  }
  const std::uint8_t* p;
  int ps;
  std::uint8_t around[17 * 17];
  if (sx >= 0 && sy >= 0 && sx + size + hx <= ref.edgeW && sy + size + hy <= ref.edgeH) {
    p = ref.data + sy * ref.stride + sx;
    ps = ref.stride;
  } else {
    for (int r = 0; r <= size; ++r) {
      const std::uint8_t* row = ref.data + std::clamp(sy + r, 0, ref.edgeH - 1) * ref.stride;
      for (int c = 0; c <= size; ++c)
        around[r * 17 + c] = row[std::clamp(sx + c, 0, ref.edgeW - 1)];
    }
    p = around;
    ps = 17;
  }
  for (int r = 0; r < size; ++r, p += ps, dst += dstStride) {
    if (!hx && !hy) {
      std::copy(p, p + size, dst);
    } else if (hx && !hy) {
      for (int c = 0; c < size; ++c) dst[c] = static_cast<std::uint8_t>((p[c] + p[c + 1] + 1) >> 1);
    } else if (!hx) {
      for (int c = 0; c < size; ++c)
        dst[c] = static_cast<std::uint8_t>((p[c] + p[c + ps] + 1) >> 1);
    } else {
      for (int c = 0; c < size; ++c)
        dst[c] = static_cast<std::uint8_t>((p[c] + p[c + 1] + p[c + ps] + p[c + ps + 1] + 2) >> 2);
    }
  }
}

// Puts an intra block's samples, or adds an inter block's differences to its prediction.
void PutBlock(const int coef[64], bool intra, std::uint8_t* dst, int stride) {
  int samples[64];
  InverseDct8x8(coef, samples);
  for (int r = 0; r < 8; ++r, dst += stride)
    for (int c = 0; c < 8; ++c) dst[c] = Clamp255((intra ? 0 : dst[c]) + samples[r * 8 + c]);
}

int Median(int a, int b, int c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The chroma vector of a macroblock with one luma vector: a quarter of the luma vector, quarter
// sample positions taken to the half position between.
int ChromaVector(int v) {
  return ((v >> 2) << 1) | ((v & 3) != 0 ? 1 : 0);
}

// The chroma vector of a macroblock with four: the sum of the four divided by eight, sixteenths
// taken to the nearest half sample as H.263 rounds them.
int ChromaVectorOfFour(int sum) {
  static constexpr std::array<int, 16> kRound = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
  return kRound[static_cast<std::size_t>(sum & 15)] + ((sum >> 3) & ~1);
}

void Allocate(YuvPlanes& p, int width, int height) {
  const int mbw = (width + 15) / 16, mbh = (height + 15) / 16;
  p.width = width;
  p.height = height;
  p.lumaStride = mbw * 16;
  p.chromaStride = mbw * 8;
  p.y.resize(static_cast<std::size_t>(mbw) * mbh * 256);
  p.u.resize(static_cast<std::size_t>(mbw) * mbh * 64);
  p.v.resize(p.u.size());
}

}  // namespace

void InverseDct8x8(const int coefficients[64], int out[64]) {
  const auto& k = GetBasis().c;
  float rows[64];
  for (int v = 0; v < 8; ++v) {
    const int* in = coefficients + v * 8;
    float* row = rows + v * 8;
    if (!(in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7])) {
      const float dc = static_cast<float>(in[0]) * k[0][0];
      std::fill(row, row + 8, dc);
      continue;
    }
    for (int x = 0; x < 8; ++x) {
      float s = 0;
      for (int u = 0; u < 8; ++u) s += k[x][u] * static_cast<float>(in[u]);
      row[x] = s;
    }
  }
  for (int x = 0; x < 8; ++x) {
    for (int y = 0; y < 8; ++y) {
      float s = 0;
      for (int v = 0; v < 8; ++v) s += k[y][v] * rows[v * 8 + x];
      out[y * 8 + x] = std::clamp(static_cast<int>(std::floor(s + 0.5f)), -256, 255);
    }
  }
}

std::uint32_t YuvToArgb(int y, int u, int v) {
  const int c = 298 * (y - 16) + 128, d = u - 128, e = v - 128;
  const std::uint32_t r = Clamp255((c + 409 * e) >> 8);
  const std::uint32_t g = Clamp255((c - 100 * d - 208 * e) >> 8);
  const std::uint32_t b = Clamp255((c + 516 * d) >> 8);
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

bool H263Decoder::IsKeyFrame(const std::uint8_t* data, std::size_t size) const {
  Bits bits(data, size);
  Header h;
  return ReadHeader(bits, h) && h.type == PictureType::kIntra;
}

bool H263Decoder::Decode(const std::uint8_t* data, std::size_t size, Bitmap& out) {
  const Tables& t = GetTables();
  Bits bits(data, size);
  Header h;
  if (!ReadHeader(bits, h)) return false;
  const bool intraPicture = h.type == PictureType::kIntra;
  if (!intraPicture && (!haveRef_ || ref_.width != h.width || ref_.height != h.height))
    return false;
  const int mbw = (h.width + 15) / 16, mbh = (h.height + 15) / 16;
  // Every macroblock takes a bit at least, an intra one its six DC values: too little data for
  // the picture fails before the planes are made.
  const std::size_t macroblocks = static_cast<std::size_t>(mbw) * static_cast<std::size_t>(mbh);
  if (macroblocks > bits.Left() / (intraPicture ? 51 : 1)) return false;
  Allocate(cur_, h.width, h.height);
  const int ls = cur_.lumaStride, cs = cur_.chromaStride;
  const int bw = 2 * mbw;  // 8x8 blocks in a row of the vector table
  vectors_.assign(static_cast<std::size_t>(bw) * 2 * mbh * 2, 0);
  const auto vectorAt = [&](int bx, int by, int axis) -> int {
    if (bx < 0 || bx >= bw || by < 0) return 0;
    return vectors_[(static_cast<std::size_t>(by) * bw + bx) * 2 + axis];
  };
  // Sets the vector of block k (0-3) of the macroblock at (mbx, mby).
  const auto setVector = [&](int mbx, int mby, int k, int x, int y) {
    const std::size_t at =
        (static_cast<std::size_t>(2 * mby + (k >> 1)) * bw + 2 * mbx + (k & 1)) * 2;
    vectors_[at] = static_cast<std::int8_t>(x);
    vectors_[at + 1] = static_cast<std::int8_t>(y);
  };
  // Vectors reach samples outside the picture, which repeat the edge of the coded planes.
  const RefPlane yRef{ref_.y.data(), ls, ls, mbh * 16};
  const RefPlane cRef[2] = {{ref_.u.data(), cs, cs, mbh * 8}, {ref_.v.data(), cs, cs, mbh * 8}};

  int quantiser = h.quantiser;
  int coef[64];
  for (int mby = 0; mby < mbh; ++mby) {
    for (int mbx = 0; mbx < mbw; ++mbx) {
      std::uint8_t* yDst = cur_.y.data() + static_cast<std::size_t>(mby) * 16 * ls + mbx * 16;
      const std::size_t chromaAt = static_cast<std::size_t>(mby) * 8 * cs + mbx * 8;
      std::uint8_t* cDst[2] = {cur_.u.data() + chromaAt, cur_.v.data() + chromaAt};
      // As kInterMcbpc orders them: 0 inter, 1 inter with a quantiser change, 2 four vectors,
      // 3 intra, 4 intra with a quantiser change, 6 four vectors with a quantiser change.
      int type, mcbpc = 0;
      bool skipped = false;
      if (intraPicture) {
        do mcbpc = t.intraMcbpc.Read(bits);
        while (mcbpc == kIntraStuffing && !bits.Overrun());
        if (mcbpc < 0) return false;
        type = mcbpc < 4 ? 3 : 4;
      } else {
        for (;;) {
          if (bits.Read(1)) {
            skipped = true;
            break;
          }
          mcbpc = t.interMcbpc.Read(bits);
          if (mcbpc != kInterStuffing || bits.Overrun()) break;
        }
        if (!skipped && mcbpc < 0) return false;
        type = skipped ? 0 : mcbpc / 4;
      }
      if (bits.Overrun()) return false;
      const bool intra = type == 3 || type == 4;
      int mv[4][2] = {};
      if (skipped) {
        Predict(yRef, mbx * 16, mby * 16, 0, 0, 16, yDst, ls);
        for (int c = 0; c < 2; ++c) Predict(cRef[c], mbx * 8, mby * 8, 0, 0, 8, cDst[c], cs);
        for (int k = 0; k < 4; ++k) setVector(mbx, mby, k, 0, 0);
        continue;
      }
      const int cbpy = t.cbpy.Read(bits);
      if (cbpy < 0) return false;
      // Bits 5 to 2 tell the four luma blocks, 1 and 0 the two chroma blocks.
      const int cbp = ((intra ? cbpy : cbpy ^ 15) << 2) | (mcbpc & 3);
      if (type == 1 || type == 4 || type == 6) {
        static constexpr int kStep[4] = {-1, -2, 1, 2};
        quantiser = std::clamp(quantiser + kStep[bits.Read(2)], 1, 31);
      }
      if (!intra) {
        // Each vector is its difference from the median of the vectors left, above and above
        // right of its block (only the one to the left in the top row), kept to -16..15.5.
        const int count = type == 2 || type == 6 ? 4 : 1;
        for (int b = 0; b < count; ++b) {
          const int bx = 2 * mbx + (b & 1), by = 2 * mby + (b >> 1);
          static constexpr int kRightOffset[4] = {2, 1, 1, -1};
          for (int a = 0; a < 2; ++a) {
            int pred;
            if (mby == 0 && b < 2) {
              pred = vectorAt(bx - 1, by, a);
            } else {
              pred = Median(vectorAt(bx - 1, by, a), vectorAt(bx, by - 1, a),
                            vectorAt(bx + kRightOffset[b], by - 1, a));
            }
            const int length = t.mvd.Read(bits);
            if (length < 0) return false;
            const int diff = length != 0 && bits.Read(1) ? -length : length;
            mv[b][a] = ((pred + diff + 32) & 63) - 32;
          }
          for (int k = b; k < (count == 1 ? 4 : b + 1); ++k)
            setVector(mbx, mby, k, mv[b][0], mv[b][1]);
        }
        if (count == 1) {
          Predict(yRef, mbx * 16, mby * 16, mv[0][0], mv[0][1], 16, yDst, ls);
        } else {
          for (int b = 0; b < 4; ++b)
            Predict(yRef, mbx * 16 + (b & 1) * 8, mby * 16 + (b >> 1) * 8, mv[b][0], mv[b][1], 8,
                    yDst + (b >> 1) * 8 * ls + (b & 1) * 8, ls, h.width, h.height);
        }
        const int cmx = count == 1 ? ChromaVector(mv[0][0])
                                   : ChromaVectorOfFour(mv[0][0] + mv[1][0] + mv[2][0] + mv[3][0]);
        const int cmy = count == 1 ? ChromaVector(mv[0][1])
                                   : ChromaVectorOfFour(mv[0][1] + mv[1][1] + mv[2][1] + mv[3][1]);
        for (int c = 0; c < 2; ++c)
          Predict(cRef[c], mbx * 8, mby * 8, cmx, cmy, 8, cDst[c], cs, count == 4 ? h.width / 2 : 0,
                  h.height / 2);
      } else {
        for (int k = 0; k < 4; ++k) setVector(mbx, mby, k, 0, 0);  // intra: no vector
      }
      for (int b = 0; b < 6; ++b) {
        const bool coded = (cbp >> (5 - b)) & 1;
        if (!intra && !coded) continue;
        if (!ReadBlock(bits, t, h.version, quantiser, intra, coded, coef)) return false;
        if (b < 4)
          PutBlock(coef, intra, yDst + (b >> 1) * 8 * ls + (b & 1) * 8, ls);
        else
          PutBlock(coef, intra, cDst[b - 4], cs);
      }
      if (bits.Overrun()) return false;
    }
  }

  if (h.type == PictureType::kDisposable) {
    std::swap(cur_, disposable_);
    shownDisposable_ = true;
  } else {
    std::swap(cur_, ref_);
    haveRef_ = true;
    shownDisposable_ = false;
  }
  const YuvPlanes& p = Picture();
  out.width = p.width;
  out.height = p.height;
  out.opaque = true;
  out.pixels.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
  std::uint32_t* px = out.pixels.data();
  for (int y = 0; y < p.height; ++y) {
    const std::uint8_t* yRow = p.y.data() + static_cast<std::size_t>(y) * p.lumaStride;
    const std::size_t c = static_cast<std::size_t>(y / 2) * p.chromaStride;
    for (int x = 0; x < p.width; ++x) *px++ = YuvToArgb(yRow[x], p.u[c + x / 2], p.v[c + x / 2]);
  }
  return true;
}

}  // namespace dbx::swf::video
