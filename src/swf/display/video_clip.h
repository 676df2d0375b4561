// What video objects on the stage show: the frames of their own stream (VideoFrame tags), picked
// by the ratio the timeline gives them, or the pictures of a stream a script attached to them.
#pragma once

#include <cstdint>
#include <memory>

#include "swf/format/movie.h"

namespace dbx::swf {

class Clip;

// The pictures of a stream that scripts play (a NetStream), shared by the stream and the video
// objects it is attached to: the stream puts each new picture here.
struct VideoFeed {
  std::shared_ptr<const Bitmap> picture;
  std::uint64_t serial = 0;  // counts the pictures put here
};

// The decoding of a video object's own stream, kept on the object.
struct VideoPlayback;

// The stream a video object was placed from (null: none, or not a video object).
const VideoStream* VideoStreamOf(const Clip& clip);

// Whether a video object's picture is smoothed: as a script set it, else as its stream says.
bool VideoSmoothing(const Clip& clip);

// Brings a video object's picture to its stream's frame at the clip's ratio: from the frame
// decoded last when the ratio moved on, else from the nearest key frame before it. A frame that
// does not decode, or a codec that is not decoded, leaves the picture as it was.
void ShowVideoFrame(Clip& clip);

// The picture a video object shows now (null: none), and a number that changes with it.
const Bitmap* VideoPicture(const Clip& clip, std::uint64_t* serial = nullptr);

}  // namespace dbx::swf
