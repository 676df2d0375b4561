#include "swf/audio/movie_sound.h"

#include <utility>

namespace dbx::swf {

MovieSound::MovieSound(const Movie& movie, Mixer& mixer, Mp3DecoderFactory mp3, StreamTiming timing)
    : movie_(movie), mixer_(mixer), mp3_(std::move(mp3)), timing_(timing) {}

MovieSound::~MovieSound() {
  mixer_.StopAll();
  mixer_.StreamStop();
}

std::shared_ptr<const Pcm> MovieSound::Decoded(std::uint16_t sound) {
  const auto cached = decoded_.find(sound);
  if (cached != decoded_.end()) return cached->second;
  std::shared_ptr<const Pcm> pcm;
  const auto it = movie_.sounds.find(sound);
  if (it != movie_.sounds.end() && it->second)
    pcm = DecodeSound(*it->second, mp3_, kMaxSoundFrames);
  decoded_.emplace(sound, pcm);
  return pcm;
}

int MovieSound::Start(const StartSoundCommand& command) {
  const std::uint16_t id = command.sound;
  if (id == 0) return 0;  // by class name: only scripts know those
  if (command.info.stop) {
    mixer_.StopGroup(id);
    return 0;
  }
  if (command.info.noMultiple && mixer_.Playing(id)) return 0;
  return mixer_.Start(Decoded(id), command.info, id);
}

void MovieSound::StopStream() {
  stream_.reset();
  streamRate_ = streamChannels_ = 0;
  mixer_.StreamStop();
}

void MovieSound::ButtonSound(std::uint16_t button, int transition) {
  const auto it = movie_.buttonSounds.find(button);
  if (it == movie_.buttonSounds.end() || transition < 0 || transition > 3) return;
  const auto& command = it->second.transitions[static_cast<std::size_t>(transition)];
  if (command) Start(*command);
}

void MovieSound::EnterFrame(const Timeline& timeline, int frame, bool root, bool jumped) {
  if (frame < 0 || static_cast<std::size_t>(frame) >= timeline.frames.size()) return;
  // After a jump (the loop back to the first frame included) the stream is decoded afresh from
  // the new frame's block; what is queued plays out, so that a loop has no gap.
  if (root && jumped) stream_.reset();
  const Frame& f = timeline.frames[static_cast<std::size_t>(frame)];
  for (const StartSoundCommand& c : f.sounds) Start(c);
  if (!root || f.streamBlock.empty() || !timeline.streamHead) return;
  if (!stream_) stream_ = std::make_unique<StreamDecoder>(*timeline.streamHead, mp3_);
  if (!stream_->Decodable()) return;
  scratch_.clear();
  stream_->Block(f.streamBlock.data(), f.streamBlock.size(), scratch_);
  if (scratch_.empty()) return;
  // The rate and channels are known once samples come out (MP3 says so itself); the mixer's
  // stream starts then, and anew should they ever change.
  const int rate = stream_->Rate(), channels = stream_->Channels();
  if (rate != streamRate_ || channels != streamChannels_) {
    streamRate_ = rate;
    streamChannels_ = channels;
    mixer_.StreamStart(rate, channels, timing_.prerollFrames, timing_.maxQueuedFrames);
  }
  mixer_.StreamPush(scratch_.data(), scratch_.size() / static_cast<std::size_t>(channels));
}

}  // namespace dbx::swf
