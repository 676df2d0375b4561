// Video objects on the stage: a timeline's own stream shown frame by frame as its ratio moves
// (on and back), and a NetStream playing an FLV file beside the movie into a video object, with
// its status, its script data and its end.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "avm1_asm.h"
#include "core/surface.h"
#include "swf/avm1/runtime.h"
#include "swf/display/stage.h"
#include "swf/format/movie.h"
#include "swf/render/renderer.h"
#include "test_support.h"

namespace dbx::swf::avm1 {
namespace {

using test::Asm;
using test::Null;

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// A screen video frame of 32 x 16 pixels in two blocks of 16 x 16, left and right: each block
// one colour, or unchanged (nothing).
std::vector<std::uint8_t> ScreenFrame(std::optional<std::uint32_t> left,
                                      std::optional<std::uint32_t> right) {
  std::vector<std::uint8_t> out = {0x00, 32, 0x00, 16};  // block code 0 (16), 32; code 0, 16
  for (const auto& colour : {left, right}) {
    if (!colour) {
      out.push_back(0);
      out.push_back(0);
      continue;
    }
    std::vector<std::uint8_t> bgr;
    for (int i = 0; i < 16 * 16; ++i) {
      bgr.push_back(static_cast<std::uint8_t>(*colour));
      bgr.push_back(static_cast<std::uint8_t>(*colour >> 8));
      bgr.push_back(static_cast<std::uint8_t>(*colour >> 16));
    }
    uLongf size = compressBound(static_cast<uLong>(bgr.size()));
    std::vector<std::uint8_t> packed(size);
    compress2(packed.data(), &size, bgr.data(), static_cast<uLong>(bgr.size()), 9);
    out.push_back(static_cast<std::uint8_t>(size >> 8));
    out.push_back(static_cast<std::uint8_t>(size));
    out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
  }
  return out;
}

// DefineVideoStream `id` of screen video, shown at 64 x 32 (twice its frames' size).
std::vector<std::uint8_t> StreamDefinition(std::uint16_t id, std::uint16_t frames,
                                           std::uint8_t flags = 0) {
  swftest::BitWriter w;
  w.U16(id);
  w.U16(frames);
  w.U16(64);
  w.U16(32);
  w.U8(flags);
  w.U8(3);
  return w.Take();
}

std::vector<std::uint8_t> VideoFrame(std::uint16_t id, std::uint16_t number,
                                     const std::vector<std::uint8_t>& data) {
  swftest::BitWriter w;
  w.U16(id);
  w.U16(number);
  w.Bytes(data);
  return w.Take();
}

// The colours at the middle of the left and right halves of a 64 x 32 picture of the stage.
std::pair<std::uint32_t, std::uint32_t> Halves(const Movie& movie, const Stage& stage) {
  Renderer renderer(movie);
  Surface s(64, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) s.At(x, y) = 0xFFFFFF;
  Matrix view;
  view.a = view.d = 1.0 / 20;
  renderer.Render(stage, s.View(), view, RenderOptions{1});
  return {s.At(16, 16) & 0xFFFFFF, s.At(48, 16) & 0xFFFFFF};
}

TEST(VideoStage, ATimelinesStreamShowsTheFrameItsRatioNamesGoingOnAndBack) {
  // Frame 0 red | red (all blocks: a key frame); 1 changes the left block to green; 2 blue | blue.
  // The timeline shows ratios 0, 1, 2, then 1 again: back from 2, frame 1 is decoded again from
  // frame 0.
  swftest::SwfWriter w(64, 32);
  w.Background(255, 255, 255);
  w.Tag(60, StreamDefinition(1, 3));
  w.Tag(61, VideoFrame(1, 0, ScreenFrame(kRed, kRed)));
  w.Tag(61, VideoFrame(1, 1, ScreenFrame(kGreen, std::nullopt)));
  w.Tag(61, VideoFrame(1, 2, ScreenFrame(kBlue, kBlue)));
  swftest::SwfWriter::Place2Args place;
  place.character = 1;
  place.ratio = 0;
  w.Place2(place);
  w.ShowFrame();
  for (std::uint16_t ratio : {1, 2, 1}) {
    swftest::SwfWriter::Place2Args move;
    move.move = true;
    move.ratio = ratio;
    w.Place2(move);
    w.ShowFrame();
  }
  const auto bytes = w.Finish('F', 4);
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  const std::pair<std::uint32_t, std::uint32_t> expected[] = {
      {kRed, kRed}, {kGreen, kRed}, {kBlue, kBlue}, {kGreen, kRed}};
  for (int frame = 0; frame < 4; ++frame) {
    stage.Step(frame * 41.0);
    const auto [left, right] = Halves(*movie, stage);
    EXPECT_EQ(left, expected[frame].first) << std::hex << "frame " << frame;
    EXPECT_EQ(right, expected[frame].second) << std::hex << "frame " << frame;
  }
}

struct Folder : swftest::TempFolder {
  Folder() : swftest::TempFolder("dbx-video") {}
  std::string dir() const { return Dir(); }
};

// An FLV file of the tags given as (kind, time, data).
std::vector<std::uint8_t> Flv(
    const std::vector<std::tuple<std::uint8_t, std::uint32_t, std::vector<std::uint8_t>>>& tags) {
  std::vector<std::uint8_t> out = {'F', 'L', 'V', 1, 1, 0, 0, 0, 9, 0, 0, 0, 0};
  auto be = [&](std::uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const auto& [kind, time, data] : tags) {
    out.push_back(kind);
    be(static_cast<std::uint32_t>(data.size()), 3);
    be(time, 3);
    out.push_back(0);
    be(0, 3);
    out.insert(out.end(), data.begin(), data.end());
    be(static_cast<std::uint32_t>(11 + data.size()), 4);
  }
  return out;
}

// onMetaData { duration: 0.2, width: 32 } as AMF0.
std::vector<std::uint8_t> MetaData() {
  std::vector<std::uint8_t> out = {2, 0, 10};
  for (char c : std::string("onMetaData")) out.push_back(static_cast<std::uint8_t>(c));
  for (std::uint8_t b : {8, 0, 0, 0, 2}) out.push_back(b);
  auto number = [&](const std::string& name, double v) {
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(name.size()));
    for (char c : name) out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(0);
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  };
  number("duration", 0.2);
  number("width", 32);
  for (std::uint8_t b : {0, 0, 9}) out.push_back(b);
  return out;
}

std::vector<std::uint8_t> VideoTag(bool key, const std::vector<std::uint8_t>& frame) {
  std::vector<std::uint8_t> out = frame;
  out.insert(out.begin(), static_cast<std::uint8_t>((key ? 0x10 : 0x20) | 3));
  return out;
}

// A file of script data (onMetaData), then red | red at 0 s and the left block green at 0.1 s.
std::vector<std::uint8_t> RedThenGreenLeft() {
  return Flv({{18, 0, MetaData()},
              {9, 0, VideoTag(true, ScreenFrame(kRed, kRed))},
              {9, 100, VideoTag(false, ScreenFrame(kGreen, std::nullopt))}});
}

// s.onStatus = function(i) { trace(i.level + " " + i.code); }
void TraceStatus(Asm& a, const std::string& stream) {
  a.Get(stream).Push({"onStatus"});
  a.Function("", {"i"}, [](Asm& f) {
    f.Get("i").Push({"level"}).Op(0x4E).Push({" "}).Op(0x47);
    f.Get("i").Push({"code"}).Op(0x4E).Op(0x47).Trace();
  });
  a.Op(0x4F);
}

// n = new NetConnection(); n.connect(null); s = new NetStream(n)
void OpenStream(Asm& a) {
  a.Push({"n", 0, "NetConnection"}).Op(0x40).Op(0x1D);
  a.Push({Null{}, 1}).Get("n").Push({"connect"}).Op(0x52).Op(0x17);
  a.Push({"s"}).Get("n").Push({1, "NetStream"}).Op(0x40).Op(0x1D);
}

// What a movie with a video object "v" traced and showed, frame by frame.
struct Played {
  std::vector<std::string> lines;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pictures;
};

// Plays a movie of 10 frames a second, of as many frames as `scripts` has, whose first frame
// places a video object "v" (at 64 x 32) and whose frames run the scripts given (null: none), as
// test.swf in `folder`. `afterFrame` is called after each frame; `flags` are the stream's.
Played PlayWithVideo(const Folder& folder, const std::vector<Asm*>& scripts,
                     ScriptSound* sound = nullptr,
                     const std::function<void()>& afterFrame = nullptr, std::uint8_t flags = 0) {
  swftest::SwfWriter w(64, 32, 10);
  w.SetVersion(8);
  w.Tag(60, StreamDefinition(1, 0, flags));
  swftest::SwfWriter::Place2Args place;
  place.character = 1;
  place.name = "v";
  w.Place2(place);
  for (Asm* script : scripts) {
    if (script) w.DoAction(script->Build()->bytes);
    w.ShowFrame();
  }
  const auto bytes = w.Finish('F', static_cast<std::uint16_t>(scripts.size()));
  Played played;
  auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  EXPECT_TRUE(movie);
  if (!movie) return played;
  Stage stage(*movie);
  ScriptHost host{*movie, stage, [&](std::string_view s) { played.lines.emplace_back(s); },
                  folder.dir() + "test.swf"};
  host.sound = sound;
  Runtime runtime(host);
  stage.SetScripts(&runtime);
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    stage.Step(static_cast<double>(i) * 100);
    played.pictures.push_back(Halves(*movie, stage));
    if (afterFrame) afterFrame();
  }
  return played;
}

