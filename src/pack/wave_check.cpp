#include "pack/wave_check.h"

#include <cstring>

namespace dbx {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kExtensible = 0xFFFE;

}  // namespace

bool IsPcmWave(const std::uint8_t* data, std::size_t size) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
    return false;
  }
  bool pcm = false, hasData = false, hasFormat = false;
  std::size_t pos = 12;
  while (pos + 8 <= size) {
    const std::uint8_t* chunk = data + pos;
    const std::uint32_t len = U32(chunk + 4);
    const std::size_t body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (len < 16 || body + 16 > size) return false;
      const std::uint16_t tag = U16(data + body);
      const std::uint16_t channels = U16(data + body + 2);
      const std::uint16_t bits = U16(data + body + 14);
      hasFormat = true;
      if (tag == kPcm) {
        pcm = true;
      } else if (tag == kExtensible && len >= 40 && body + 26 <= size) {
        pcm = U16(data + body + 24) == kPcm;  // the sub-format's first two bytes
      }
      if (channels == 0 || bits == 0) pcm = false;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      hasData = true;
      break;  // the data chunk may run to the end; nothing after it is needed
    }
    // Chunks are padded to even sizes.
    const std::size_t next = body + static_cast<std::size_t>(len) + (len & 1u);
    if (next <= pos || next > size) break;
    pos = next;
  }
  return hasFormat && pcm && hasData;
}

}  // namespace dbx
