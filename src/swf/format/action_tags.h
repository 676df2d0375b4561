// Readers of the tags that carry scripts and what scripts refer to: frame and init actions, frame
// labels and scenes, exported names, clip actions of placed objects, and buttons. Internal to the
// parser.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "swf/format/bit_reader.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// Shared field readers of the parser.
Matrix ReadMatrix(BitReader& r);
ColorTransform ReadCxform(BitReader& r, bool withAlpha);

// DoAction: appended to `frame` after the commands read so far.
void ReadDoAction(BitReader& r, std::size_t size, Frame& frame);
// DoInitAction.
void ReadDoInitAction(BitReader& r, std::size_t size, Frame& frame);
// FrameLabel (the optional anchor byte is ignored).
void ReadFrameLabel(BitReader& r, Frame& frame);
// ExportAssets: names into `movie.exports`.
// `frame`: the main timeline's frame the tag is in (0 for a sprite's).
void ReadExportAssets(BitReader& r, Movie& movie, std::uint32_t frame);
// ImportAssets (`two`: ImportAssets2, with two reserved bytes after the URL): into
// `movie.imports`; the names it imports are the movie's own linkage names too.
void ReadImportAssets(BitReader& r, Movie& movie, std::uint32_t frame, bool two);
// DefineSceneAndFrameLabelData: the scenes into `timeline`, the labels as (frame, name) pairs to
// be given to the frames once they are read.
void ReadSceneAndLabels(BitReader& r, Timeline& timeline,
                        std::vector<std::pair<std::size_t, std::string>>& labels);
// The clip-action list at the end of PlaceObject2/3 (`version` is the movie's).
void ReadClipActions(BitReader& r, std::uint8_t version, std::vector<ClipAction>& out);
// DefineButton (`second` false) and DefineButton2: the button into `movie.characters`.
void ReadButton(BitReader& r, bool second, Movie& movie);
// DefineButtonCxform: a colour transform for every record of a DefineButton.
void ReadButtonCxform(BitReader& r, Movie& movie);

}  // namespace dbx::swf
