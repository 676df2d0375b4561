// Movies loaded into clips and levels from files beside the movie: loadMovie, loadMovieNum,
// unloadMovie and MovieClipLoader. A request finishes at the start of the next frame; the movie
// it loads runs its first frame in that frame, and a MovieClipLoader hears onLoadInit when the
// frame's scripts have run.
#pragma once

#include <string>
#include <string_view>

namespace dbx::swf {
struct Movie;
}

namespace dbx::swf::avm1 {

class Runtime;
class Object;
class Tracer;

struct MovieLoad {
  std::string url;           // empty: unload what the target shows
  Object* target = nullptr;  // the clip object loaded into; null for a level
  int level = -1;            // the level, when `target` is null
  Object* loader = nullptr;  // the MovieClipLoader that hears the events (may be null)
  bool cancelled = false;    // an unload of the same target came after it in the same frame
};

// The level a name gives: "_level3" or "_flash3" (any case) is 3, the number read up to the first
// other character ("_level" alone is 0); -1 for other names, paths ("_level0.clip") and negative
// levels.
int LevelOf(std::string_view path);

// The movie an ImportAssets tag names: a file beside the movies, parsed once (null when it cannot
// be read or is no movie).
const swf::Movie* ImportMovie(Runtime& rt, std::string_view url);
// Queues a request (bounded: requests beyond the bound are dropped).
void QueueMovieLoad(Runtime& rt, MovieLoad load);
// Finishes the requests queued before: reads and parses the files, puts the movies into their
// targets and tells the loaders (onLoadStart, onLoadProgress, onLoadComplete, or onLoadError).
void FinishMovieLoads(Runtime& rt);
// After the frame's scripts: onLoadInit for the movies whose first frame ran, latest made first.
void FireLoadInits(Runtime& rt);
// The objects the pending requests and notices hold.
void TraceMovieLoads(Runtime& rt, Tracer& t);
// The MovieClipLoader class, and MovieClip's loadMovie and unloadMovie.
void InstallMovieClipLoader(Runtime& rt);

}  // namespace dbx::swf::avm1
