// The mixer: every playing sound into one 44.1 kHz stereo stream. Event sounds play from their
// decoded samples with in and out points, loops, a volume envelope and a channel transform (volume
// and pan); the stream sound plays the blocks it is given in order. Sounds at other rates are
// resampled by linear interpolation; the sum is clipped to 16 bits, never wrapped.
//
// The UI thread starts and stops sounds while the sound device's thread pulls Mix: every member
// takes the mixer's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "swf/audio/decoders.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// How a sound's left and right reach the output's left and right (the script transform):
// out.left = left * ll + right * rl, out.right = left * lr + right * rr.
struct ChannelTransform {
  float ll = 1, lr = 0, rl = 0, rr = 1;
  // Volume 0..100 (and beyond) and pan -100 (left only) .. 100 (right only).
  static ChannelTransform FromVolumePan(double volume, double pan);
};

class Mixer {
 public:
  static constexpr int kRate = 44100;

  // Starts a sound. `group` names what it belongs to (its character id, or a script's sound
  // object) for StopGroup and Playing. Returns the voice's number (never 0).
  int Start(std::shared_ptr<const Pcm> pcm, const SoundInfo& info, std::uint32_t group,
            ChannelTransform transform = {});
  void StopGroup(std::uint32_t group);
  void StopVoice(int voice);
  void StopAll();
  bool Playing(std::uint32_t group) const;
  bool VoicePlaying(int voice) const;
  // Milliseconds of the voice's sound played (within the current loop).
  double VoicePositionMs(int voice) const;
  void SetVoiceTransform(int voice, ChannelTransform transform);
  // Applied to everything, after each sound's own transform.
  void SetMasterTransform(ChannelTransform transform);

  // The stream sound. StreamStart drops what is queued; StreamPush appends decoded samples. The
  // stream waits until `prerollFrames` output frames of it are queued before it plays (and again
  // after running dry), and drops its oldest samples when more than `maxQueuedFrames` wait, so
  // that it stays within that distance of the timeline that feeds it.
  void StreamStart(int rate, int channels, std::size_t prerollFrames, std::size_t maxQueuedFrames);
  void StreamPush(const std::int16_t* samples, std::size_t frames);
  void StreamStop();
  bool StreamPlaying() const;
  // Output frames of stream sound played since StreamStart (silence while waiting not counted).
  std::uint64_t StreamPlayedFrames() const;

  // Voices playing now (the stream not counted).
  std::size_t VoiceCount() const;

  // Fills `frames` interleaved stereo frames.
  void Mix(std::int16_t* stereo, std::size_t frames);

  // Voices beyond this many are not started (the oldest keeps playing).
  static constexpr std::size_t kMaxVoices = 64;

 private:
  struct Voice {
    int id = 0;
    std::uint32_t group = 0;
    std::shared_ptr<const Pcm> pcm;
    double pos = 0;             // in source frames
    double step = 1;            // source frames per output frame
    double begin = 0;           // in point, source frames
    double end = 0;             // out point, source frames
    int loopsLeft = 1;          // plays including the current one
    std::uint64_t elapsed = 0;  // output frames since the start, for the envelope
    std::vector<EnvelopePoint> envelope;
    std::size_t envelopeCursor = 0;
    ChannelTransform transform;
  };
  // Adds a voice into the accumulator; false when it has ended.
  bool MixVoice(Voice& v, std::int32_t* acc, std::size_t frames);
  void MixStream(std::int32_t* acc, std::size_t frames);

  mutable std::mutex mutex_;
  std::vector<Voice> voices_;
  int nextId_ = 1;
  ChannelTransform master_;

  struct Stream {
    bool active = false;
    bool waiting = true;
    int rate = kRate;
    int channels = 1;
    double step = 1;
    double pos = 0;                          // within the front of the queue, source frames
    std::size_t preroll = 0, maxQueued = 0;  // in source frames
    std::deque<std::int16_t> queue;
    std::uint64_t played = 0;
  } stream_;
  std::vector<std::int32_t> acc_;
};

}  // namespace dbx::swf
