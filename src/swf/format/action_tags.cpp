#include "swf/format/action_tags.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "swf/format/filter_tags.h"
#include "swf/format/tags.h"

namespace dbx::swf {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::uint8_t> Take(BitReader& r, std::size_t n) {
  n = std::min(n, r.remaining());
  std::vector<std::uint8_t> out(r.cursor(), r.cursor() + n);
  r.Skip(n);
  return out;
}

// Button action lists end at the end of the tag; an action block ends with a zero byte, which is
// kept as part of the code.
std::vector<std::uint8_t> Rest(BitReader& r) {
  return Take(r, r.remaining());
}

}  // namespace

void AddRectangle(Shape& s, float x0, float y0, float x1, float y1, int fill) {
  const Vec2 c[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  for (int i = 0; i < 4; ++i) {
    ShapeEdge e;
    e.from = c[i];
    e.to = c[(i + 1) % 4];
    e.control = {(e.from.x + e.to.x) / 2, (e.from.y + e.to.y) / 2};
    e.fill1 = fill;
    s.edges.push_back(e);
  }
}

std::optional<std::size_t> Timeline::FindLabel(std::string_view label) const {
  for (std::size_t i = 0; i < frames.size(); ++i)
    for (const std::string& l : frames[i].labels)
      if (EqualsNoCase(l, label)) return i;
  return std::nullopt;
}

std::optional<std::uint16_t> Movie::FindExport(std::string_view name, int framesRun) const {
  auto run = [&](const std::string& n) {
    const auto f = exportFrames.find(n);
    return f == exportFrames.end() || static_cast<std::int64_t>(f->second) < framesRun;
  };
  if (auto it = exports.find(std::string(name)); it != exports.end())
    return run(it->first) ? std::optional(it->second) : std::nullopt;
  for (const auto& [n, id] : exports)
    if (EqualsNoCase(n, name) && run(n)) return id;
  return std::nullopt;
}

void ReadDoAction(BitReader& r, std::size_t size, Frame& frame) {
  FrameAction a;
  a.afterCommands = frame.commands.size();
  a.code = Take(r, size);
  if (!a.code.empty()) frame.actions.push_back(std::move(a));
}

void ReadDoInitAction(BitReader& r, std::size_t size, Frame& frame) {
  if (size < 2) return;
  InitAction a;
  a.sprite = r.U16();
  a.code = Take(r, size - 2);
  if (!r.failed()) frame.initActions.push_back(std::move(a));
}

void ReadFrameLabel(BitReader& r, Frame& frame) {
  std::string label = r.String();
  if (!r.failed()) frame.labels.push_back(std::move(label));
}

namespace {

// The list of characters and names of ExportAssets and ImportAssets: each name becomes a linkage
// name of the movie from `frame` on.
std::vector<std::pair<std::uint16_t, std::string>> ReadSymbols(BitReader& r, Movie& movie,
                                                               std::uint32_t frame) {
  std::vector<std::pair<std::uint16_t, std::string>> symbols;
  const int count = r.U16();
  for (int i = 0; i < count && !r.failed(); ++i) {
    const std::uint16_t id = r.U16();
    std::string name = r.String();
    if (r.failed()) break;
    movie.exportFrames.insert_or_assign(name, frame);
    movie.exports.insert_or_assign(name, id);
    symbols.emplace_back(id, std::move(name));
  }
  return symbols;
}

}  // namespace

void ReadExportAssets(BitReader& r, Movie& movie, std::uint32_t frame) {
  ReadSymbols(r, movie, frame);
}

void ReadImportAssets(BitReader& r, Movie& movie, std::uint32_t frame, bool two) {
  Movie::Import import;
  import.url = r.String();
  import.frame = frame;
  if (two) r.Skip(2);
  import.symbols = ReadSymbols(r, movie, frame);
  if (!import.url.empty()) movie.imports.push_back(std::move(import));
}

namespace {

// EncodedU32: 7 bits a byte, low bits first, at most 5 bytes.
std::uint32_t ReadEncodedU32(BitReader& r) {
  std::uint32_t v = 0;
  for (int i = 0; i < 5; ++i) {
    const std::uint8_t b = r.U8();
    v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
    if (!(b & 0x80)) break;
  }
  return v;
}

}  // namespace

void ReadSceneAndLabels(BitReader& r, Timeline& timeline,
                        std::vector<std::pair<std::size_t, std::string>>& labels) {
  const std::uint32_t scenes = ReadEncodedU32(r);
  std::vector<Scene> read;
  for (std::uint32_t i = 0; i < scenes && !r.failed(); ++i) {
    Scene s;
    s.offset = ReadEncodedU32(r);
    s.name = r.String();
    if (!r.failed()) read.push_back(std::move(s));
  }
  timeline.scenes = std::move(read);
  const std::uint32_t count = ReadEncodedU32(r);
  for (std::uint32_t i = 0; i < count && !r.failed(); ++i) {
    const std::uint32_t frame = ReadEncodedU32(r);
    std::string name = r.String();
    if (!r.failed()) labels.emplace_back(frame, std::move(name));
  }
}

void ReadClipActions(BitReader& r, std::uint8_t version, std::vector<ClipAction>& out) {
  const bool wide = version >= 6;
  r.U16();  // reserved
  // The union of the records' events: the player answers only the events named here too.
  const std::uint32_t all = wide ? r.U32() : r.U16();
  // Some writers cut the end marker short: what is left is too short for a record and ends the
  // list without spoiling the placement.
  while (!r.failed() && r.remaining() >= (wide ? 4u : 2u)) {
    const std::uint32_t flags = wide ? r.U32() : r.U16();
    if (flags == 0 || r.failed()) break;
    std::uint32_t size = r.U32();
    ClipAction a;
    a.events = flags & all;
    if (flags & static_cast<std::uint32_t>(ClipEvent::kKeyPress)) {
      a.keyCode = r.U8();
      if (size > 0) --size;
    }
    if (size > r.remaining()) size = static_cast<std::uint32_t>(r.remaining());
    a.code = Take(r, size);
    if (r.failed()) break;
    out.push_back(std::move(a));
  }
}

void ReadButton(BitReader& r, bool second, Movie& movie) {
  const std::uint16_t id = r.U16();
  Button button;
  std::size_t actionOffset = 0;
  const std::size_t start = r.pos();
  if (second) {
    button.trackAsMenu = r.U8() & 1;
    actionOffset = r.U16();
    if (actionOffset) actionOffset += r.pos() - 2 - start;
  }
  while (!r.failed() && r.remaining() > 0) {
    const std::uint8_t flags = r.U8();
    if (flags == 0) break;
    ButtonRecord rec;
    rec.states = flags & 0x0F;
    rec.character = r.U16();
    rec.depth = r.U16();
    rec.matrix = ReadMatrix(r);
    if (second) {
      rec.cxform = ReadCxform(r, true);
      if (flags & 0x10) rec.filters = ReadFilterList(r);
      if (flags & 0x20) rec.blendMode = r.U8();
    }
    if (r.failed()) break;
    button.records.push_back(rec);
  }
  if (!second) {
    if (!r.failed()) button.actions.push_back({0x08, Rest(r)});
  } else if (actionOffset) {
    BitReader all(r.data(), r.size());
    all.Skip(start + actionOffset);
    while (!all.failed() && all.remaining() >= 4) {
      const std::size_t here = all.pos();
      const std::uint16_t next = all.U16();
      const std::uint16_t conditions = all.U16();
      const std::size_t codeSize =
          next ? (next >= 4 ? next - 4u : 0u) : all.remaining();  // the last runs to the end
      ButtonAction a;
      a.conditions = conditions;
      a.code = Take(all, codeSize);
      if (all.failed()) break;
      button.actions.push_back(std::move(a));
      if (!next) break;
      if (all.pos() != here + next) {
        all = BitReader(r.data(), r.size());
        all.Skip(here + next);
      }
    }
  }
  movie.characters.insert_or_assign(id, std::move(button));
}

void ReadButtonCxform(BitReader& r, Movie& movie) {
  const std::uint16_t id = r.U16();
  const ColorTransform cx = ReadCxform(r, false);
  if (r.failed()) return;
  const auto it = movie.characters.find(id);
  if (it == movie.characters.end()) return;
  if (auto* button = std::get_if<Button>(&it->second))
    for (ButtonRecord& rec : button->records) rec.cxform = cx;
}

}  // namespace dbx::swf
