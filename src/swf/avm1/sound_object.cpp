// The Sound object: sounds a script attaches by linkage name or loads from a file beside the
// movie, started and stopped by the script, with the volume and channel levels of the clip the
// object was made for (or of the whole movie, for an object made without a clip).
//
// An object names its clip by path, as every clip reference does: it follows the clip through
// whatever answers to that path now, and does nothing while nothing does.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "swf/avm1/builtins.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/vm.h"

namespace dbx::swf::avm1 {

namespace {

// What makes an object a sound.
struct SoundState : NativeState {
  explicit SoundState(Object* o) : self(o) {}
  Object* self;             // the object it is kept on (which owns its voices)
  bool global = true;       // made without a clip: the levels are the movie's
  std::string targetPath;   // the clip's path, when not global
  std::uint32_t sound = 0;  // the attached or loaded sound (0: none)
};

SoundState* StateOf(Object* o) {
  return o ? dynamic_cast<SoundState*>(o->native.get()) : nullptr;
}

// An object made by `new Sound`: it answers duration and position.
class SoundObject : public Object {
 public:
  SoundObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kOther) {}
  bool GetSpecial(Vm& vm, std::string_view name, Value& out) override;
};

SoundState* ThisSound(CallArgs& a) {
  return StateOf(a.self);
}

// The clip of an object made for one, as it is now; null when it is not there. Its path names the
// clip from the timeline of the script calling now (a clip given to the constructor gave its
// full path).
ClipObject* ClipOf(Vm& vm, const SoundState& s) {
  if (s.global) return nullptr;
  Object* from = vm.root;
  if (!vm.activations().empty()) {
    Activation& act = *vm.activations().back();
    from = vm.LiveTarget(act) ? act.target : act.baseClip;
  }
  Object* o = from ? vm.ResolveTarget(from, s.targetPath) : nullptr;
  if (!o || o->cls() != ObjClass::kClip) return nullptr;
  auto* clip = static_cast<ClipObject*>(o);
  return clip->Alive() ? clip : nullptr;
}

// The levels the object governs now; null when its clip is not there.
SoundLevels* LevelsOf(Vm& vm, SoundState& s) {
  if (s.global) return &vm.masterSoundLevels;
  ClipObject* clip = ClipOf(vm, s);
  return clip ? &clip->soundLevels : nullptr;
}

// Pushes changed levels to the sounds they govern.
void Apply(Vm& vm, SoundState& s, const SoundLevels& levels) {
  if (!vm.sound) return;
  if (s.global) {
    vm.sound->SetMasterLevels(levels);
    return;
  }
  for (const auto& v : vm.soundVoices) {
    const SoundState* owner = StateOf(v.owner);
    if (owner && !owner->global && owner->targetPath == s.targetPath)
      vm.sound->SetLevels(v.voice, levels);
  }
}

double DurationOf(Vm& vm, const SoundState& s) {
  if (!s.sound || !vm.sound) return -1;
  return vm.sound->DurationMs(s.sound);
}

double PositionOf(Vm& vm, const SoundState& s) {
  if (!vm.sound) return 0;
  for (auto it = vm.soundVoices.rbegin(); it != vm.soundVoices.rend(); ++it)
    if (it->owner == s.self && vm.sound->Playing(it->voice)) return vm.sound->PositionMs(it->voice);
  return 0;
}

bool SoundObject::GetSpecial(Vm& vm, std::string_view name, Value& out) {
  // duration and position exist from SWF 6, once a sound is attached.
  const SoundState* s = StateOf(this);
  if (vm.version() < 6 || !s || s->sound == 0) return false;
  if (name == "duration") {
    const double d = DurationOf(vm, *s);
    out = d >= 0 ? Value(std::round(d)) : Value();
    return true;
  }
  if (name == "position") {
    out = Value(std::round(PositionOf(vm, *s)));
    return true;
  }
  return false;
}

// Makes `o` a sound, of the clip the arguments name or of the whole movie.
void MakeSound(Vm& vm, CallArgs& a, Object* o) {
  auto state = std::make_unique<SoundState>(o);
  if (a.size() > 0 && !a[0].IsUndefined()) {
    state->global = false;
    // A clip converts to its path; any other value by its toString (called once, here).
    state->targetPath = vm.ToString(a[0]);
  }
  o->native = std::move(state);
}

Value SoundConstruct(Vm& vm, CallArgs& a) {
  Object* proto = a.callee ? vm.Get(a.callee, "prototype").AsObject() : nullptr;
  Object* o = vm.heap().Make<SoundObject>(proto ? proto : vm.objectProto);
  MakeSound(vm, a, o);
  return Value(o);
}

// Called on an object (the constructor of a class extending Sound calls it on its instance), it
// makes that object a sound, once; super(...) gets the instance back.
Value SoundCall(Vm& vm, CallArgs& a) {
  if (a.self && !StateOf(a.self)) MakeSound(vm, a, a.self);
  return CalledFromSuper(vm, a) ? Value(a.self) : Value();
}

Value SoundGetVolume(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  const SoundLevels* l = s ? LevelsOf(vm, *s) : nullptr;
  return l ? Value(l->volume) : Value();
}

Value SoundSetVolume(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  SoundLevels* l = s ? LevelsOf(vm, *s) : nullptr;
  if (!l) return {};
  const double v = vm.ToNumber(a[0]);
  l->volume = std::isfinite(v) ? std::trunc(v) : 0;
  Apply(vm, *s, *l);
  return {};
}

Value SoundGetPan(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  const SoundLevels* l = s ? LevelsOf(vm, *s) : nullptr;
  if (!l) return {};
  // Reads back what setPan wrote: a left channel below full is a pan to the right.
  return Value(l->ll < 100 ? 100 - l->ll : l->rr - 100);
}

Value SoundSetPan(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  SoundLevels* l = s ? LevelsOf(vm, *s) : nullptr;
  if (!l) return {};
  double pan = vm.ToNumber(a[0]);
  pan = std::isfinite(pan) ? std::trunc(pan) : 0;
  l->lr = l->rl = 0;
  l->ll = pan > 0 ? 100 - pan : 100;
  l->rr = pan < 0 ? 100 + pan : 100;
  Apply(vm, *s, *l);
  return {};
}

Value SoundGetTransform(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  const SoundLevels* l = s ? LevelsOf(vm, *s) : nullptr;
  if (!l) return {};
  Object* t = vm.NewObject();
  t->SetOwn("ll", Value(l->ll));
  t->SetOwn("lr", Value(l->lr));
  t->SetOwn("rr", Value(l->rr));
  t->SetOwn("rl", Value(l->rl));
  return Value(t);
}

Value SoundSetTransform(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  SoundLevels* l = s ? LevelsOf(vm, *s) : nullptr;
  Object* t = a[0].AsObject();
  if (!l || !t) return {};
  // Fields the object leaves out keep their values.
  auto take = [&](const char* name, double& field) {
    if (!vm.Has(t, name)) return;
    const double v = vm.ToNumber(vm.Get(t, name));
    field = std::isfinite(v) ? std::trunc(v) : 0;
  };
  take("ll", l->ll);
  take("lr", l->lr);
  take("rr", l->rr);
  take("rl", l->rl);
  Apply(vm, *s, *l);
  return {};
}

// The movie whose exported sounds the object finds: its clip's (a movie loaded into a clip finds
// its own sounds through a Sound object made for one of its clips), else the main movie's.
const Movie* LibraryOf(Vm& vm, const SoundState& s) {
  if (const ClipObject* clip = ClipOf(vm, s))
    if (const Movie* movie = clip->OwnMovie()) return movie;
  return vm.movie;
}

// The handle of the sound exported as `name` from the object's movie; nothing when there is none.
std::optional<std::uint32_t> ExportedSound(Vm& vm, SoundState& s, const Value& name) {
  const Movie* movie = LibraryOf(vm, s);
  if (!movie) return std::nullopt;
  const auto id = movie->FindExport(vm.ToString(name));
  if (!id || !movie->sounds.count(*id)) return std::nullopt;
  return vm.sound ? vm.sound->Handle(*movie, *id) : *id;
}

Value SoundAttach(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  if (!s || a.size() == 0) return Value(false);
  const auto handle = ExportedSound(vm, *s, a[0]);
  if (!handle) return Value(false);
  s->sound = *handle;
  return Value(true);
}

Value SoundStart(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  if (!s || !s->sound || !vm.sound) return {};
  double offset = ArgNumber(vm, a, 0, 0);
  double loops = ArgNumber(vm, a, 1, 1);
  if (!std::isfinite(offset) || offset < 0) offset = 0;
  if (!std::isfinite(loops) || loops < 1) loops = 1;
  const SoundLevels* l = LevelsOf(vm, *s);
  // A global object's levels apply to everything already; its sounds start at full level.
  const SoundLevels levels = (l && !s->global) ? *l : SoundLevels{};
  const int voice =
      vm.sound->Start(s->sound, offset * 1000, static_cast<int>(std::min(loops, 65535.0)), levels);
  if (voice == 0) return {};
  vm.soundVoices.push_back({voice, s->self});
  return {};
}

// Stops the object's voices, or, given a linkage name, the voices of that sound.
Value SoundStop(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  if (!s || !vm.sound) return {};
  std::uint32_t only = 0;
  if (a.size() > 0 && !a[0].IsUndefined()) {
    const auto handle = ExportedSound(vm, *s, a[0]);
    if (!handle) return {};
    only = *handle;
  }
  auto& voices = vm.soundVoices;
  for (auto it = voices.begin(); it != voices.end();) {
    const SoundState* owner = StateOf(it->owner);
    const bool mine =
        owner && (s->global || (!owner->global && owner->targetPath == s->targetPath));
    if (mine && (only == 0 || owner->sound == only)) {
      vm.sound->Stop(it->voice);
      it = voices.erase(it);
    } else {
      ++it;
    }
  }
  return {};
}

// The ID3 text at the start of a file beside the movie (a tag of pictures larger than this is
// not read).
constexpr std::size_t kMaxId3Bytes = 16u << 20;
std::vector<Id3Frame> Id3Of(Vm& vm, const std::string& url) {
  const auto path = LocalPath(vm.movieDir, url);
  if (!path) return {};
  std::ifstream in(*path, std::ios::binary);
  std::uint8_t header[10];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return {};
  const std::size_t size = Id3Size(header, sizeof header);
  if (size == 0 || size > kMaxId3Bytes) return {};
  std::vector<std::uint8_t> tag(header, header + sizeof header);
  tag.resize(size);
  in.read(reinterpret_cast<char*>(tag.data() + sizeof header),
          static_cast<std::streamsize>(size - sizeof header));
  tag.resize(sizeof header + static_cast<std::size_t>(in.gcount()));
  return ReadId3(tag.data(), tag.size());
}

// The names the first players gave the common frames, set beside the frames' own.
constexpr std::pair<const char*, const char*> kId3Names[] = {
    {"TIT2", "songname"}, {"TPE1", "artist"}, {"TALB", "album"}, {"TYER", "year"},
    {"COMM", "comment"},  {"TRCK", "track"},  {"TCON", "genre"}};

// The sound's `id3`: an object without a prototype holding each frame by its id (a frame that
// comes again makes an array of its texts) and the common ones by their old names. Kept when
// the script set an `id3` of its own; read-only once set.
void SetId3(Vm& vm, Object* sound, const std::vector<Id3Frame>& frames) {
  if (sound->FindOwn("id3")) return;
  Object* id3 = vm.NewObject();
  id3->SetProto(nullptr);
  for (const Id3Frame& f : frames) {
    for (const auto& [id, name] : kId3Names)
      if (f.id == id) id3->SetOwn(name, Value(f.text));
    Property* had = id3->FindOwn(f.id);
    if (!had) {
      id3->SetOwn(f.id, Value(f.text));
    } else if (had->value.IsObject() && had->value.o->cls() == ObjClass::kArray) {
      vm.CallMethod(had->value, "push", {Value(f.text)});
    } else {
      had->value = Value(vm.NewArray({had->value, Value(f.text)}));
    }
  }
  sound->SetOwn("id3", Value(id3), prop::kReadOnly);
}

Value SoundLoad(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  if (!s) return {};
  // A new load replaces what the object played.
  auto& voices = vm.soundVoices;
  for (auto it = voices.begin(); it != voices.end();) {
    if (it->owner == s->self) {
      if (vm.sound) vm.sound->Stop(it->voice);
      it = voices.erase(it);
    } else {
      ++it;
    }
  }
  s->sound = 0;
  std::string url = vm.ToString(a[0]);
  // Only files beside the movie: no network, no way out of the movie's folder.
  const bool local = !url.empty() && url.find("://") == std::string::npos &&
                     url.find("..") == std::string::npos && url[0] != '/' && url[0] != '\\' &&
                     url.find(':') == std::string::npos;
  std::uint32_t handle = 0;
  if (local && vm.sound) handle = vm.sound->LoadFile(vm.movieDir + url);
  s->sound = handle;
  Vm::SoundLoad load{s->self, handle != 0, {}};
  if (handle) load.id3 = Id3Of(vm, url);
  vm.soundLoads.push_back(std::move(load));
  if (handle && vm.ToBool(a[1])) {  // a streaming load plays at once
    CallArgs none;
    none.self = s->self;
    SoundStart(vm, none);
  }
  return {};
}

Value SoundGetDuration(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  if (!s || !s->sound) return {};
  const double d = DurationOf(vm, *s);
  return d >= 0 ? Value(std::round(d)) : Value();
}

Value SoundGetPosition(Vm& vm, CallArgs& a) {
  auto* s = ThisSound(a);
  if (!s || !s->sound) return {};
  return Value(std::round(PositionOf(vm, *s)));
}

Value SoundNothing(Vm&, CallArgs&) {
  return {};
}

}  // namespace