TEST(VideoStage, ANetStreamPlaysAFileIntoAVideoObjectAndSaysSo) {
  Folder folder;
  folder.Write("clip.flv", RedThenGreenLeft());
  Asm a;
  OpenStream(a);
  a.Push({"missing"}).Get("n").Push({1, "NetStream"}).Op(0x40).Op(0x1D);
  TraceStatus(a, "s");
  TraceStatus(a, "missing");
  a.Get("s").Push({"onMetaData"});
  a.Function("", {"m"}, [](Asm& f) {
    f.Push({"duration "}).Get("m").Push({"duration"}).Op(0x4E).Op(0x47).Trace();
  });
  a.Op(0x4F);
  a.Get("s").Push({1}).Get("v").Push({"attachVideo"}).Op(0x52).Op(0x17);
  a.Push({"clip.flv", 1}).Get("s").Push({"play"}).Op(0x52).Op(0x17);
  a.Push({"none.flv", 1}).Get("missing").Push({"play"}).Op(0x52).Op(0x17);
  Asm last;
  last.Push({"time "}).Get("s").Push({"time"}).Op(0x4E).Op(0x47);
  last.Push({" width "}).Op(0x47).Get("v").Push({"width"}).Op(0x4E).Op(0x47).Trace();
  last.Op(0x07);  // stop
  const Played played = PlayWithVideo(folder, {&a, nullptr, nullptr, nullptr, &last});
  const std::vector<std::string> expected = {
      "status NetStream.Play.Start",   "duration 0.2",
      "status NetStream.Buffer.Full",  "error NetStream.Play.StreamNotFound",
      "status NetStream.Buffer.Flush", "status NetStream.Play.Stop",
      "status NetStream.Buffer.Empty", "time 0.1 width 32"};
  EXPECT_EQ(played.lines, expected);
  // Nothing before the file opens; its first picture; then the left block changed (at 0.1 s).
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> shown = {
      {0xFFFFFF, 0xFFFFFF}, {kRed, kRed}, {kGreen, kRed}, {kGreen, kRed}, {kGreen, kRed}};
  EXPECT_EQ(played.pictures, shown);
}

