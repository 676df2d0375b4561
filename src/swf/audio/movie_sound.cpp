#include "swf/audio/movie_sound.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
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

std::uint32_t MovieSound::HandleOf(const Movie& movie, std::uint16_t id) {
  if (&movie == &movie_) return id;
  const auto known = otherHandles_.find({&movie, id});
  if (known != otherHandles_.end()) return known->second;
  const std::uint32_t handle = nextFile_++;
  otherHandles_.emplace(std::pair{&movie, id}, handle);
  others_.emplace(handle, std::pair{&movie, id});
  return handle;
}

int MovieSound::Start(const StartSoundCommand& command, const Movie* movie) {
  if (command.sound == 0) return 0;  // by class name: only scripts know those
  const std::uint32_t handle = movie ? HandleOf(*movie, command.sound) : command.sound;
  if (command.info.stop) {
    mixer_.StopGroup(handle);
    return 0;
  }
  if (command.info.noMultiple && mixer_.Playing(handle)) return 0;
  return mixer_.Start(DecodedHandle(handle), command.info, handle);
}

namespace {

// The rate and channels of the first MPEG audio frame in `data` (after an ID3v2 tag, if any).
bool FirstMp3Frame(const std::vector<std::uint8_t>& data, int& rate, bool& stereo) {
  std::size_t i = 0;
  if (data.size() >= 10 && data[0] == 'I' && data[1] == 'D' && data[2] == '3') {
    const std::size_t tag = (static_cast<std::size_t>(data[6] & 0x7F) << 21) |
                            (static_cast<std::size_t>(data[7] & 0x7F) << 14) |
                            (static_cast<std::size_t>(data[8] & 0x7F) << 7) | (data[9] & 0x7F);
    i = 10 + tag;
  }
  static constexpr int kRates[3][3] = {
      {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  for (; i + 4 <= data.size(); ++i) {
    if (data[i] != 0xFF || (data[i + 1] & 0xE0) != 0xE0) continue;
    const int version = (data[i + 1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    const int layer = (data[i + 1] >> 1) & 3;
    const int rateIndex = (data[i + 2] >> 2) & 3;
    if (version == 1 || layer == 0 || rateIndex == 3 || (data[i + 2] >> 4) == 15) continue;
    rate = kRates[version == 3 ? 0 : version == 2 ? 1 : 2][rateIndex];
    stereo = (data[i + 3] >> 6) != 3;
    return true;
  }
  return false;
}

}  // namespace

std::uint32_t MovieSound::LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::vector<std::uint8_t> bytes;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0 || static_cast<std::uint64_t>(size) > kMaxFileBytes) return 0;
  in.seekg(0, std::ios::beg);
  bytes.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  if (!in) return 0;
  return LoadMp3(std::move(bytes));
}

std::uint32_t MovieSound::LoadMp3(std::vector<std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kMaxFileBytes) return 0;
  // A sound character's MP3 data starts with the seek samples; a file has none.
  bytes.insert(bytes.begin(), 2, 0);
  SoundDef def;
  def.format.coding = SoundCoding::kMp3;
  def.data.assign(bytes.begin() + 2, bytes.end());
  if (!FirstMp3Frame(def.data, def.format.rate, def.format.stereo)) return 0;
  def.data = std::move(bytes);
  auto pcm = DecodeSound(def, mp3_, kMaxSoundFrames);
  if (!pcm) return 0;
  const std::uint32_t handle = nextFile_++;
  files_.emplace(handle, std::move(pcm));
  return handle;
}

std::uint32_t MovieSound::LoadBlocks(const SoundFormat& format,
                                     const std::vector<std::vector<std::uint8_t>>& blocks) {
  std::size_t bytes = 0;
  for (const auto& b : blocks) bytes += b.size();
  if (bytes == 0 || bytes > kMaxFileBytes) return 0;
  // MP3 frames run on from one block to the next: the whole of them is read as a file.
  if (format.coding == SoundCoding::kMp3) {
    std::vector<std::uint8_t> all;
    all.reserve(bytes);
    for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return LoadMp3(std::move(all));
  }
  StreamHead head;
  head.format = format;
  StreamDecoder decoder(head, mp3_);
  if (!decoder.Decodable()) return 0;
  auto pcm = std::make_shared<Pcm>();
  pcm->rate = decoder.Rate();
  pcm->channels = decoder.Channels();
  for (const auto& b : blocks) {
    decoder.Block(b.data(), b.size(), pcm->samples);
    if (pcm->Frames() >= kMaxSoundFrames) break;
  }
  pcm->samples.resize(
      std::min(pcm->samples.size(), kMaxSoundFrames * static_cast<std::size_t>(pcm->channels)));
  if (pcm->samples.empty()) return 0;
  const std::uint32_t handle = nextFile_++;
  files_.emplace(handle, std::move(pcm));
  return handle;
}

std::shared_ptr<const Pcm> MovieSound::DecodedHandle(std::uint32_t sound) {
  if (sound < kFirstFileHandle) return Decoded(static_cast<std::uint16_t>(sound));
  const auto it = files_.find(sound);
  if (it != files_.end()) return it->second;
  // A sound of another movie, decoded on first use and kept with the files.
  const auto other = others_.find(sound);
  if (other == others_.end()) return nullptr;
  const auto& [movie, id] = other->second;
  std::shared_ptr<const Pcm> pcm;
  const auto def = movie->sounds.find(id);
  if (def != movie->sounds.end() && def->second)
    pcm = DecodeSound(*def->second, mp3_, kMaxSoundFrames);
  files_.emplace(sound, pcm);
  return pcm;
}

int MovieSound::StartHandle(std::uint32_t sound, double offsetMs, int loops,
                            ChannelTransform transform) {
  auto pcm = DecodedHandle(sound);
  if (!pcm || pcm->Frames() == 0) return 0;
  SoundInfo info;
  info.loops = static_cast<std::uint16_t>(std::clamp(loops, 1, 0xFFFF));
  if (offsetMs > 0 && std::isfinite(offsetMs)) {
    // In points count 44.1 kHz samples whatever the sound's own rate.
    const double in = offsetMs * Mixer::kRate / 1000.0;
    info.inPoint = static_cast<std::uint32_t>(std::min(in, 4.0e9));
  }
  return mixer_.Start(std::move(pcm), info, sound, transform);
}

void MovieSound::StopStream() {
  stream_.reset();
  streamRate_ = streamChannels_ = 0;
  mixer_.StreamStop();
}

void MovieSound::ButtonSound(std::uint16_t button, int transition, const Movie* movie) {
  const Movie& of = movie ? *movie : movie_;
  const auto it = of.buttonSounds.find(button);
  if (it == of.buttonSounds.end() || transition < 0 || transition > 3) return;
  const auto& command = it->second.transitions[static_cast<std::size_t>(transition)];
  if (command) Start(*command, movie);
}

void MovieSound::EnterFrame(const Timeline& timeline, int frame, bool root, bool jumped,
                            const Movie* movie) {
  if (frame < 0 || static_cast<std::size_t>(frame) >= timeline.frames.size()) return;
  // After a jump (the loop back to the first frame included) the stream is decoded afresh from
  // the new frame's block; what is queued plays out, so that a loop has no gap.
  if (root && jumped) stream_.reset();
  const Frame& f = timeline.frames[static_cast<std::size_t>(frame)];
  for (const StartSoundCommand& c : f.sounds) Start(c, movie);
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
    // An MP3 decoder gives a frame's samples only once the frames after it have come (the
    // system's decoder on Windows holds back one more than libmpg123), and blocks carry whole
    // MP3 frames, so a block decodes to less than a frame interval at times: the stream waits
    // for a frame interval's worth and two MP3 frames, or it would stutter at the start.
    std::size_t preroll = timing_.prerollFrames;
    if (timeline.streamHead->format.coding == SoundCoding::kMp3) {
      const double mp3Frame = rate > 24000 ? 1152 : 576;
      const double perFrame = std::min<double>(timeline.streamHead->samplesPerBlock, rate);
      preroll = std::max(preroll,
                         static_cast<std::size_t>((perFrame + 2 * mp3Frame) * Mixer::kRate / rate));
    }
    mixer_.StreamStart(rate, channels, preroll,
                       timing_.maxQueuedFrames ? std::max(timing_.maxQueuedFrames, preroll) : 0);
  }
  mixer_.StreamPush(scratch_.data(), scratch_.size() / static_cast<std::size_t>(channels));
}

}  // namespace dbx::swf