void InstallSound(Vm& vm) {
  Object* proto = vm.NewObject();
  MakeClass(vm, vm.global, "Sound", SoundCall, SoundConstruct, proto);
  const std::pair<const char*, NativeFn> methods[] = {
      {"getPan", SoundGetPan}, {"getTransform", SoundGetTransform}, {"getVolume", SoundGetVolume},
      {"setPan", SoundSetPan}, {"setTransform", SoundSetTransform}, {"setVolume", SoundSetVolume},
      {"stop", SoundStop},     {"attachSound", SoundAttach},        {"start", SoundStart}};
  for (const auto& [name, fn] : methods) vm.Method(proto, name, fn);
  if (vm.version() < 6) return;
  const std::pair<const char*, NativeFn> later[] = {
      {"getDuration", SoundGetDuration}, {"setDuration", SoundNothing},
      {"getPosition", SoundGetPosition}, {"setPosition", SoundNothing},
      {"loadSound", SoundLoad},          {"getBytesLoaded", SoundNothing},
      {"getBytesTotal", SoundNothing}};
  for (const auto& [name, fn] : later) vm.Method(proto, name, fn);
}

void PollSounds(Vm& vm) {
  // onLoad first: a handler that starts the sound it loaded starts it in this frame. A load that
  // a handler starts finishes in this frame too, as files beside the movie are at hand; a few
  // rounds of that at most, so that a handler that always loads again cannot hold the frame.
  for (int round = 0; round < 8 && !vm.soundLoads.empty(); ++round) {
    auto loads = std::move(vm.soundLoads);
    vm.soundLoads.clear();
    for (auto& load : loads) {
      if (vm.aborting()) return;
      if (!load.id3.empty()) {
        SetId3(vm, load.sound, load.id3);
        vm.CallMethod(Value(load.sound), "onID3", {Value(true)});
        vm.DropUncaught();
        if (vm.aborting()) return;
      }
      vm.CallMethod(Value(load.sound), "onLoad", {Value(load.ok)});
      vm.DropUncaught();
    }
  }
  if (!vm.sound) return;
  std::vector<Object*> complete;
  auto& voices = vm.soundVoices;
  for (auto it = voices.begin(); it != voices.end();) {
    if (vm.sound->Playing(it->voice)) {
      ++it;
      continue;
    }
    complete.push_back(it->owner);
    it = voices.erase(it);
  }
  for (Object* o : complete) {
    if (vm.aborting()) return;
    vm.CallMethod(Value(o), "onSoundComplete", {});
    vm.DropUncaught();
  }
}

void StopAllSounds(Vm& vm) {
  if (vm.sound) vm.sound->StopAll();
  vm.soundVoices.clear();
}

}  // namespace dbx::swf::avm1
