#include "swf/display/video_clip.h"

#include <iterator>
#include <variant>

#include "swf/display/clip.h"
#include "swf/video/decoder.h"

namespace dbx::swf {

struct VideoPlayback {
  std::unique_ptr<video::Decoder> decoder;
  int decoded = -1;  // the frame the picture shows (-1: none yet)
  std::shared_ptr<Bitmap> picture;
  std::uint64_t serial = 0;
};

const VideoStream* VideoStreamOf(const Clip& clip) {
  if (clip.kind != ClipKind::kVideo || !clip.movie) return nullptr;
  const auto it = clip.movie->characters.find(clip.character);
  return it == clip.movie->characters.end() ? nullptr : std::get_if<VideoStream>(&it->second);
}

bool VideoSmoothing(const Clip& clip) {
  if (clip.videoSmoothing) return *clip.videoSmoothing;
  const VideoStream* stream = VideoStreamOf(clip);
  return stream && stream->smoothing;
}

void ShowVideoFrame(Clip& clip) {
  const VideoStream* stream = VideoStreamOf(clip);
  if (!stream || stream->frameData.empty()) return;
  if (!clip.videoPlayback) {
    clip.videoPlayback = std::make_shared<VideoPlayback>();
    clip.videoPlayback->decoder = video::MakeDecoder(stream->codec);
  }
  VideoPlayback& p = *clip.videoPlayback;
  if (!p.decoder) return;
  const int target = clip.ratio;
  if (target == p.decoded) return;
  const auto& frames = stream->frameData;
  // The frames to decode: on from the one shown when no key frame lies between, else from the
  // last key frame at or before the target (or the first frame the stream has).
  auto last = frames.upper_bound(static_cast<std::uint16_t>(target));
  if (last == frames.begin()) return;
  const bool onward = p.decoded >= 0 && p.decoded < target;
  auto from = std::prev(last);
  while (from != frames.begin() && !(onward && static_cast<int>(from->first) <= p.decoded) &&
         !p.decoder->IsKeyFrame(from->second.data(), from->second.size()))
    --from;
  if (onward && static_cast<int>(from->first) <= p.decoded)
    from = frames.upper_bound(static_cast<std::uint16_t>(p.decoded));
  // (A frame that decodes gives the whole picture.)
  Bitmap picture;
  bool changed = false;
  for (auto f = from; f != last; ++f)
    changed |= p.decoder->Decode(f->second.data(), f->second.size(), picture);
  p.decoded = target;
  if (!changed) return;
  p.picture = std::make_shared<Bitmap>(std::move(picture));
  ++p.serial;
}

const Bitmap* VideoPicture(const Clip& clip, std::uint64_t* serial) {
  if (clip.videoFeed) {
    if (serial) *serial = clip.videoFeed->serial;
    return clip.videoFeed->picture.get();
  }
  if (clip.videoPlayback) {
    if (serial) *serial = clip.videoPlayback->serial;
    return clip.videoPlayback->picture.get();
  }
  if (serial) *serial = 0;
  return nullptr;
}

}  // namespace dbx::swf
