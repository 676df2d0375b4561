// A frame of text at 1920 x 1080, quality "High": 2,000 glyphs of static text in an embedded font
// and a 500-character field in an installed face whose text changes every frame (laid out again
// each time). Compare with BM_Memcpy1080p of the same run.
#include <benchmark/benchmark.h>

#include <string>

#include "core/surface.h"
#include "platform/fonts_ft/freetype_fonts.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "swf/render/renderer.h"
#include "swf/text/text_field.h"
#include "text_fixtures.h"

namespace {

using namespace dbx::swftest::text_fixtures;

void BM_TextFrame1080p(benchmark::State& state) {
  // 40 lines of 50 glyphs at 20 px over a 960 x 540 stage shown at twice its size.
  dbx::swftest::SwfWriter m(960, 540);
  m.Background(255, 255, 255);
  m.Tag(kDefineFont2, FontTag(1, "Boxes", false));
  std::vector<GlyphRun> runs;
  for (int line = 0; line < 40; ++line) {
    GlyphRun r{1, 260, 0x203040FF, 100, static_cast<std::int16_t>(300 + line * 260), {}};
    for (int i = 0; i < 50; ++i) r.glyphs.push_back({i % 2, 240});
    runs.push_back(r);
  }
  m.Tag(kDefineText2, TextTag(2, runs));
  EditSpec e;
  e.w = 8000;
  e.h = 4000;
  e.wordWrap = e.multiline = true;
  e.outlines = false;
  e.font = 3;
  e.height = 320;
  m.Tag(kDefineEditText, EditTag(3, e));
  m.Place(2, 1);
  m.ShowFrame();
  m.End();
  const auto bytes = m.Finish();
  auto movie = dbx::swf::ParseMovie(bytes.data(), bytes.size(), nullptr);
  const auto fonts = dbx::CreateFreeTypeFonts();
  if (!movie || !fonts) {
    state.SkipWithError("no movie or no installed fonts");
    return;
  }
  dbx::swf::text::FontLibrary library(*movie, fonts.get());
  dbx::swf::Stage stage(*movie);
  stage.Step();
  dbx::swf::Renderer renderer(*movie);
  renderer.SetFonts(&library);
  dbx::swf::text::TextField field(std::get<dbx::swf::EditText>(movie->characters.at(3)),
                                  movie->version, library);
  field.SetNewFormat(
      [] {
        dbx::swf::text::CharFormat f;
        f.font = "_sans";
        f.size = 320;
        return f;
      }(),
      {});
  dbx::Surface target(1920, 1080);
  dbx::swf::Matrix view;
  view.a = view.d = 2.0 / 20;
  std::string text(500, ' ');
  int frame = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < text.size(); ++i)
      text[i] =
          i % 7 == 6 ? ' ' : static_cast<char>('a' + (i + static_cast<std::size_t>(frame)) % 26);
    field.SetText(text);
    renderer.Render(stage, target.View(), view, {4});
    dbx::swf::Matrix at = view;
    at.tx = 40;
    at.ty = 600;
    renderer.DrawTextField(field, at, {});
    benchmark::DoNotOptimize(target.data());
    ++frame;
  }
}
BENCHMARK(BM_TextFrame1080p)->Unit(benchmark::kMillisecond);

}  // namespace
