#include "swf/format/id3_tags.h"

#include <algorithm>

#include "core/utf8.h"

namespace dbx::swf {

namespace {

std::uint32_t Syncsafe(const std::uint8_t* p) {
  return (std::uint32_t{p[0] & 0x7Fu} << 21) | (std::uint32_t{p[1] & 0x7Fu} << 14) |
         (std::uint32_t{p[2] & 0x7Fu} << 7) | (p[3] & 0x7Fu);
}

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Unsynchronisation put a 0 after every 0xFF that could look like a frame sync; take them out.
std::vector<std::uint8_t> Resync(const std::uint8_t* p, std::size_t n) {
  std::vector<std::uint8_t> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0) ++i;
  }
  return out;
}

// One string of a frame in `encoding` (0 Latin-1, 1 UTF-16 after a byte-order mark, 2 UTF-16
// big-endian, 3 UTF-8) from `pos`, up to its terminator or the end; `pos` moves past both.
std::string ReadString(const std::uint8_t* p, std::size_t n, std::size_t& pos, int encoding) {
  std::string out;
  if (encoding == 1 || encoding == 2) {
    bool little = false;
    if (encoding == 1 && pos + 1 < n) {
      if (p[pos] == 0xFF && p[pos + 1] == 0xFE) {
        little = true;
        pos += 2;
      } else if (p[pos] == 0xFE && p[pos + 1] == 0xFF) {
        pos += 2;
      }
    }
    while (pos + 1 < n) {
      std::uint32_t c = little ? (p[pos] | (p[pos + 1] << 8)) : ((p[pos] << 8) | p[pos + 1]);
      pos += 2;
      if (c == 0) return out;
      if (c >= 0xD800 && c < 0xDC00 && pos + 1 < n) {
        const std::uint32_t low =
            little ? (p[pos] | (p[pos + 1] << 8)) : ((p[pos] << 8) | p[pos + 1]);
        if (low >= 0xDC00 && low < 0xE000) {
          pos += 2;
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
      }
      AppendUtf8(out, c >= 0xD800 && c < 0xE000 ? 0xFFFD : c);
    }
    pos = n;
    return out;
  }
  while (pos < n && p[pos] != 0) {
    if (encoding == 3)
      out += static_cast<char>(p[pos]);
    else
      AppendUtf8(out, p[pos]);
    ++pos;
  }
  if (pos < n) ++pos;  // the terminator
  return out;
}

}  // namespace

std::size_t Id3Size(const std::uint8_t* header, std::size_t size) {
  if (size < 10 || header[0] != 'I' || header[1] != 'D' || header[2] != '3') return 0;
  if ((header[6] | header[7] | header[8] | header[9]) & 0x80) return 0;
  return 10 + std::size_t{Syncsafe(header + 6)} + ((header[5] & 0x10) ? 10 : 0);
}

std::vector<Id3Frame> ReadId3(const std::uint8_t* data, std::size_t size) {
  std::vector<Id3Frame> frames;
  const std::size_t whole = Id3Size(data, size);
  if (whole == 0) return frames;
  const int version = data[3];
  if (version != 3 && version != 4) return frames;
  const std::uint8_t flags = data[5];
  std::size_t n = std::min<std::size_t>(Syncsafe(data + 6), size - 10);
  std::vector<std::uint8_t> body(data + 10, data + 10 + n);
  // Version 2.3 unsynchronises the whole tag, 2.4 each frame that says so.
  if (version == 3 && (flags & 0x80)) body = Resync(body.data(), body.size());
  n = body.size();
  std::size_t pos = 0;
  if (flags & 0x40) {  // an extended header, skipped
    if (n < 4) return frames;
    const std::size_t ext =
        version == 3 ? 4 + std::size_t{Be32(body.data())} : Syncsafe(body.data());
    pos = ext;
  }
  while (pos + 10 <= n) {
    const std::uint8_t* f = body.data() + pos;
    if (f[0] == 0) break;  // padding
    const std::string id(reinterpret_cast<const char*>(f), 4);
    const std::size_t len = version == 4 ? Syncsafe(f + 4) : Be32(f + 4);
    const std::uint16_t frameFlags = static_cast<std::uint16_t>((f[8] << 8) | f[9]);
    pos += 10;
    if (len > n - pos) break;
    const std::uint8_t* payload = body.data() + pos;
    pos += len;
    const bool text = id[0] == 'T' && id != "TXXX";
    if (!text && id != "COMM") continue;
    // Compressed or encrypted frames are left out.
    if (version == 3 ? (frameFlags & 0x00C0) : (frameFlags & 0x000C)) continue;
    std::vector<std::uint8_t> plain(payload, payload + len);
    if (version == 4) {
      if (frameFlags & 0x0002) plain = Resync(plain.data(), plain.size());
      if (frameFlags & 0x0001) {  // a data length indicator before the frame's data
        if (plain.size() < 4) continue;
        plain.erase(plain.begin(), plain.begin() + 4);
      }
    }
    if (plain.empty()) continue;
    const int encoding = plain[0];
    if (encoding > 3) continue;
    std::size_t at = 1;
    if (id == "COMM") {
      if (plain.size() < 4) continue;
      at = 4;                                                // the language
      ReadString(plain.data(), plain.size(), at, encoding);  // the description
    }
    frames.push_back({id, ReadString(plain.data(), plain.size(), at, encoding)});
  }
  return frames;
}

}  // namespace dbx::swf
