// Files beside the movie that scripts load (LoadVars, loadVariables, XML.load): which names are
// allowed (no network, nothing outside the movie's folder), reading them within a size bound, and
// the url-encoded variables they hold. The loads finish at the next frame.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "swf/format/movie.h"

namespace dbx::swf::avm1 {

class Vm;
class Object;

// The file that `url` names inside `folder` (which ends with a separator, or is empty for the
// working folder); nothing for a url with a scheme, a drive, an absolute path, a ".." segment or
// a NUL. A query ("?a=b") or fragment is dropped.
std::optional<std::string> LocalPath(std::string_view folder, std::string_view url);

// Reads that file when it is a regular file inside `folder` (links are followed and must stay
// inside) of at most `maxBytes`; nothing otherwise.
std::optional<std::string> ReadLocalFile(std::string_view folder, std::string_view url,
                                         std::size_t maxBytes = 16u << 20);

// The text of a file of a movie from version 6, read as UTF-8 the way the player reads it: a
// lead byte takes as many bytes as its sequence asks for, whatever they are, and adds them up
// as if each were a continuation byte (so "\xDC\x20" reads U+06A0); a byte that leads nothing
// is the code point of its value; a sequence cut off by the end is dropped.
std::string Utf8Leniently(std::string_view bytes);

// Writes a POST request, as it would go, to the trace (for logged runs: nothing is sent).
void TracePost(Vm& vm, std::string_view url, std::string_view mimeType, std::string_view body);

// "a=1&b=two%20words" as name/value pairs, in order ('+' is a space, %XX a byte).
std::vector<std::pair<std::string, std::string>> DecodeVariables(std::string_view text);
std::string UrlDecode(std::string_view text);
// The player's escape(): every byte but ASCII letters and digits as %XX.
std::string UrlEscape(std::string_view text);

// What a finished load does with its target.
enum class LoadKind : int { kLoadVars, kClipVariables, kXml, kStyleSheet };

// Queues a load of `url` for `target` (finished by FinishFileLoads at the next frame).
void QueueFileLoad(Vm& vm, Object* target, std::string url, LoadKind kind, bool post = false);

// Finishes the loads queued before: LoadVars and XML objects hear onData (the text, or undefined
// when the file cannot be read); a clip gets the variables and `fireClipEvent(clip, kData)`; a
// style sheet parses the text and hears onLoad with whether that worked.
void FinishFileLoads(Vm& vm, const std::function<void(Object*, ClipEvent)>& fireClipEvent);

// LoadVars, and XML.load through the same loads.
void InstallLoadVars(Vm& vm);

}  // namespace dbx::swf::avm1
