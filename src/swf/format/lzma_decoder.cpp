#include "swf/format/lzma_decoder.h"

#include <array>

namespace dbx::swf {

namespace {

using Prob = std::uint16_t;
constexpr Prob kProbInit = 1024;  // half of the 11-bit probability range

class RangeDecoder {
 public:
  RangeDecoder(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
    if (Byte() != 0) failed_ = true;  // the first byte of a stream is always zero
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | Byte();
    if (code_ == range_) failed_ = true;
  }
  // True once the input ran out or the stream proved corrupt.
  bool failed() const { return failed_; }

  unsigned Bit(Prob& p) {
    const std::uint32_t bound = (range_ >> 11) * p;
    unsigned bit;
    if (code_ < bound) {
      p = static_cast<Prob>(p + ((2048 - p) >> 5));
      range_ = bound;
      bit = 0;
    } else {
      p = static_cast<Prob>(p - (p >> 5));
      code_ -= bound;
      range_ -= bound;
      bit = 1;
    }
    Normalize();
    return bit;
  }

  std::uint32_t Direct(unsigned bits) {
    std::uint32_t res = 0;
    while (bits--) {
      range_ >>= 1;
      code_ -= range_;
      const std::uint32_t t = 0u - (code_ >> 31);
      code_ += range_ & t;
      if (code_ == range_) failed_ = true;
      Normalize();
      res = (res << 1) + (t + 1);
    }
    return res;
  }

  std::uint32_t Tree(Prob* probs, unsigned bits) {
    std::uint32_t m = 1;
    for (unsigned i = 0; i < bits; ++i) m = (m << 1) + Bit(probs[m]);
    return m - (1u << bits);
  }

  std::uint32_t ReverseTree(Prob* probs, unsigned bits) {
    std::uint32_t m = 1, sym = 0;
    for (unsigned i = 0; i < bits; ++i) {
      const unsigned bit = Bit(probs[m]);
      m = (m << 1) + bit;
      sym |= bit << i;
    }
    return sym;
  }

