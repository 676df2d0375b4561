// The interpreter: runs action byte code over the heap with the version's conversions, the scope
// chain, registers, exceptions and the limits (time budget, call depth, heap size).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "swf/avm1/object.h"
#include "swf/avm1/value.h"
#include "swf/display/scripts.h"
#include "swf/format/id3_tags.h"

namespace dbx::swf::avm1 {

// A display-list clip as the interpreter sees it; the runtime implements it over the timeline.
class ClipObject : public Object {
 public:
  ClipObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kClip) {}
  // A timeline answers typeof with "movieclip"; a button or a text field is an "object".
  virtual bool Timeline() const { return true; }
  virtual bool Alive() const = 0;
  virtual ClipObject* ParentClip() = 0;
  virtual ClipObject* ChildByName(std::string_view name) = 0;
  virtual std::string TargetPath() = 0;  // "_level0.a.b"
  virtual std::string SlashPath() = 0;   // "/a/b"
  // GetProperty / SetProperty by index (0 _x ... 21 _ymouse).
  virtual Value GetIndexed(Vm& vm, int index) = 0;
  virtual void SetIndexed(Vm& vm, int index, const Value& v) = 0;
  virtual void GotoFrame(Vm& vm, int frame, bool play) = 0;  // frame from 1
  virtual bool GotoLabel(Vm& vm, std::string_view label, bool play) = 0;
  virtual void Play() = 0;
  virtual void Stop() = 0;
  virtual int CurrentFrame() = 0;  // from 1
  virtual int TotalFrames() = 0;
  virtual int FrameOfLabel(std::string_view label) = 0;  // 0: none
  virtual void CallFrame(Vm& vm, int frame) = 0;         // runs a frame's actions (Call)
  virtual void Duplicate(Vm& vm, std::string_view name, int depth) = 0;
  virtual void RemoveSelf(Vm& vm) = 0;
  virtual void StartDrag(Vm&, bool, const double*) {}
  // A reference to a clip that was removed reaches the clip that now has the path the removed one
  // had when the reference was made (nothing when there is none).
  virtual ClipObject* Relocated(Vm&) { return nullptr; }
  // The nearest clip up from this one (itself included) whose _lockroot is set: _root for the
  // code inside it. Nothing when there is none.
  virtual ClipObject* LockedRoot(Vm&) { return nullptr; }
  // The movie whose characters and exports the clip shows (the main one, or one loaded into it
  // or a clip above it); null when the clip has gone.
  virtual const Movie* OwnMovie() const { return nullptr; }
  // The volume and channel levels a Sound object made for this clip sets.
  SoundLevels soundLevels;
  // A text field's style sheet (TextField.styleSheet).
  Object* styleSheet = nullptr;
  void Trace(Tracer& t) override {
    Object::Trace(t);
    t.Mark(styleSheet);
  }
  // Its unload handlers are running: it still answers by its path.
  bool unloading = false;
};

enum class Flow : std::uint8_t { kNormal, kReturn, kThrow, kAbort, kJump };

class Activation {
 public:
  int version = 10;
  Scope* scope = nullptr;
  Object* thisObj = nullptr;
  Object* target = nullptr;    // SetTarget / tellTarget changes it
  Object* baseClip = nullptr;  // the clip the code belongs to
  Function* callee = nullptr;
  Object* arguments = nullptr;
  Object* home = nullptr;  // where the running method was found (for super)
  std::vector<Value> regs;
  std::shared_ptr<const std::vector<std::string>> pool;
  std::shared_ptr<const Code> code;
  bool isFunction = false;
  bool constructing = false;  // the function runs for `new`
  bool thisByName = true;     // false: DefineFunction2 took `this` away from the scope chain
  Value result;
  std::size_t jumpTarget = 0;
};

struct Limits {
  std::chrono::milliseconds budget{1000};  // per frame's scripts
  int maxDepth = 256;
  // Native stack that nested calls may use, measured from the outermost call: deep recursion in
  // scripts throws before the thread's stack (1 MB on Windows by default, 8 MB elsewhere) runs
  // out, however large the interpreter's frames are in a given build.
#ifdef _WIN32
  std::size_t maxNativeStack = 768u << 10;
#else
  std::size_t maxNativeStack = 4u << 20;
#endif
  std::size_t maxObjects = 4'000'000;
  std::size_t maxString = 16u << 20;
  std::size_t maxArray = 1u << 22;
};

class Vm {
 public:
  explicit Vm(int version, Limits limits = {});
  ~Vm();
  Vm(const Vm&) = delete;
  Vm& operator=(const Vm&) = delete;

