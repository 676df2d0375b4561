#include "swf/video/flv.h"

#include <bit>
#include <utility>

namespace dbx::swf::video {

namespace {

std::uint32_t Big(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

// AMF0 as script data tags hold it, bounded in depth and in the values read.
class AmfReader {
 public:
  AmfReader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

  bool String(std::string& out, bool longForm = false) {
    const int lengthBytes = longForm ? 4 : 2;
    if (end_ - p_ < lengthBytes) return false;
    const std::size_t n = Big(p_, lengthBytes);
    p_ += lengthBytes;
    if (static_cast<std::size_t>(end_ - p_) < n) return false;
    out.assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return true;
  }

  bool Value(AmfValue& out, int depth = 0) {
    if (p_ >= end_ || depth > kMaxDepth || ++values_ > kMaxValues) return false;
    const std::uint8_t marker = *p_++;
    switch (marker) {
      case 0: {  // number
        if (end_ - p_ < 8) return false;
        out.type = AmfValue::Type::kNumber;
        out.number = Double(p_);
        p_ += 8;
        return true;
      }
      case 1:  // boolean
        if (p_ >= end_) return false;
        out.type = AmfValue::Type::kBoolean;
        out.boolean = *p_++ != 0;
        return true;
      case 2:   // string
      case 12:  // long string
        out.type = AmfValue::Type::kString;
        return String(out.string, marker == 12);
      case 3:  // object
        out.type = AmfValue::Type::kObject;
        return Members(out, depth);
      case 5:
        out.type = AmfValue::Type::kNull;
        return true;
      case 6:
        out.type = AmfValue::Type::kUndefined;
        return true;
      case 8:  // associative array: a count (not trusted), then members as an object's
        if (end_ - p_ < 4) return false;
        p_ += 4;
        out.type = AmfValue::Type::kObject;
        return Members(out, depth);
      case 10: {  // strict array
        if (end_ - p_ < 4) return false;
        const std::uint32_t count = Big(p_, 4);
        p_ += 4;
        out.type = AmfValue::Type::kArray;
        for (std::uint32_t i = 0; i < count; ++i) {
          AmfValue item;
          if (!Value(item, depth + 1)) return false;
          out.names.push_back(std::to_string(i));
          out.values.push_back(std::move(item));
        }
        return true;
      }
      case 11:  // date: milliseconds (read as a number), then a zone that is not used
        if (end_ - p_ < 10) return false;
        out.type = AmfValue::Type::kNumber;
        out.number = Double(p_);
        p_ += 10;
        return true;
      default:
        return false;
    }
  }

 private:
  static constexpr int kMaxDepth = 32;

  static double Double(const std::uint8_t* p) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
    return std::bit_cast<double>(bits);
  }
  static constexpr int kMaxValues = 100000;

  bool Members(AmfValue& out, int depth) {
    for (;;) {
      std::string name;
      if (!String(name)) return false;
      if (name.empty() && p_ < end_ && *p_ == 9) {  // the object ends
        ++p_;
        return true;
      }
      AmfValue member;
      if (!Value(member, depth + 1)) return false;
      out.names.push_back(std::move(name));
      out.values.push_back(std::move(member));
    }
  }

  const std::uint8_t* p_;
  const std::uint8_t* end_;
  int values_ = 0;
};

}  // namespace

std::optional<FlvFile> ReadFlv(const std::uint8_t* data, std::size_t size) {
  if (size < 9 || data[0] != 'F' || data[1] != 'L' || data[2] != 'V') return std::nullopt;
  FlvFile file;
  file.hasAudio = (data[4] & 4) != 0;
  file.hasVideo = (data[4] & 1) != 0;
  std::size_t pos = Big(data + 5, 4);
  if (pos < 9 || pos > size) return std::nullopt;
  pos += 4;  // the size of the tag before the first: none
  while (pos + 11 <= size) {
    const std::uint8_t kind = data[pos] & 0x1F;
    const std::size_t length = Big(data + pos + 1, 3);
    const std::uint32_t time = Big(data + pos + 4, 3) | (std::uint32_t{data[pos + 7]} << 24);
    const std::size_t body = pos + 11;
    if (length > size - body) break;
    if (kind == 8 || kind == 9 || kind == 18) {
      FlvTag tag;
      tag.kind = static_cast<FlvTag::Kind>(kind);
      tag.timeMs = time;
      tag.offset = body;
      tag.size = length;
      file.tags.push_back(tag);
      if (time > file.durationMs) file.durationMs = time;
    }
    pos = body + length + 4;
  }
  return file;
}

std::optional<FlvScript> ReadFlvScript(const std::uint8_t* data, std::size_t size) {
  AmfReader r(data, size);
  FlvScript script;
  AmfValue name;
  if (!r.Value(name) || name.type != AmfValue::Type::kString) return std::nullopt;
  script.name = std::move(name.string);
  if (!r.Value(script.value)) return std::nullopt;
  return script;
}

}  // namespace dbx::swf::video
