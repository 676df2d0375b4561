// NetStream and Video: a stream connected to nothing (NetConnection.connect(null)) plays an FLV
// file beside the movie, its time running with the movie's clock; the video objects it is attached
// to show its pictures. Its status goes to onStatus as the stream starts, fills its buffer, and
// ends; the file's script data (onMetaData, onCuePoint) goes to the handlers of those names.
// The file's sound plays when it is MP3, PCM or ADPCM and the movie has sound.
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "swf/avm1/builtins.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/runtime.h"
#include "swf/avm1/vm.h"
#include "swf/display/clip.h"
#include "swf/display/video_clip.h"
#include "swf/video/decoder.h"
#include "swf/video/flv.h"

namespace dbx::swf::avm1 {

namespace {

// The largest file a stream reads.
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

struct StreamState : NativeState {
  enum class Phase : std::uint8_t { kIdle, kOpening, kPlaying, kEnded } phase = Phase::kIdle;
  std::string url;
  std::string bytes;
  std::optional<video::FlvFile> file;
  std::size_t next = 0;  // the next tag to play
  double startMs = 0;    // the movie's time at which the stream's time 0 lies
  double positionMs = 0;
  bool paused = false;
  int codec = -1;
  std::unique_ptr<video::Decoder> decoder;
  std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
  std::uint32_t sound = 0;  // the file's sound, decoded (0: none)
  int voice = 0;            // where it plays (0: it does not)
  // Counts the calls that open, close or move the stream: a handler called on the way may make
  // them, and what was going on then stops.
  std::uint64_t generation = 0;
};

StreamState* StateOf(Object* o) {
  return o ? dynamic_cast<StreamState*>(o->native.get()) : nullptr;
}

void Status(Vm& vm, Object* stream, const char* level, const char* code) {
  if (vm.aborting()) return;
  Object* info = vm.NewObject();
  info->SetOwn("code", Value(std::string(code)));
  info->SetOwn("level", Value(std::string(level)));
  vm.CallMethod(Value(stream), "onStatus", {Value(info)});
  vm.DropUncaught();
}

Value ToScript(Vm& vm, const video::AmfValue& v) {
  using T = video::AmfValue::Type;
  switch (v.type) {
    case T::kNumber:
      return Value(v.number);
    case T::kBoolean:
      return Value(v.boolean);
    case T::kString:
      return Value(v.string);
    case T::kNull:
      return Value::Null();
    case T::kUndefined:
      return {};
    case T::kObject:
    case T::kArray: {
      Object* o = v.type == T::kArray ? static_cast<Object*>(vm.NewArray()) : vm.NewObject();
      for (std::size_t i = 0; i < v.names.size() && i < v.values.size(); ++i)
        vm.Set(o, v.names[i], ToScript(vm, v.values[i]));
      return Value(o);
    }
  }
  return {};
}

void Forget(Vm& vm, Object* stream) {
  std::erase(vm.netStreams, stream);
}

// The sound of the file: the data of its audio tags in the coding of the first, one block each.
// Each tag's first byte gives the coding, the rate (5512 Hz times a power of two), the sample
// size and the channels.
std::uint32_t SoundOf(Vm& vm, const StreamState& s) {
  if (!vm.sound) return 0;
  const auto* data = reinterpret_cast<const std::uint8_t*>(s.bytes.data());
  std::optional<std::uint8_t> head;
  std::vector<std::vector<std::uint8_t>> blocks;
  for (const video::FlvTag& tag : s.file->tags) {
    if (tag.kind != video::FlvTag::Kind::kAudio || tag.size <= 1) continue;
    const std::uint8_t h = data[tag.offset];
    if (!head) head = h;
    if ((h >> 4) != (*head >> 4)) continue;
    blocks.emplace_back(data + tag.offset + 1, data + tag.offset + tag.size);
  }
  if (!head) return 0;
  SoundFormat format;
  format.coding = static_cast<SoundCoding>(*head >> 4);
  static constexpr int kRates[4] = {5512, 11025, 22050, 44100};
  format.rate = kRates[(*head >> 2) & 3];
  format.sixteenBit = (*head & 2) != 0;
  format.stereo = (*head & 1) != 0;
  return vm.sound->LoadBlocks(format, blocks);
}

void Silence(Vm& vm, StreamState& s) {
  if (s.voice && vm.sound) vm.sound->Stop(s.voice);
  s.voice = 0;
}

// The sound from the stream's position on.
void Sound(Vm& vm, StreamState& s) {
  Silence(vm, s);
  if (s.sound && vm.sound) s.voice = vm.sound->Start(s.sound, s.positionMs, 1, SoundLevels{});
}

// Decodes a video tag of the stream's file into `picture` (the whole picture, when it decodes),
// with a decoder for the tag's codec.
bool DecodeTag(StreamState& s, const video::FlvTag& tag, Bitmap& picture) {
  if (tag.kind != video::FlvTag::Kind::kVideo || tag.size <= 1) return false;
  const auto* data = reinterpret_cast<const std::uint8_t*>(s.bytes.data()) + tag.offset;
  const int codec = data[0] & 0x0F;
  if (codec != s.codec) {
    s.codec = codec;
    s.decoder = video::MakeDecoder(codec);
  }
  return s.decoder && s.decoder->Decode(data + 1, tag.size - 1, picture);
}

// The video objects attached show `picture` from now on.
void Show(StreamState& s, Bitmap&& picture) {
  s.feed->picture = std::make_shared<Bitmap>(std::move(picture));
  ++s.feed->serial;
}

// Plays the tags up to the stream's position: pictures to the feed, script data to handlers.
void PlayTags(Vm& vm, Object* self, StreamState& s) {
  const auto& tags = s.file->tags;
  const auto* data = reinterpret_cast<const std::uint8_t*>(s.bytes.data());
  const std::uint64_t generation = s.generation;
  bool pictured = false;
  Bitmap picture;
  for (; s.next < tags.size() && tags[s.next].timeMs <= s.positionMs; ++s.next) {
    const video::FlvTag& tag = tags[s.next];
    if (tag.kind == video::FlvTag::Kind::kVideo) {
      pictured |= DecodeTag(s, tag, picture);
    } else if (tag.kind == video::FlvTag::Kind::kScript) {
      const auto script = video::ReadFlvScript(data + tag.offset, tag.size);
      if (!script || vm.aborting()) continue;
      vm.CallMethod(Value(self), script->name, {ToScript(vm, script->value)});
      vm.DropUncaught();
      if (s.generation != generation) return;
    }
  }
  if (pictured) Show(s, std::move(picture));
}

Value StreamConstruct(Vm&, CallArgs& a) {
  if (!a.self) return {};
  if (!StateOf(a.self)) a.self->native = std::make_unique<StreamState>();
  a.self->SetOwn("bufferTime", Value(0.1));
  return Value(a.self);
}

Value StreamCall(Vm& vm, CallArgs& a) {
  StreamConstruct(vm, a);
  return CalledFromSuper(vm, a) ? Value(a.self) : Value();
}

// Stops what the stream plays and lets its file go (the video objects keep their picture).
void Stop(Vm& vm, Object* self, StreamState& s) {
  Silence(vm, s);
  ++s.generation;
  s.phase = StreamState::Phase::kIdle;
  s.sound = 0;
  s.bytes.clear();
  s.file.reset();
  s.next = 0;
  s.positionMs = 0;
  Forget(vm, self);
}

// play(name): the file opens at the next frame. The video objects attached keep showing the
// picture they have until the new file gives one.
Value StreamPlay(Vm& vm, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  if (!s || a.size() == 0) return {};
  Stop(vm, a.self, *s);
  s->url = vm.ToString(a[0]);
  s->phase = StreamState::Phase::kOpening;
  s->paused = false;
  s->codec = -1;
  s->decoder.reset();
  vm.netStreams.push_back(a.self);
  return {};
}

// pause(): toggles; pause(true) pauses, pause(false) resumes.
Value StreamPause(Vm& vm, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  if (!s || s->phase != StreamState::Phase::kPlaying) return {};
  const bool pause = a.size() > 0 && !a[0].IsUndefined() ? vm.ToBool(a[0]) : !s->paused;
  if (pause == s->paused) return {};
  s->paused = pause;
  // (Resumed, the clock goes on from where it stopped: the next frame sets the start again.)
  if (!pause) s->startMs = std::nan("");
  if (pause)
    Silence(vm, *s);
  else
    Sound(vm, *s);
  Status(vm, a.self, "status", pause ? "NetStream.Pause.Notify" : "NetStream.Unpause.Notify");
  return {};
}

// seek(seconds): to the last key frame at or before that time, shown at once.
Value StreamSeek(Vm& vm, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  if (!s || !s->file || s->phase == StreamState::Phase::kIdle) return {};
  const double to = std::max(0.0, vm.ToNumber(a[0]) * 1000);
  if (!std::isfinite(to)) return {};
  ++s->generation;
  const auto& tags = s->file->tags;
  const auto* data = reinterpret_cast<const std::uint8_t*>(s->bytes.data());
  std::size_t from = 0;
  double keyTime = 0;
  for (std::size_t i = 0; i < tags.size() && tags[i].timeMs <= to; ++i)
    if (tags[i].kind == video::FlvTag::Kind::kVideo && tags[i].size > 0 &&
        (data[tags[i].offset] >> 4) == 1) {
      from = i;
      keyTime = tags[i].timeMs;
    }
  s->positionMs = keyTime;
  // Only the pictures: script data on the way is not played again.
  std::size_t end = from;
  while (end < tags.size() && tags[end].timeMs <= keyTime) ++end;
  bool pictured = false;
  Bitmap picture;
  for (std::size_t i = from; i < end; ++i) pictured |= DecodeTag(*s, tags[i], picture);
  if (pictured) Show(*s, std::move(picture));
  s->next = end;
  s->startMs = std::nan("");
  if (s->paused)
    Silence(vm, *s);
  else
    Sound(vm, *s);
  if (s->phase == StreamState::Phase::kEnded) {
    s->phase = StreamState::Phase::kPlaying;
    Forget(vm, a.self);
    vm.netStreams.push_back(a.self);
  }
  Status(vm, a.self, "status", "NetStream.Seek.Notify");
  return {};
}

// close(): the stream stops; the video objects keep the last picture.
Value StreamClose(Vm& vm, CallArgs& a) {
  if (StreamState* s = StateOf(a.self)) Stop(vm, a.self, *s);
  return {};
}

Value StreamSetBufferTime(Vm& vm, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  if (!s) return {};
  const double t = vm.ToNumber(a[0]);
  a.self->SetOwn("bufferTime", Value(std::isfinite(t) && t > 0 ? t : 0.0));
  return {};
}

Value StreamTime(Vm&, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  return s ? Value(s->positionMs / 1000) : Value();
}

Value StreamBytesLoaded(Vm&, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  return s ? Value(static_cast<double>(s->bytes.size())) : Value();
}

Value StreamBufferLength(Vm&, CallArgs& a) {
  StreamState* s = StateOf(a.self);
  if (!s || !s->file) return s ? Value(0.0) : Value();
  return Value(std::max(0.0, (s->file->durationMs - s->positionMs) / 1000));
}

// attachVideo(stream): the video object shows the stream's pictures; anything else (null) shows
// nothing.
Value VideoAttach(Vm&, CallArgs& a) {
  Clip* clip = ClipOf(a.self);
  if (!clip || clip->kind != ClipKind::kVideo) return {};
  StreamState* s = StateOf(a[0].AsObject());
  clip->videoFeed = s ? s->feed : std::make_shared<VideoFeed>();
  return {};
}

// clear(): the picture shown goes; the next one the stream gives shows again.
Value VideoClear(Vm&, CallArgs& a) {
  Clip* clip = ClipOf(a.self);
  if (!clip || clip->kind != ClipKind::kVideo || !clip->videoFeed) return {};
  clip->videoFeed->picture.reset();
  ++clip->videoFeed->serial;
  return {};
}

Value VideoWidth(Vm&, CallArgs& a) {
  const Clip* clip = ClipOf(a.self);
  const Bitmap* picture = clip ? VideoPicture(*clip) : nullptr;
  return Value(picture ? static_cast<double>(picture->width) : 0.0);
}

Value VideoHeight(Vm&, CallArgs& a) {
  const Clip* clip = ClipOf(a.self);
  const Bitmap* picture = clip ? VideoPicture(*clip) : nullptr;
  return Value(picture ? static_cast<double>(picture->height) : 0.0);
}

Value VideoGetSmoothing(Vm&, CallArgs& a) {
  const Clip* clip = ClipOf(a.self);
  return clip ? Value(VideoSmoothing(*clip)) : Value();
}

Value VideoSetSmoothing(Vm& vm, CallArgs& a) {
  if (Clip* clip = ClipOf(a.self)) clip->videoSmoothing = vm.ToBool(a[0]);
  return {};
}

Value VideoCall(Vm&, CallArgs&) {
  return {};
}

Value VideoConstruct(Vm&, CallArgs& a) {
  return a.self ? Value(a.self) : Value();
}

// Opens the file of a stream that started playing: the stream starts, or is not found.
void Open(Vm& vm, Object* self, StreamState& s, double nowMs) {
  auto bytes = ReadLocalFile(vm.movieDir, s.url, kMaxFileBytes);
  const auto* data = bytes ? reinterpret_cast<const std::uint8_t*>(bytes->data()) : nullptr;
  auto file = data ? video::ReadFlv(data, bytes->size()) : std::nullopt;
  if (!file) {
    s.phase = StreamState::Phase::kIdle;
    Forget(vm, self);
    Status(vm, self, "error", "NetStream.Play.StreamNotFound");
    return;
  }
  s.bytes = std::move(*bytes);
  s.file = std::move(file);
  s.phase = StreamState::Phase::kPlaying;
  s.startMs = nowMs;
  s.sound = SoundOf(vm, s);
  Sound(vm, s);
  const std::uint64_t generation = s.generation;
  Status(vm, self, "status", "NetStream.Play.Start");
  if (s.generation != generation) return;
  PlayTags(vm, self, s);
  if (s.generation != generation) return;
  Status(vm, self, "status", "NetStream.Buffer.Full");
}

}  // namespace

void InstallNetStream(Vm& vm) {
  Object* proto = vm.NewObject();
  MakeClass(vm, vm.global, "NetStream", StreamCall, StreamConstruct, proto);
  const std::pair<const char*, NativeFn> methods[] = {{"play", StreamPlay},
                                                      {"pause", StreamPause},
                                                      {"seek", StreamSeek},
                                                      {"close", StreamClose},
                                                      {"setBufferTime", StreamSetBufferTime}};
  for (const auto& [name, fn] : methods) vm.Method(proto, name, fn);
  const std::pair<const char*, NativeFn> getters[] = {{"time", StreamTime},
                                                      {"bytesLoaded", StreamBytesLoaded},
                                                      {"bytesTotal", StreamBytesLoaded},
                                                      {"bufferLength", StreamBufferLength}};
  for (const auto& [name, fn] : getters) Getter(vm, proto, name, fn, prop::kDontEnum);

  Object* video = vm.NewObject();
  MakeClass(vm, vm.global, "Video", VideoCall, VideoConstruct, video);
  vm.Method(video, "attachVideo", VideoAttach);
  vm.Method(video, "clear", VideoClear);
  Getter(vm, video, "width", VideoWidth, prop::kDontEnum);
  Getter(vm, video, "height", VideoHeight, prop::kDontEnum);
  Property& smoothing = video->props().Add("smoothing");
  smoothing.getter = vm.NewNative(VideoGetSmoothing);
  smoothing.setter = vm.NewNative(VideoSetSmoothing);
  smoothing.flags = prop::kDontEnum;
}

void AdvanceNetStreams(Vm& vm, double nowMs) {
  const std::vector<Object*> streams = vm.netStreams;
  for (Object* self : streams) {
    if (vm.aborting()) return;
    StreamState* s = StateOf(self);
    if (!s) {
      Forget(vm, self);
      continue;
    }
    if (s->phase == StreamState::Phase::kOpening) {
      Open(vm, self, *s, nowMs);
      continue;
    }
    if (s->phase != StreamState::Phase::kPlaying || !s->file) continue;
    if (s->paused) continue;
    if (std::isnan(s->startMs)) s->startMs = nowMs - s->positionMs;
    s->positionMs = std::max(s->positionMs, nowMs - s->startMs);
    const std::uint64_t generation = s->generation;
    PlayTags(vm, self, *s);
    if (s->generation != generation || !s->file) continue;
    if (s->next < s->file->tags.size() || s->positionMs < s->file->durationMs) continue;
    s->positionMs = s->file->durationMs;
    s->phase = StreamState::Phase::kEnded;
    Forget(vm, self);
    Status(vm, self, "status", "NetStream.Buffer.Flush");
    Status(vm, self, "status", "NetStream.Play.Stop");
    Status(vm, self, "status", "NetStream.Buffer.Empty");
  }
}

}  // namespace dbx::swf::avm1
