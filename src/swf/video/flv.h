// FLV files, as a NetStream plays them: the header, then tags of audio, video and script data,
// each with its time in milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dbx::swf::video {

struct FlvTag {
  enum class Kind : std::uint8_t { kAudio = 8, kVideo = 9, kScript = 18 };
  Kind kind = Kind::kVideo;
  std::uint32_t timeMs = 0;
  // Where the tag's data lies in the file's bytes.
  std::size_t offset = 0, size = 0;
};

struct FlvFile {
  bool hasAudio = false, hasVideo = false;
  std::vector<FlvTag> tags;      // in file order (which is time order)
  std::uint32_t durationMs = 0;  // the time of the last tag
};

// The tags of an FLV file. Nothing for data that does not start as one; a file cut off keeps
// the tags that are whole. Tags of other kinds are skipped.
std::optional<FlvFile> ReadFlv(const std::uint8_t* data, std::size_t size);

// The name and first value of a script data tag (AMF0: a string, then usually an object or an
// associative array, as "onMetaData" has), as plain values: a number, a string, a boolean, null
// or undefined, or an object or array of them. Nothing when the data does not read.
struct AmfValue {
  enum class Type : std::uint8_t { kNumber, kBoolean, kString, kObject, kArray, kNull, kUndefined };
  Type type = Type::kUndefined;
  double number = 0;
  bool boolean = false;
  std::string string;
  // kObject: the members' names and values; kArray: the elements (names "0", "1", ...).
  std::vector<std::string> names;
  std::vector<AmfValue> values;
};
struct FlvScript {
  std::string name;
  AmfValue value;
};
std::optional<FlvScript> ReadFlvScript(const std::uint8_t* data, std::size_t size);

}  // namespace dbx::swf::video
