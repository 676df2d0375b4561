// The ID3 tag at the start of an MP3 file (versions 2.3 and 2.4): the text frames and comments
// that a movie's script reads as its sound's `id3`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dbx::swf {

struct Id3Frame {
  std::string id;    // "TIT2", "COMM", ...
  std::string text;  // UTF-8; a comment's text without its language and description
};

// The text frames (T..., but not TXXX) and comments (COMM) in the order of the file. Other frames,
// compressed or encrypted ones and everything after damage are left out; nothing when the data
// does not start with a tag.
std::vector<Id3Frame> ReadId3(const std::uint8_t* data, std::size_t size);

// How many bytes the tag at the start of `header` (its first 10 bytes) takes, header included;
// 0 when there is none.
std::size_t Id3Size(const std::uint8_t* header, std::size_t size);

}  // namespace dbx::swf
