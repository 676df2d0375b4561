#include "swf/format/sound_tags.h"

#include <utility>

#include "swf/format/tags.h"

namespace dbx::swf {

namespace {

constexpr int kRates[4] = {5512, 11025, 22050, 44100};

// The 8 bits of format, rate, size and channels that every sound tag shares.
SoundFormat ReadFormat(BitReader& r) {
  SoundFormat f;
  f.coding = static_cast<SoundCoding>(r.UB(4));
  f.rate = kRates[r.UB(2) & 3];
  f.sixteenBit = r.UB(1) != 0;
  f.stereo = r.UB(1) != 0;
  return f;
}

}  // namespace

std::optional<SoundInfo> ReadSoundInfo(BitReader& r, const ParseLimits& limits) {
  r.Align();
  SoundInfo info;
  r.UB(2);  // reserved
  info.stop = r.UB(1) != 0;
  info.noMultiple = r.UB(1) != 0;
  const bool hasEnvelope = r.UB(1) != 0;
  const bool hasLoops = r.UB(1) != 0;
  const bool hasOut = r.UB(1) != 0;
  const bool hasIn = r.UB(1) != 0;
  if (hasIn) info.inPoint = r.U32();
  if (hasOut) info.outPoint = r.U32();
  if (hasLoops) info.loops = r.U16();
  if (info.loops == 0) info.loops = 1;
  if (r.failed()) return std::nullopt;
  if (hasEnvelope) {
    const int count = r.U8();
    for (int i = 0; i < count; ++i) {
      EnvelopePoint p;
      p.position = r.U32();
      p.left = r.U16();
      p.right = r.U16();
      if (r.failed()) break;
      if (info.envelope.size() < limits.maxEnvelopePoints) info.envelope.push_back(p);
    }
  }
  return info;
}

void ParseDefineSound(BitReader& r, Movie& movie) {
  const std::uint16_t id = r.U16();
  auto def = std::make_shared<SoundDef>();
  def->format = ReadFormat(r);
  def->sampleCount = r.U32();
  if (def->format.coding == SoundCoding::kMp3) r.S16();  // seek samples: where decoding starts
  if (r.failed()) return;
  def->data.assign(r.cursor(), r.cursor() + r.remaining());
  movie.sounds.insert_or_assign(id, std::move(def));
}

void ParseStartSound(BitReader& r, std::uint16_t code, const ParseLimits& limits, Frame& frame) {
  StartSoundCommand c;
  if (code == static_cast<std::uint16_t>(Tag::kStartSound2)) {
    c.className = r.String();
  } else {
    c.sound = r.U16();
  }
  if (r.failed()) return;
  auto info = ReadSoundInfo(r, limits);
  if (!info) return;
  c.info = std::move(*info);
  frame.sounds.push_back(std::move(c));
}

void ParseSoundStreamHead(BitReader& r, Timeline& timeline) {
  StreamHead h;
  r.U8();  // reserved bits and the playback format, only advice: everything is mixed at 44.1 kHz
  h.format = ReadFormat(r);
  h.samplesPerBlock = r.U16();
  if (h.format.coding == SoundCoding::kMp3 && r.remaining() >= 2) h.latencySeek = r.S16();
  if (r.failed()) return;
  timeline.streamHead = h;
}

void ParseSoundStreamBlock(BitReader& r, Frame& frame) {
  frame.streamBlock.assign(r.cursor(), r.cursor() + r.remaining());
}

void ParseDefineButtonSound(BitReader& r, const ParseLimits& limits, Movie& movie) {
  const std::uint16_t button = r.U16();
  if (r.failed()) return;
  ButtonSounds sounds;
  for (auto& slot : sounds.transitions) {
    const std::uint16_t id = r.U16();
    if (r.failed()) break;
    if (id == 0) continue;
    auto info = ReadSoundInfo(r, limits);
    if (!info) break;
    slot = StartSoundCommand{id, {}, std::move(*info)};
  }
  movie.buttonSounds.insert_or_assign(button, std::move(sounds));
}

}  // namespace dbx::swf