 private:
  std::uint8_t Byte() {
    if (pos_ >= size_) {
      failed_ = true;
      return 0;
    }
    return data_[pos_++];
  }
  void Normalize() {
    if (range_ < (1u << 24)) {
      range_ <<= 8;
      code_ = (code_ << 8) | Byte();
    }
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
  std::uint32_t code_ = 0;
  bool failed_ = false;
};

struct LengthDecoder {
  Prob choice = kProbInit, choice2 = kProbInit;
  std::array<std::array<Prob, 8>, 16> low, mid;
  std::array<Prob, 256> high;
  LengthDecoder() {
    for (auto& a : low) a.fill(kProbInit);
    for (auto& a : mid) a.fill(kProbInit);
    high.fill(kProbInit);
  }
  std::uint32_t Decode(RangeDecoder& rc, unsigned posState) {
    if (!rc.Bit(choice)) return rc.Tree(low[posState].data(), 3);
    if (!rc.Bit(choice2)) return 8 + rc.Tree(mid[posState].data(), 3);
    return 16 + rc.Tree(high.data(), 8);
  }
};

}  // namespace

bool DecodeLzma(const std::uint8_t* props, const std::uint8_t* data, std::size_t size,
                std::vector<std::uint8_t>& out, std::size_t maxOut) {
  unsigned d = props[0];
  if (d >= 9 * 5 * 5) return false;
  const unsigned lc = d % 9;
  d /= 9;
  const unsigned lp = d % 5;
  const unsigned pb = d / 5;
  const std::size_t start = out.size();
  RangeDecoder rc(data, size);
  if (rc.failed()) return false;

  std::vector<Prob> literals(0x300u << (lc + lp), kProbInit);
  std::array<Prob, 12 << 4> isMatch, isRep0Long;
  std::array<Prob, 12> isRep, isRepG0, isRepG1, isRepG2;
  std::array<std::array<Prob, 64>, 4> posSlot;
  std::array<Prob, 115> posProbs;  // distances 4..127
  std::array<Prob, 16> align;
  for (auto* a : {&isMatch, &isRep0Long}) a->fill(kProbInit);
  for (auto* a : {&isRep, &isRepG0, &isRepG1, &isRepG2}) a->fill(kProbInit);
  for (auto& a : posSlot) a.fill(kProbInit);
  posProbs.fill(kProbInit);
  align.fill(kProbInit);
  LengthDecoder lenDecoder, repLenDecoder;

  std::uint32_t rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;
  unsigned state = 0;
  const std::size_t pbMask = (std::size_t{1} << pb) - 1, lpMask = (std::size_t{1} << lp) - 1;
  auto produced = [&] { return out.size() - start; };

  while (produced() < maxOut && !rc.failed()) {
    const std::size_t total = produced();
    const unsigned posState = static_cast<unsigned>(total & pbMask);
    if (!rc.Bit(isMatch[(state << 4) + posState])) {
      const unsigned prev = total ? out.back() : 0;
      Prob* probs = literals.data() + 0x300u * (((total & lpMask) << lc) + (prev >> (8 - lc)));
      unsigned symbol = 1;
      if (state >= 7 && rep0 < total) {
        unsigned matchByte = out[out.size() - rep0 - 1];
        do {
          const unsigned matchBit = (matchByte >> 7) & 1;
          matchByte <<= 1;
          const unsigned bit = rc.Bit(probs[((1 + matchBit) << 8) + symbol]);
          symbol = (symbol << 1) | bit;
          if (matchBit != bit) break;
        } while (symbol < 0x100);
      }
      while (symbol < 0x100) symbol = (symbol << 1) | rc.Bit(probs[symbol]);
      if (rc.failed()) break;
      out.push_back(static_cast<std::uint8_t>(symbol - 0x100));
      state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
      continue;
    }
    std::uint32_t len;
    if (rc.Bit(isRep[state])) {
      if (total == 0) break;
      if (!rc.Bit(isRepG0[state])) {
        if (!rc.Bit(isRep0Long[(state << 4) + posState])) {
          // A single byte from the last distance.
          if (rc.failed() || rep0 >= total) break;
          state = state < 7 ? 9 : 11;
          out.push_back(out[out.size() - rep0 - 1]);
          continue;
        }
      } else {
        std::uint32_t dist;
        if (!rc.Bit(isRepG1[state])) {
          dist = rep1;
        } else {
          if (!rc.Bit(isRepG2[state])) {
            dist = rep2;
          } else {
            dist = rep3;
            rep3 = rep2;
          }
          rep2 = rep1;
        }
        rep1 = rep0;
        rep0 = dist;
      }
      len = repLenDecoder.Decode(rc, posState);
      state = state < 7 ? 8 : 11;
    } else {
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      len = lenDecoder.Decode(rc, posState);
      state = state < 7 ? 7 : 10;
      // The distance.
      const unsigned slot = rc.Tree(posSlot[len < 3 ? len : 3].data(), 6);
      if (slot < 4) {
        rep0 = slot;
      } else {
        const unsigned direct = (slot >> 1) - 1;
        std::uint32_t dist = (2u | (slot & 1u)) << direct;
        if (slot < 14) {
          dist += rc.ReverseTree(posProbs.data() + dist - slot, direct);
        } else {
          dist += rc.Direct(direct - 4) << 4;
          dist += rc.ReverseTree(align.data(), 4);
        }
        rep0 = dist;
      }
      if (rep0 == 0xFFFFFFFFu) break;  // end marker
    }
    if (rc.failed() || rep0 >= total) break;
    len += 2;
    for (std::uint32_t i = 0; i < len && produced() < maxOut; ++i)
      out.push_back(out[out.size() - rep0 - 1]);
  }
  return produced() > 0;
}

}  // namespace dbx::swf