// A video object smooths its picture as its stream's flag says, until a script sets smoothing.
TEST(VideoStage, SmoothingIsTheStreamsFlagUntilAScriptSetsIt) {
  Folder folder;
  for (std::uint8_t flags : {0, 1}) {
    Asm a;
    a.Get("v").Push({"smoothing"}).Op(0x4E).Trace();
    a.Get("v").Push({"smoothing"}).Push({flags == 0}).Op(0x4F);
    a.Get("v").Push({"smoothing"}).Op(0x4E).Trace();
    const Played played = PlayWithVideo(folder, {&a}, nullptr, nullptr, flags);
    const std::vector<std::string> expected = {flags ? "true" : "false", flags ? "false" : "true"};
    EXPECT_EQ(played.lines, expected) << "flags " << int{flags};
  }
}

// A handler that closes the stream while its file is being played stops it there: what the
// file holds after the script data is not shown, and the stream says nothing more.
TEST(VideoStage, AHandlerThatClosesItsStreamStopsItThere) {
  Folder folder;
  folder.Write("clip.flv", RedThenGreenLeft());
  Asm a;
  OpenStream(a);
  TraceStatus(a, "s");
  a.Get("s").Push({"onMetaData"});
  a.Function("", {"m"}, [](Asm& f) {
    f.Push({"closing"}).Trace();
    f.Push({0}).Get("s").Push({"close"}).Op(0x52).Op(0x17);
  });
  a.Op(0x4F);
  a.Get("s").Push({1}).Get("v").Push({"attachVideo"}).Op(0x52).Op(0x17);
  a.Push({"clip.flv", 1}).Get("s").Push({"play"}).Op(0x52).Op(0x17);
  const Played played = PlayWithVideo(folder, {&a, nullptr, nullptr});
  EXPECT_EQ(played.lines, (std::vector<std::string>{"status NetStream.Play.Start", "closing"}));
  EXPECT_EQ(played.pictures.back(), std::make_pair(0xFFFFFFu, 0xFFFFFFu));
}

