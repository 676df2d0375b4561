// Readers of the sound tags. Each takes the tag's body; a damaged tag adds nothing (or, for a
// sound info with a cut envelope, only what was whole).
#pragma once

#include <cstdint>

#include "swf/format/bit_reader.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// DefineSound: adds the sound to `movie.sounds`.
void ParseDefineSound(BitReader& r, Movie& movie);
// StartSound and StartSound2 (by `code`): adds the command to the frame.
void ParseStartSound(BitReader& r, std::uint16_t code, const ParseLimits& limits, Frame& frame);
// SoundStreamHead and SoundStreamHead2: sets the timeline's stream sound.
void ParseSoundStreamHead(BitReader& r, Timeline& timeline);
// SoundStreamBlock: the frame's piece of the stream (the last block of a frame wins).
void ParseSoundStreamBlock(BitReader& r, Frame& frame);
// DefineButtonSound: the four transition sounds of a button.
void ParseDefineButtonSound(BitReader& r, const ParseLimits& limits, Movie& movie);

// The SOUNDINFO record; nothing when it is cut short before its envelope.
std::optional<SoundInfo> ReadSoundInfo(BitReader& r, const ParseLimits& limits);

}  // namespace dbx::swf
