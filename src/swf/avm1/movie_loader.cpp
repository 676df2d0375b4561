// Movies loaded into clips and levels. Only files beside the movie are read (see loader.h); what
// they hold is parsed with the parser's limits, and each file is parsed once and kept by the
// stage for as long as it lives.
#include "swf/avm1/movie_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "swf/avm1/builtins.h"
#include "swf/avm1/loader.h"
#include "swf/avm1/runtime.h"
#include "swf/format/picture_decoders.h"

namespace dbx::swf::avm1 {

namespace {

constexpr std::size_t kMaxQueuedLoads = 1024;

bool FoldedEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

Clip* LoadableClip(Object* o) {
  Clip* c = ClipOf(o);
  return c && !c->removed && c->kind == ClipKind::kMovie ? c : nullptr;
}

// The movie in the file `file` holds (read as `data`), parsed once: a movie, else a picture,
// which shows as a movie of one frame. Null when it is neither.
const Movie* ParsedOnce(Runtime& rt, const std::string& file, const std::string& data) {
  const auto known = rt.moviesByUrl.find(file);
  if (known != rt.moviesByUrl.end()) return known->second;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  auto parsed = ParseMovie(bytes, data.size(), rt.images, rt.loadLimits);
  if (!parsed) parsed = PictureMovie(bytes, data.size(), rt.images, rt.loadLimits);
  if (!parsed) return nullptr;
  const Movie* movie = rt.stage().Adopt(std::make_unique<const Movie>(std::move(*parsed)));
  if (movie) rt.moviesByUrl.emplace(file, movie);
  return movie;
}

// The clip's own properties go with what it showed: the loaded movie starts from a plain clip.
// Only _lockroot stays: it is set before a load to give the loaded movie this clip as _root.
void ForgetScriptState(Runtime& rt, Clip& clip) {
  Object* o = rt.ScriptObjectOf(&clip);
  if (!o) return;
  const bool exact = o->props().CaseSensitive();
  o->props().RemoveIf([exact](const Property& p) {
    return exact ? p.name != "_lockroot" : !EqualsFolded(p.name, "_lockroot");
  });
  o->SetProto(rt.vm().clipProto);
}

// A clip's movie file in bytes: what was loaded into it, the main movie's file for level 0, the
// clip's part of the file otherwise.
// A loader tells its listeners through its own broadcastMessage (which a movie may replace).
void Notify(Vm& vm, Object* loader, const char* event, std::vector<Value> args) {
  args.insert(args.begin(), Value(event));
  vm.CallMethod(Value(loader), "broadcastMessage", std::move(args));
  vm.DropUncaught();
}

// The variables a url's query gives the movie loaded from it ("movie.swf?a=1&b=2").
void SetQueryVariables(Vm& vm, Object* o, std::string_view url) {
  const std::size_t q = url.find('?');
  if (q == std::string_view::npos) return;
  std::string_view query = url.substr(q + 1);
  query = query.substr(0, query.find('#'));
  for (auto& [name, value] : DecodeVariables(query)) vm.Set(o, name, Value(std::move(value)));
}

double BytesOf(Runtime& rt, const Clip& clip) {
  if (!clip.url.empty()) return clip.urlBytes;
  if (clip.IsRoot() && clip.level == 0 && rt.mainBytes > 0) return rt.mainBytes;
  return clip.timeline ? static_cast<double>(clip.timeline->bytes) : 0;
}

}  // namespace

int LevelOf(std::string_view path) {
  if (path.size() < 6 ||
      !(FoldedEquals(path.substr(0, 6), "_level") || FoldedEquals(path.substr(0, 6), "_flash")))
    return -1;
  // "_level0.clip" or "_level0/" is a path that starts at a level, not a level's name.
  if (path.find_first_of("./:") != std::string_view::npos) return -1;
  // The digits that follow (none: 0) wrap as an unsigned 32-bit number read as a signed one.
  std::string_view digits = path.substr(6);
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.remove_prefix(1);
  std::uint32_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (negative) n = 0u - n;
  const auto level = static_cast<std::int32_t>(n);
  return level < 0 ? -1 : level;
}

const Movie* ImportMovie(Runtime& rt, std::string_view url) {
  Vm& vm = rt.vm();
  if (!vm.localFiles) return nullptr;
  const std::string file(url.substr(0, url.find_first_of("?#")));
  if (const auto known = rt.moviesByUrl.find(file); known != rt.moviesByUrl.end())
    return known->second;
  const std::optional<std::string> data = ReadLocalFile(vm.movieDir, file);
  return data ? ParsedOnce(rt, file, *data) : nullptr;
}

void QueueMovieLoad(Runtime& rt, MovieLoad load) {
  if (rt.movieLoads.size() >= kMaxQueuedLoads) return;
  if (!load.target && (load.level < 0 || load.level > Stage::kMaxLevels)) return;
  // Unloading what is still loading cancels the load.
  if (load.url.empty())
    for (MovieLoad& earlier : rt.movieLoads)
      if (earlier.target == load.target && (load.target || earlier.level == load.level))
        earlier.cancelled = true;
  rt.movieLoads.push_back(std::move(load));
}

void FinishMovieLoads(Runtime& rt) {
  std::vector<MovieLoad> loads;
  loads.swap(rt.movieLoads);
  Vm& vm = rt.vm();
  Stage& stage = rt.stage();
  for (MovieLoad& load : loads) {
    if (vm.aborting()) return;
    Clip* target = nullptr;
    if (load.target) {
      target = LoadableClip(load.target);
      if (!target) continue;
    } else {
      target = stage.Level(load.level);
    }
    if (load.cancelled) {
      // The loader heard of the start before the unload came.
      Object* o = rt.ScriptObjectOf(target);
      if (load.loader && o) Notify(vm, load.loader, "onLoadStart", {Value(o)});
      continue;
    }
    if (load.url.empty()) {
      if (!target) continue;
      if (target->IsRoot() && target->level > 0) {
        stage.UnloadLevel(target->level);
      } else {
        ForgetScriptState(rt, *target);
        stage.LoadInto(target, target->level, nullptr);
        target->loadPending = false;
        target->currentFrame = 0;
        target->unloaded = true;
        target->url.clear();
      }
      continue;
    }
    std::optional<std::string> data;
    if (vm.localFiles) data = ReadLocalFile(vm.movieDir, load.url);
    if (!data) {
      if (target) target->url = "file:///" + load.url;
      if (load.loader) {
        Object* o = rt.ScriptObjectOf(target);
        Notify(vm, load.loader, "onLoadError",
               {o ? Value(o) : Value(), Value("URLNotFound"), Value(0)});
      }
      continue;
    }
    const std::string file = load.url.substr(0, load.url.find_first_of("?#"));
    const Movie* movie = ParsedOnce(rt, file, *data);
    if (target) ForgetScriptState(rt, *target);
    Clip* shown = stage.LoadInto(target, load.level, movie);
    if (!shown) continue;
    shown->url = "file:///" + file;
    shown->urlBytes = movie ? static_cast<double>(data->size()) : 0;
    Object* o = rt.ScriptObjectOf(shown);
    if (!o) continue;
    SetQueryVariables(vm, o, load.url);
    if (load.loader) {
      const double bytes = BytesOf(rt, *shown);
      Notify(vm, load.loader, "onLoadStart", {Value(o)});
      Notify(vm, load.loader, "onLoadProgress", {Value(o), Value(bytes), Value(bytes)});
      Notify(vm, load.loader, "onLoadComplete", {Value(o), Value(0)});
      rt.loadInits.push_back({o, load.loader});
    }
  }
}

void FireLoadInits(Runtime& rt) {
  std::vector<std::pair<Object*, Object*>> due, later;
  for (auto& entry : rt.loadInits) {
    Clip* c = LoadableClip(entry.first);
    if (!c) continue;
    (c->loadPending ? later : due).push_back(entry);
  }
  rt.loadInits = std::move(later);
  std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
    return ClipOf(a.first)->serial > ClipOf(b.first)->serial;
  });
  for (auto& [clip, loader] : due) {
    if (rt.vm().aborting()) return;
    if (LoadableClip(clip)) Notify(rt.vm(), loader, "onLoadInit", {Value(clip)});
  }
}