  int version() const { return version_; }
  Heap& heap() { return heap_; }
  const Limits& limits() const { return limits_; }

  // Where trace() lines go, and the diagnostics (unsupported features, aborted scripts).
  std::function<void(std::string_view)> traceSink;
  std::function<void(std::string_view)> diagnostics;
  // Reports `what` once per run on the diagnostics channel.
  void Unsupported(std::string_view what);
  // A warning of the player in the trace log ("Warning: " + message), as movie authors see it
  // beside their trace() lines. After kMaxWarnings a last line says so and the rest are dropped,
  // so that a warning in a frame loop cannot flood the log.
  static constexpr int kMaxWarnings = 100;
  void Warn(std::string_view message);
  // Ends an exception that no script caught (it left a frame script, a handler or a timer): it is
  // warned about and dropped. Nothing happens when no exception is pending.
  void DropUncaught();

  // The root timeline (_root, _level0, "/" in paths); the runtime sets it.
  ClipObject* root = nullptr;
  // Milliseconds since the movie started (getTimer).
  std::function<double()> clock;

  // Runs `code` (the whole span) as a timeline's frame script on `clip`.
  // Runs code of a movie of `version` (0: the main movie's) with `clip` as target and this.
  void RunScript(std::shared_ptr<const Code> code, Object* clip, int version = 0);
  // Starts the per-frame time budget; scripts beyond it are abandoned until the next call.
  void BeginFrameBudget();
  bool OutOfTime();

  // Calls a function value (script or native); undefined when it is not a function.
  Value Call(const Value& fn, Object* self, std::vector<Value> args, Object* home = nullptr);
  Value CallMethod(const Value& base, std::string_view name, std::vector<Value> args);
  Value Construct(const Value& ctor, std::vector<Value> args);

  // Properties: the prototype chain, getters and setters, watchers, __resolve.
  Value Get(Object* o, std::string_view name);
  Value GetValue(const Value& base, std::string_view name);  // boxes primitives
  void Set(Object* o, std::string_view name, const Value& v);
  bool Has(Object* o, std::string_view name);
  bool Delete(Object* o, std::string_view name);
  // Finds a stored property on `o` or its prototypes; `owner` receives the object holding it.
  Property* Lookup(Object* o, std::string_view name, Object** owner = nullptr);
  // Enumerable names of `o` and its prototypes, in the order for..in yields them.
  std::vector<std::string> Keys(Object* o);

  // Conversions that may run script (valueOf / toString).
  // The hint says what the value is wanted as: a date without one gives its text (Add2 and the
  // equality), as a number its time.
  enum class Hint : std::uint8_t { kNone, kNumber, kString };
  Value ToPrimitive(const Value& v, Hint hint = Hint::kNone);
  double ToNumber(const Value& v);
  std::string ToString(const Value& v);
  bool ToBool(const Value& v) { return ToBoolean(v, version_); }
  Object* ToObject(const Value& v);
  // A string, number or boolean made an object by the global constructor of its type (which a
  // script may have replaced); nothing for other values.
  Object* Boxed(const Value& v);
  std::string TypeOf(const Value& v);
  bool AbstractEquals(const Value& a, const Value& b);
  bool StrictEquals(const Value& a, const Value& b);
  // a < b: true, false, or undefined (NaN involved).
  Value Less(const Value& a, const Value& b);
  bool InstanceOf(Object* o, Object* ctor);
  // The instanceof action. The class's prototype is its own stored property (no getter runs, no
  // inherited one counts); a class or prototype that is a string, number or boolean becomes an
  // object through the global constructor of its type (a script may have replaced it). A value
  // that is not an object is no instance (and nothing is made an object then), and a removed clip
  // is neither instance nor class.
  bool InstanceOfAction(const Value& o, const Value& ctor);
  // The cast action: the value when it is an instance of the class, else null. A string, number
  // or boolean becomes an object as above, and is then no instance.
  Value CastAction(const Value& o, const Value& ctor);

  // The package object `flash.<name>` (`flash` itself for an empty name), made where missing.
  // Found whatever the movie's version: scripts see `flash` from version 8 on only.
  Object* FlashPackage(std::string_view name = {});
  // `flash.<package>.<name>`: undefined where a part is missing.
  Value FlashMember(std::string_view package, std::string_view name);

  // Objects.
  Object* NewObject();
  Object* NewArray(std::vector<Value> items = {});
  Function* NewNative(NativeFn fn, int data = 0, NativeFn construct = nullptr);
  Object* NewError(std::string_view message);
  // Adds a native method to `o` (not enumerable).
  Function* Method(Object* o, std::string_view name, NativeFn fn, int data = 0);

