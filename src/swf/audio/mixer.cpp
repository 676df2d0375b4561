#include "swf/audio/mixer.h"

#include <algorithm>
#include <cmath>

namespace dbx::swf {

ChannelTransform ChannelTransform::FromVolumePan(double volume, double pan) {
  const double v = std::max(0.0, volume) / 100.0;
  const double p = std::clamp(pan, -100.0, 100.0) / 100.0;
  ChannelTransform t;
  // Panning turns one side down; the other stays at the volume.
  t.ll = static_cast<float>(v * (p > 0 ? 1 - p : 1));
  t.rr = static_cast<float>(v * (p < 0 ? 1 + p : 1));
  t.lr = t.rl = 0;
  return t;
}

namespace {

// The envelope's levels (0..1) at `t` output frames: linear between its points, held before the
// first and after the last. `cursor` remembers the segment: `t` only grows.
void EnvelopeAt(const std::vector<EnvelopePoint>& env, std::uint64_t t, std::size_t& cursor,
                float& left, float& right) {
  if (env.empty()) {
    left = right = 1;
    return;
  }
  constexpr float kFull = 32768.0f;
  if (t <= env.front().position) {
    left = env.front().left / kFull;
    right = env.front().right / kFull;
    return;
  }
  for (std::size_t i = std::max<std::size_t>(cursor, 1); i < env.size(); ++i) {
    const EnvelopePoint& b = env[i];
    if (t > b.position) continue;
    cursor = i;
    const EnvelopePoint& a = env[i - 1];
    const double span = static_cast<double>(b.position) - a.position;
    const float f = span > 0 ? static_cast<float>((t - a.position) / span) : 1.0f;
    left = (a.left + (b.left - a.left) * f) / kFull;
    right = (a.right + (b.right - a.right) * f) / kFull;
    return;
  }
  left = env.back().left / kFull;
  right = env.back().right / kFull;
}

}  // namespace

int Mixer::Start(std::shared_ptr<const Pcm> pcm, const SoundInfo& info, std::uint32_t group,
                 ChannelTransform transform) {
  if (!pcm || pcm->Frames() == 0 || pcm->rate <= 0) return 0;
  std::lock_guard lock(mutex_);
  if (voices_.size() >= kMaxVoices) return 0;
  Voice v;
  v.id = nextId_++;
  if (nextId_ <= 0) nextId_ = 1;
  v.group = group;
  v.step = static_cast<double>(pcm->rate) / kRate;
  // In and out points count 44.1 kHz frames whatever the sound's rate.
  const double frames = static_cast<double>(pcm->Frames());
  v.begin = info.inPoint ? std::min(frames, *info.inPoint * v.step) : 0;
  v.end = info.outPoint ? std::min(frames, *info.outPoint * v.step) : frames;
  if (v.end <= v.begin) return 0;
  v.pos = v.begin;
  v.loopsLeft = std::max<int>(1, info.loops);
  v.envelope = info.envelope;
  v.transform = transform;
  v.pcm = std::move(pcm);
  voices_.push_back(std::move(v));
  return voices_.back().id;
}

void Mixer::StopGroup(std::uint32_t group) {
  std::lock_guard lock(mutex_);
  std::erase_if(voices_, [&](const Voice& v) { return v.group == group; });
}

void Mixer::StopVoice(int voice) {
  std::lock_guard lock(mutex_);
  std::erase_if(voices_, [&](const Voice& v) { return v.id == voice; });
}

void Mixer::StopAll() {
  std::lock_guard lock(mutex_);
  voices_.clear();
}

bool Mixer::Playing(std::uint32_t group) const {
  std::lock_guard lock(mutex_);
  return std::any_of(voices_.begin(), voices_.end(),
                     [&](const Voice& v) { return v.group == group; });
}

bool Mixer::VoicePlaying(int voice) const {
  std::lock_guard lock(mutex_);
  return std::any_of(voices_.begin(), voices_.end(), [&](const Voice& v) { return v.id == voice; });
}

double Mixer::VoicePositionMs(int voice) const {
  std::lock_guard lock(mutex_);
  for (const Voice& v : voices_)
    if (v.id == voice) return v.pos * 1000.0 / v.pcm->rate;
  return 0;
}

void Mixer::SetVoiceTransform(int voice, ChannelTransform transform) {
  std::lock_guard lock(mutex_);
  for (Voice& v : voices_)
    if (v.id == voice) v.transform = transform;
}

void Mixer::SetMasterTransform(ChannelTransform transform) {
  std::lock_guard lock(mutex_);
  master_ = transform;
}

std::size_t Mixer::VoiceCount() const {
  std::lock_guard lock(mutex_);
  return voices_.size();
}

void Mixer::StreamStart(int rate, int channels, std::size_t prerollFrames,
                        std::size_t maxQueuedFrames) {
  std::lock_guard lock(mutex_);
  stream_ = Stream{};
  stream_.active = rate > 0 && (channels == 1 || channels == 2);
  if (!stream_.active) return;
  stream_.rate = rate;
  stream_.channels = channels;
  stream_.step = static_cast<double>(rate) / kRate;
  stream_.preroll = static_cast<std::size_t>(std::ceil(prerollFrames * stream_.step));
  stream_.maxQueued = static_cast<std::size_t>(std::ceil(maxQueuedFrames * stream_.step));
}

void Mixer::StreamPush(const std::int16_t* samples, std::size_t frames) {
  std::lock_guard lock(mutex_);
  if (!stream_.active || !samples) return;
  const auto ch = static_cast<std::size_t>(stream_.channels);
  stream_.queue.insert(stream_.queue.end(), samples, samples + frames * ch);
  const std::size_t queued = stream_.queue.size() / ch;
  if (stream_.maxQueued > 0 && queued > stream_.maxQueued + stream_.preroll) {
    // The sound fell behind the timeline: catch up by dropping its oldest part.
    const std::size_t drop = queued - std::max<std::size_t>(stream_.preroll, 1);
    stream_.queue.erase(stream_.queue.begin(),
                        stream_.queue.begin() + static_cast<std::ptrdiff_t>(drop * ch));
    stream_.pos = 0;
  }
}

void Mixer::StreamStop() {
  std::lock_guard lock(mutex_);
  stream_ = Stream{};
}

bool Mixer::StreamPlaying() const {
  std::lock_guard lock(mutex_);
  return stream_.active && !stream_.queue.empty();
}

std::uint64_t Mixer::StreamPlayedFrames() const {
  std::lock_guard lock(mutex_);
  return stream_.played;
}

bool Mixer::MixVoice(Voice& v, std::int32_t* acc, std::size_t frames) {
  const Pcm& pcm = *v.pcm;
  const std::int16_t* s = pcm.samples.data();
  const bool stereo = pcm.channels == 2;
  const auto last = static_cast<std::size_t>(std::ceil(v.end)) - 1;  // last frame in range
  for (std::size_t k = 0; k < frames; ++k) {
    if (v.pos >= v.end) {
      if (--v.loopsLeft <= 0) return false;
      v.pos = v.begin + std::fmod(v.pos - v.end, v.end - v.begin);
    }
    const auto i = static_cast<std::size_t>(v.pos);
    const auto j = std::min(i + 1, last);
    const float f = static_cast<float>(v.pos - static_cast<double>(i));
    float l, r;
    if (stereo) {
      l = s[2 * i] + (s[2 * j] - s[2 * i]) * f;
      r = s[2 * i + 1] + (s[2 * j + 1] - s[2 * i + 1]) * f;
    } else {
      l = r = s[i] + (s[j] - s[i]) * f;
    }
    float el, er;
    EnvelopeAt(v.envelope, v.elapsed, v.envelopeCursor, el, er);
    l *= el;
    r *= er;
    const ChannelTransform& t = v.transform;
    acc[2 * k] += static_cast<std::int32_t>(l * t.ll + r * t.rl);
    acc[2 * k + 1] += static_cast<std::int32_t>(l * t.lr + r * t.rr);
    v.pos += v.step;
    ++v.elapsed;
  }
  return true;
}

void Mixer::MixStream(std::int32_t* acc, std::size_t frames) {
  Stream& st = stream_;
  if (!st.active) return;
  const auto ch = static_cast<std::size_t>(st.channels);
  for (std::size_t k = 0; k < frames; ++k) {
    std::size_t queued = st.queue.size() / ch;
    if (st.waiting) {
      if (queued == 0 || queued < st.preroll) return;
      st.waiting = false;
    }
    auto i = static_cast<std::size_t>(st.pos);
    if (i >= queued) {
      // Ran dry: wait for the next blocks (and the preroll) again.
      st.waiting = true;
      st.queue.clear();
      st.pos = 0;
      return;
    }
    const std::size_t j = std::min(i + 1, queued - 1);
    const float f = static_cast<float>(st.pos - static_cast<double>(i));
    float l = st.queue[i * ch] + (st.queue[j * ch] - st.queue[i * ch]) * f;
    float r = l;
    if (ch == 2) r = st.queue[i * ch + 1] + (st.queue[j * ch + 1] - st.queue[i * ch + 1]) * f;
    acc[2 * k] += static_cast<std::int32_t>(l);
    acc[2 * k + 1] += static_cast<std::int32_t>(r);
    ++st.played;
    st.pos += st.step;
    // Frames wholly behind the read position go.
    const auto done = static_cast<std::size_t>(st.pos);
    if (done > 0 && done <= queued) {
      st.queue.erase(st.queue.begin(), st.queue.begin() + static_cast<std::ptrdiff_t>(done * ch));
      st.pos -= static_cast<double>(done);
    }
  }
}

void Mixer::Mix(std::int16_t* stereo, std::size_t frames) {
  if (!stereo || frames == 0) return;
  std::lock_guard lock(mutex_);
  acc_.assign(frames * 2, 0);
  std::int32_t* acc = acc_.data();
  std::erase_if(voices_, [&](Voice& v) { return !MixVoice(v, acc, frames); });
  MixStream(acc, frames);
  const ChannelTransform& m = master_;
  const bool identity = m.ll == 1 && m.rr == 1 && m.lr == 0 && m.rl == 0;
  for (std::size_t k = 0; k < frames; ++k) {
    float l = static_cast<float>(acc[2 * k]), r = static_cast<float>(acc[2 * k + 1]);
    if (!identity) {
      const float ol = l * m.ll + r * m.rl, orr = l * m.lr + r * m.rr;
      l = ol;
      r = orr;
    }
    stereo[2 * k] = static_cast<std::int16_t>(std::clamp(l, -32768.0f, 32767.0f));
    stereo[2 * k + 1] = static_cast<std::int16_t>(std::clamp(r, -32768.0f, 32767.0f));
  }
}

}  // namespace dbx::swf