void TraceMovieLoads(Runtime& rt, Tracer& t) {
  for (const MovieLoad& load : rt.movieLoads) {
    t.Mark(load.target);
    t.Mark(load.loader);
  }
  for (auto& [clip, loader] : rt.loadInits) {
    t.Mark(clip);
    t.Mark(loader);
  }
}

namespace {

Runtime* RuntimeOfVm(Vm& vm) {
  return vm.root ? RuntimeOf(vm.root) : nullptr;
}

// A loader's target: a level by number or "_levelN", a clip by path or object. False when it
// names nothing that can load.
bool TargetOf(Vm& vm, const Value& v, MovieLoad& load) {
  if (v.IsNumber()) {
    if (!std::isfinite(v.n) || v.n < 0 || v.n > Stage::kMaxLevels) return false;
    load.level = static_cast<int>(v.n);
    return true;
  }
  if (v.IsString()) {
    const std::string path = vm.ToString(v);
    load.level = LevelOf(path);
    if (load.level >= 0) return load.level <= Stage::kMaxLevels;
    Object* o = vm.root ? vm.ResolveTarget(vm.root, path) : nullptr;
    if (!LoadableClip(o)) return false;
    load.target = o;
    return true;
  }
  Object* o = v.AsObject();
  if (!LoadableClip(o)) return false;
  load.target = o;
  return true;
}

Value MclConstruct(Vm& vm, CallArgs& a) {
  if (!a.self) return {};
  InitializeBroadcaster(vm, a.self);
  if (Object* list = vm.Get(a.self, "_listeners").AsObject())
    vm.CallMethod(Value(list), "push", {Value(a.self)});
  return Value(a.self);
}

Value MclLoadClip(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!a.self || a.size() < 2 || !rt) return {};
  if (!a[0].IsString()) return Value(false);
  MovieLoad load;
  if (!TargetOf(vm, a[1], load)) return Value(false);
  load.url = vm.ToString(a[0]);
  load.loader = a.self;
  QueueMovieLoad(*rt, std::move(load));
  return Value(true);
}

