// Bounds-checked readers over untrusted movie bytes. Reading past the end never touches memory
// outside the buffer: it yields zeros and sets the `failed` flag, so a parser can read a whole
// record and check once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dbx::swf {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool failed() const { return failed_; }
  std::size_t pos() const { return pos_; }
  std::size_t size() const { return size_; }
  std::size_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
  const std::uint8_t* data() const { return data_; }
  const std::uint8_t* cursor() const { return data_ + (pos_ < size_ ? pos_ : size_); }

  void Align() { bit_ = 0; }

  std::uint8_t U8() {
    Align();
    if (pos_ >= size_) {
      failed_ = true;
      return 0;
    }
    return data_[pos_++];
  }
  std::uint16_t U16() {
    const std::uint16_t lo = U8();
    return static_cast<std::uint16_t>(lo | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t lo = U16();
    return lo | (static_cast<std::uint32_t>(U16()) << 16);
  }
  std::int16_t S16() { return static_cast<std::int16_t>(U16()); }
  float Float32() {
    const std::uint32_t bits = U32();
    float f;
    static_assert(sizeof f == sizeof bits);
    __builtin_memcpy(&f, &bits, sizeof f);
    return f;
  }

  void Skip(std::size_t n) {
    Align();
    if (n > remaining()) {
      failed_ = true;
      pos_ = size_;
    } else {
      pos_ += n;
    }
  }

  // A zero-terminated string; the terminator is consumed.
  std::string String() {
    Align();
    std::string s;
    while (pos_ < size_ && data_[pos_] != 0) s.push_back(static_cast<char>(data_[pos_++]));
    if (pos_ >= size_)
      failed_ = true;
    else
      ++pos_;
    return s;
  }

  // Unsigned bit field, most significant bit first, up to 32 bits.
  std::uint32_t UB(unsigned n) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
      if (bit_ == 0) {
        if (pos_ >= size_) {
          failed_ = true;
          return 0;
        }
        cur_ = data_[pos_++];
        bit_ = 8;
      }
      --bit_;
      v = (v << 1) | ((cur_ >> bit_) & 1u);
    }
    return v;
  }
  // Signed bit field (two's complement of width n).
  std::int32_t SB(unsigned n) {
    if (n == 0) return 0;
    if (n > 32) n = 32;
    const std::uint32_t v = UB(n);
    if (n < 32 && (v & (1u << (n - 1)))) return static_cast<std::int32_t>(v | ~((1u << n) - 1));
    return static_cast<std::int32_t>(v);
  }
  // 16.16 fixed point bit field.
  double FB(unsigned n) { return SB(n) / 65536.0; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
  std::uint8_t cur_ = 0;
  unsigned bit_ = 0;
  bool failed_ = false;
};

}  // namespace dbx::swf
