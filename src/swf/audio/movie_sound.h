// The sound of one playing movie: what its frames start and stop, its stream sound, and the
// decoded sounds, fed into a mixer that the player owns (and that outlives the movie).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "swf/audio/decoders.h"
#include "swf/audio/mixer.h"
#include "swf/format/movie.h"

namespace dbx::swf {

struct StreamTiming {
  // The stream waits for this much sound before it plays, and drops what lies beyond
  // `maxQueuedFrames`; 0 and 0 for a caller that mixes exactly as the timeline advances.
  std::size_t prerollFrames = 0;
  std::size_t maxQueuedFrames = 0;
};

class MovieSound {
 public:
  // The movie and the mixer must outlive this object.
  MovieSound(const Movie& movie, Mixer& mixer, Mp3DecoderFactory mp3, StreamTiming timing);
  ~MovieSound();
  MovieSound(const MovieSound&) = delete;
  MovieSound& operator=(const MovieSound&) = delete;

  // A timeline has entered `frame`: its event sounds start or stop, and the main timeline's
  // stream block (when `root`) is queued. After a jump the stream is decoded anew from there.
  // The timeline may be of another movie (one loaded into a clip or level): its sounds are that
  // movie's.
  void EnterFrame(const Timeline& timeline, int frame, bool root, bool jumped = false,
                  const Movie* movie = nullptr);
  // A button of `movie` (the main one when null) changed state (0 over to idle, 1 idle to over,
  // 2 over to down, 3 down to over).
  void ButtonSound(std::uint16_t button, int transition, const Movie* movie = nullptr);
  // Starts (or stops) an event sound of `movie` (the main one when null) as a frame or a button
  // would. Returns the voice (0: none).
  int Start(const StartSoundCommand& command, const Movie* movie = nullptr);
  // The decoded samples of a sound (decoded on first use); nothing when it cannot be decoded.
  std::shared_ptr<const Pcm> Decoded(std::uint16_t sound);
  // The handle of sound character `id` of `movie`: the id itself for the main movie, one of its
  // own for another movie (which must outlive this object).
  std::uint32_t HandleOf(const Movie& movie, std::uint16_t id);
  // Stops the stream (the timeline stopped or jumped); the next block starts it anew.
  void StopStream();

  // Sounds for scripts, named by handle: a sound character's id, one of HandleOf, or a file
  // LoadFile decoded.
  std::uint32_t LoadFile(const std::string& path);
  // The same for MP3 data in memory.
  std::uint32_t LoadMp3(std::vector<std::uint8_t> bytes);
  // The same for the blocks of a video file's sound, in `format` (as ScriptSound::LoadBlocks).
  std::uint32_t LoadBlocks(const SoundFormat& format,
                           const std::vector<std::vector<std::uint8_t>>& blocks);
  std::shared_ptr<const Pcm> DecodedHandle(std::uint32_t sound);
  // Plays a sound from `offsetMs` (within the sound), `loops` times. Returns the voice (0: none).
  int StartHandle(std::uint32_t sound, double offsetMs, int loops, ChannelTransform transform);

  // A decoded sound longer than this is cut (about six minutes at 44.1 kHz).
  static constexpr std::size_t kMaxSoundFrames = 1u << 24;
  // A sound file read by a script larger than this is not decoded.
  static constexpr std::size_t kMaxFileBytes = 64u << 20;
  // Handles of files start above every character id.
  static constexpr std::uint32_t kFirstFileHandle = 0x10000;

 private:
  const Movie& movie_;
  Mixer& mixer_;
  Mp3DecoderFactory mp3_;
  StreamTiming timing_;
  std::map<std::uint16_t, std::shared_ptr<const Pcm>> decoded_;  // null: cannot be decoded
  std::map<std::uint32_t, std::shared_ptr<const Pcm>> files_;    // by the handle LoadFile gave
  // Sounds of other movies: their handles, and what each handle names.
  std::map<std::pair<const Movie*, std::uint16_t>, std::uint32_t> otherHandles_;
  std::map<std::uint32_t, std::pair<const Movie*, std::uint16_t>> others_;
  std::uint32_t nextFile_ = kFirstFileHandle;
  std::unique_ptr<StreamDecoder> stream_;
  int streamRate_ = 0, streamChannels_ = 0;  // what the mixer's stream was started with
  std::vector<std::int16_t> scratch_;
};

}  // namespace dbx::swf