Value MclUnloadClip(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!a.self || a.size() < 1 || !rt) return {};
  MovieLoad load;
  if (!TargetOf(vm, a[0], load)) return Value(false);
  QueueMovieLoad(*rt, std::move(load));
  return Value(true);
}

Value MclGetProgress(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!a.self || a.size() < 1 || !rt) return {};
  const Value& v = a[0];
  if (!v.IsNumber() && !v.IsString() && !LoadableClip(v.AsObject())) return {};
  MovieLoad load;
  Clip* clip = nullptr;
  if (TargetOf(vm, v, load))
    clip = load.target ? ClipOf(load.target) : rt->stage().Level(load.level);
  Object* out = vm.NewObject();
  out->SetOwn("bytesLoaded", clip ? Value(BytesOf(*rt, *clip)) : Value());
  out->SetOwn("bytesTotal", clip ? Value(BytesOf(*rt, *clip)) : Value());
  return Value(out);
}

Value McLoadMovie(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!rt || !LoadableClip(a.self) || !a.size() || a[0].IsNullish()) return {};
  MovieLoad load;
  load.url = vm.ToString(a[0]);
  if (load.url.empty()) return {};
  load.target = a.self;
  QueueMovieLoad(*rt, std::move(load));
  return {};
}

Value McUnloadMovie(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!rt || !LoadableClip(a.self)) return {};
  MovieLoad load;
  load.target = a.self;
  QueueMovieLoad(*rt, std::move(load));
  return {};
}

// getURL(url, window): a movie opens in a level ("_levelN"), a page in a browser window.
Value McGetUrl(Vm& vm, CallArgs& a) {
  Runtime* rt = RuntimeOfVm(vm);
  if (!rt || !a.size()) return {};
  const std::string url = vm.ToString(a[0]);
  const std::string window = a.size() > 1 ? vm.ToString(a[1]) : std::string();
  MovieLoad load;
  load.level = LevelOf(window);
  if (load.level < 0) {
    rt->OpenPage(url, window);
    return {};
  }
  load.url = url;
  QueueMovieLoad(*rt, std::move(load));
  return {};
}

}  // namespace

void InstallMovieClipLoader(Runtime& rt) {
  Vm& vm = rt.vm();
  Object* proto = vm.NewObject();
  vm.pinned.push_back(proto);
  MakeClass(vm, vm.global, "MovieClipLoader", MclConstruct, MclConstruct, proto);
  vm.Method(proto, "loadClip", MclLoadClip);
  vm.Method(proto, "unloadClip", MclUnloadClip);
  vm.Method(proto, "getProgress", MclGetProgress);
  if (vm.clipProto) {
    vm.Method(vm.clipProto, "loadMovie", McLoadMovie);
    vm.Method(vm.clipProto, "unloadMovie", McUnloadMovie);
    vm.Method(vm.clipProto, "getURL", McGetUrl);
  }
}

}  // namespace dbx::swf::avm1