  // Exceptions raised by natives: the interpreter unwinds to the next catch.
  void Throw(const Value& v);
  bool throwing() const { return throwing_; }
  Value TakeException();
  bool aborting() const { return aborting_; }

  // Resolves a target path ("_root.a", "/a/b", "../c", "a:b" etc.) from `start`.
  Object* ResolveTarget(Object* start, std::string_view path, Activation* act = nullptr);
  // The clip an activation acts on: when its target was removed, its own timeline, and when that
  // is gone too, the main timeline.
  Object* LiveTarget(Activation& act);
  // GetVariable / SetVariable with paths.
  Value GetVariable(Activation& act, std::string_view name);
  void SetVariable(Activation& act, std::string_view name, const Value& v);

  // Runs the collector with the extra roots the runtime adds through `addRoots`.
  std::size_t Collect(const std::function<void(Tracer&)>& addRoots);

  // The global object and the built-in prototypes.
  Object* global = nullptr;
  Object* objectProto = nullptr;
  Object* functionProto = nullptr;
  Object* arrayProto = nullptr;
  Object* stringProto = nullptr;
  Object* numberProto = nullptr;
  Object* booleanProto = nullptr;
  Object* dateProto = nullptr;
  Object* errorProto = nullptr;
  Object* clipProto = nullptr;
  Object* xmlNodeProto = nullptr;
  Object* xmlProto = nullptr;
  Object* pointProto = nullptr;
  Object* pointCtor = nullptr;
  Object* matrixCtor = nullptr;
  Function* objectCtor = nullptr;
  Function* arrayCtor = nullptr;
  Function* functionCtor = nullptr;
  // Objects that stay alive whatever the script does (intervals, listeners lists, ...).
  std::vector<Object*> pinned;

  // Array helpers (arrays keep their elements as properties "0".."n-1" plus length).
  std::size_t ArrayLength(Object* a);
  Value ArrayGet(Object* a, std::size_t i);
  void ArraySet(Object* a, std::size_t i, const Value& v);
  void ArrayPush(Object* a, const Value& v);

  // setInterval / setTimeout.
  struct Timer {
    int id = 0;
    Value fn;  // a function, or the object whose method `method` runs
    std::string method;
    std::vector<Value> args;
    double interval = 0, due = 0;
    bool once = false;
  };
  std::vector<Timer> timers;
  int nextTimerId = 1;
  // Runs the timers that are due at `nowMs`, each as often as its interval fits (see vm.cpp).
  void RunTimers(double nowMs);
  static constexpr int kMaxTimerCatchUp = 1000;
  // Runs after each timer call: the runtime runs what the call queued (a clip's onLoad ...).
  std::function<void()> afterTimer;

  // The Sound object: where its sounds play (null: nowhere), the movie whose exported sounds
  // attachSound finds, the folder loadSound reads files from, and the playing voices.
  ScriptSound* sound = nullptr;
  const Movie* movie = nullptr;
  std::string movieDir;
  struct SoundVoice {
    int voice = 0;
    Object* owner = nullptr;  // the Sound object that started it
  };
  std::vector<SoundVoice> soundVoices;
  SoundLevels masterSoundLevels;  // set by a Sound object made without a clip
  // Sound objects whose onLoad is due at the next frame, with the load's success and the file's
  // ID3 text (onID3 comes first when there is any).
  struct SoundLoad {
    Object* sound = nullptr;
    bool ok = false;
    std::vector<Id3Frame> id3;
  };
  std::vector<SoundLoad> soundLoads;
  // NetStreams opening or playing (advanced each frame, and kept alive until they end).
  std::vector<Object*> netStreams;
  // Files beside the movie that scripts asked for (LoadVars, loadVariables, XML); the runtime
  // finishes them at the next frame and keeps their targets alive until then.
  struct FileLoad {
    Object* target = nullptr;
    std::string url;
    int kind = 0;
    bool post = false;  // the target's variables go with the request
  };
  std::vector<FileLoad> fileLoads;
  // LocalConnection: the objects connected, by name folded to lower case, and what was sent to them
  // for the next frame.
  std::map<std::string, Object*> connections;
  struct LocalMessage {
    Object* sender = nullptr;
    std::string name, method;
    std::vector<Value> args;
  };
  std::vector<LocalMessage> messages;
  // XMLSocket: how connections open (none: they fail), and those open or opening, each with the
  // part of a message received so far. A link leaves the list when it closes.
  SocketOpener socketOpener;
  struct SocketLink {
    Object* socket = nullptr;
    std::unique_ptr<SocketPeer> peer;  // null: the connection failed
    std::string pending;
    bool told = false;  // onConnect was called
  };
  std::vector<std::shared_ptr<SocketLink>> sockets;
  // NetConnection.call: the requests to remoting servers that a frame's calls make, one per
  // connection (by its number), sent (written to the trace, when logged) at the next frame.
  struct RemotingRequest {
    double connection = 0;
    std::string url;
    std::vector<std::string> messages;
  };
  std::vector<RemotingRequest> remoting;
  std::uint64_t remotingConnections = 0;  // connections to servers made so far
  // Whether requests that send variables are written to the trace as they go (for tests).
  bool logFetches = false;
  // Whether scripts may read files from `movieDir` (not for a movie that came from no file).
  bool localFiles = false;
  // GetURL2 (loadVariables, loadMovie, getURL): the runtime's handler; null ignores it.
  std::function<void(Activation&, const std::string& url, const Value& target, std::uint8_t flags)>
      getUrl;