// Records what the stream asks of the movie's sound.
class RecordedSounds final : public ScriptSound {
 public:
  std::uint32_t LoadFile(const std::string&) override { return 0; }
  std::uint32_t LoadBlocks(const SoundFormat& f,
                           const std::vector<std::vector<std::uint8_t>>& blocks) override {
    format = f;
    loaded = blocks;
    return 7;
  }
  std::uint32_t Handle(const Movie&, std::uint16_t id) override { return id; }
  double DurationMs(std::uint32_t) override { return -1; }
  int Start(std::uint32_t sound, double offsetMs, int, const SoundLevels&) override {
    calls.push_back("start " + std::to_string(sound) + " at " +
                    std::to_string(std::lround(offsetMs)));
    return ++voices;
  }
  void Stop(int voice) override { calls.push_back("stop " + std::to_string(voice)); }
  void StopAll() override {}
  bool Playing(int) const override { return true; }
  double PositionMs(int) const override { return 0; }
  void SetLevels(int, const SoundLevels&) override {}
  void SetMasterLevels(const SoundLevels&) override {}
  SoundFormat format;
  std::vector<std::vector<std::uint8_t>> loaded;
  std::vector<std::string> calls;
  int voices = 0;
};

// The file's audio tags in the coding of the first play as one sound from where the stream is: at
// the start, again after a pause, and from the key frame a seek goes to; tags in other codings are
// left out.
TEST(VideoStage, AStreamsSoundGoesWithItsPictures) {
  Folder folder;
  const std::vector<std::uint8_t> mp3a = {0x2E, 1, 2, 3}, mp3b = {0x2E, 4, 5}, pcm = {0x3E, 9, 9};
  folder.Write("clip.flv", Flv({{9, 0, VideoTag(true, ScreenFrame(kRed, kRed))},
                                {8, 0, mp3a},
                                {8, 10, pcm},
                                {8, 300, mp3b},
                                {9, 300, VideoTag(true, ScreenFrame(kBlue, kBlue))},
                                {9, 900, VideoTag(false, ScreenFrame(kGreen, std::nullopt))}}));
  Asm a;
  OpenStream(a);
  a.Push({"clip.flv", 1}).Get("s").Push({"play"}).Op(0x52).Op(0x17);
  auto call = [](Asm& f, const char* method, std::optional<double> arg) {
    if (arg) f.Push({*arg});
    f.Push({arg ? 1 : 0}).Get("s").Push({method}).Op(0x52).Op(0x17);
  };
  Asm pause, resume, seek;
  call(pause, "pause", std::nullopt);  // toggles: pauses
  call(resume, "pause", 0.0);          // pause(false): resumes
  call(seek, "seek", 0.5);             // to the key frame at 0.3 s
  RecordedSounds sounds;
  std::vector<std::string> steps;
  PlayWithVideo(folder, {&a, nullptr, &pause, nullptr, &resume, &seek}, &sounds, [&] {
    std::string step;
    for (const std::string& c : sounds.calls) step += (step.empty() ? "" : ", ") + c;
    steps.push_back(step);
    sounds.calls.clear();
  });
  EXPECT_EQ(sounds.loaded, (std::vector<std::vector<std::uint8_t>>{{1, 2, 3}, {4, 5}}));
  EXPECT_EQ(sounds.format.coding, SoundCoding::kMp3);
  EXPECT_EQ(sounds.format.rate, 44100);
  // Opened at 100 ms; paused at 200 ms (0.1 s in); resumed at 400 ms; sought at 500 ms.
  EXPECT_EQ(steps, (std::vector<std::string>{"", "start 7 at 0", "stop 1", "", "start 7 at 100",
                                             "stop 2, start 7 at 300"}));

  // A file whose sound is ADPCM (stereo at 11025 Hz, 16-bit) or PCM (mono at 5512 Hz, 8-bit).
  for (const auto& [head, coding, rate, stereo] :
       {std::tuple{std::uint8_t{0x17}, SoundCoding::kAdpcm, 11025, true},
        {std::uint8_t{0x30}, SoundCoding::kPcmLittle, 5512, false}}) {
    folder.Write("coded.flv", Flv({{8, 0, {head, 1, 2}},
                                   {8, 100, mp3a},
                                   {8, 100, {static_cast<std::uint8_t>(head | 0x0C), 3}}}));
    Asm open;
    OpenStream(open);
    open.Push({"coded.flv", 1}).Get("s").Push({"play"}).Op(0x52).Op(0x17);
    RecordedSounds coded;
    PlayWithVideo(folder, {&open, nullptr}, &coded);
    EXPECT_EQ(coded.loaded, (std::vector<std::vector<std::uint8_t>>{{1, 2}, {3}}));
    EXPECT_EQ(coded.format.coding, coding);
    EXPECT_EQ(coded.format.rate, rate);
    EXPECT_EQ(coded.format.stereo, stereo);
    EXPECT_EQ(coded.format.sixteenBit, stereo);
  }
}

}  // namespace
}  // namespace dbx::swf::avm1