  // Object.registerClass: export name -> constructor. Movies of version 6 and older share one
  // table whose names ignore case; newer movies share another that keeps it.
  std::map<std::string, Object*> registeredClasses[2];
  // Of each name in the tables: when it was registered (a count) and as it was given.
  std::map<std::string, std::pair<std::uint64_t, std::string>> registrations[2];
  std::uint64_t registrationCount = 0;
  void RegisterClass(int movieVersion, std::string_view name, Object* ctor);
  Object* RegisteredClass(int movieVersion, std::string_view name) const;
  // The name `ctor` was last registered with in this movie's table, as it was given, when that
  // name still stands for it (empty otherwise).
  std::string RegisteredName(Object* ctor) const;
  // Scripts' Date: the system's clock and zone unless fixed.
  std::optional<FixedDate> fixedDate;
  double Random() { return std::uniform_real_distribution<double>(0, 1)(rng_); }
  std::mt19937& rng() { return rng_; }

  int depth() const { return depth_; }
  // The `super` of a method found on `home`, called on `self`.
  Object* MakeSuper(Object* self, Object* home);
  // The constructor super() calls.
  Value SuperConstructor(Object* super);
  std::string lastTraceForTests;

 private:
  friend class Interpreter;
  Flow Execute(Activation& act, std::size_t begin, std::size_t end);
  Value CallFunction(Function* f, Object* self, std::vector<Value>& args, Object* home,
                     bool construct);
  void Install();  // the built-ins
  // Whether `proto` is on the prototype chain of `o` (above `o` itself), or an interface there
  // names `ctor` or a class with that prototype.
  bool ChainHas(Object* o, Object* ctor, Object* proto);

  int version_;
  Limits limits_;
  Heap heap_;
  std::vector<Value> stack_;
  bool throwing_ = false;
  bool aborting_ = false;
  Value exception_;
  int warnings_ = 0;
  Object* overflow_ = nullptr;  // the error a too deep recursion threw (compared, never read)
  int depth_ = 0;
  std::uintptr_t stackBase_ = 0;  // the outermost script call's frame, 0 outside calls
  // The budget is counted in the time this thread ran (a busy machine does not cut a script
  // short), with a limit on the time that passes as well.
  std::chrono::nanoseconds runDeadline_{};
  std::chrono::steady_clock::time_point wallDeadline_;
  std::uint32_t ticks_ = 0;
  std::vector<std::string> reported_;
  std::vector<Activation*> activations_;
  std::mt19937 rng_{std::random_device{}()};

 public:
  std::vector<Value>& stack() { return stack_; }
  std::vector<Activation*>& activations() { return activations_; }
};

// Installs the built-in classes (defined in builtins*.cpp).
void InstallBuiltins(Vm& vm);
// The Sound class (sound_object.cpp); installed by the runtime once `sound` and `movie` are set.
void InstallSound(Vm& vm);
// Once per frame: fires onLoad for finished loads and onSoundComplete for the voices that ended.
void PollSounds(Vm& vm);
// NetStream and Video (net_stream.cpp).
void InstallNetStream(Vm& vm);
// Once per frame: the streams open their files and play on to the movie's time `nowMs`.
void AdvanceNetStreams(Vm& vm, double nowMs);
// stopAllSounds: every sound stops, without onSoundComplete.
void StopAllSounds(Vm& vm);

// Helpers for built-ins.
inline double ArgNumber(Vm& vm, CallArgs& a, std::size_t i, double def) {
  return i < a.size() && !a[i].IsUndefined() ? vm.ToNumber(a[i]) : def;
}

}  // namespace dbx::swf::avm1
