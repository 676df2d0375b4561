#include "swf/display/stage.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <tuple>

#include "swf/display/geometry.h"
#include "swf/display/video_clip.h"
#include "swf/text/text_field.h"

namespace dbx::swf {

namespace {

// Whether the stage point lies on a button's up-state shape or on a sprite's content.
bool PointerOn(const Clip& c, double x, double y) {
  if (c.kind == ClipKind::kButton)
    return CharacterContains(*c.movie, c.character, c.ConcatenatedMatrix(), x, y);
  return c.HitTest(x, y, true);
}

// Whether the clip and every clip it lies in are visible (a hidden button hears no key press).
bool Shown(const Clip& c) {
  for (const Clip* p = &c; p; p = p->parent)
    if (!p->visible) return false;
  return true;
}

// Whether a button's key press condition (its key: 1 to 19 name keys, from 32 characters) is
// the key that went down or the character it typed.
bool KeyPressMatches(int key, int keyCode, int charCode) {
  // The named keys by their condition number: left, right, home, end, insert, delete, -,
  // backspace, ..., enter, up, down, page up, page down, tab, escape.
  static constexpr int kNamed[20] = {0, 37, 39, 36, 35, 45, 46, 0,  8, 0,
                                     0, 0,  0,  13, 38, 40, 33, 34, 9, 27};
  if (key <= 0) return false;
  if (key < 20) return kNamed[key] != 0 && kNamed[key] == keyCode;
  return key >= 32 && key == charCode;
}

// Queued scripts run per frame up to this many entries; a script that keeps queueing more (a
// goto loop) cannot stall the frame.
constexpr std::size_t kMaxQueuedPerRun = 200000;

ClipKind KindOf(const Movie& movie, std::uint16_t id, const Timeline** timeline) {
  *timeline = nullptr;
  if (id == 0) return ClipKind::kMovie;
  const auto it = movie.characters.find(id);
  if (it == movie.characters.end()) return ClipKind::kOther;
  const Character& ch = it->second;
  if (const auto* sprite = std::get_if<Sprite>(&ch)) {
    *timeline = &sprite->timeline;
    return ClipKind::kMovie;
  }
  if (std::holds_alternative<Shape>(ch)) return ClipKind::kShape;
  if (std::holds_alternative<MorphShape>(ch)) return ClipKind::kMorph;
  if (std::holds_alternative<std::shared_ptr<const Bitmap>>(ch)) return ClipKind::kBitmap;
  if (std::holds_alternative<Button>(ch)) return ClipKind::kButton;
  if (std::holds_alternative<StaticText>(ch)) return ClipKind::kText;
  if (std::holds_alternative<EditText>(ch)) return ClipKind::kEditText;
  if (std::holds_alternative<VideoStream>(ch)) return ClipKind::kVideo;
  return ClipKind::kOther;
}

bool IsGraphic(ClipKind k) {
  return k == ClipKind::kShape || k == ClipKind::kMorph || k == ClipKind::kBitmap ||
         k == ClipKind::kText || k == ClipKind::kOther;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

Stage::Stage(const Movie& movie)
    : movie_(movie), fonts_(std::make_unique<text::FontLibrary>(movie, nullptr)) {
  fonts_->SetImports(&imported_);
  Reset();
}

Stage::~Stage() = default;

void Stage::Reset() {
  queue_.clear();
  urgent_.clear();
  hover_ = pressed_ = nullptr;
  hoverByKeyboard_ = false;
  pointerSeen_ = false;
  root_ = std::make_unique<Clip>(*this, ClipKind::kMovie, 0);
  root_->timeline = &movie_.timeline;
  root_->movie = &movie_;
  root_->serial = 0;
  levels_.clear();
  lingering_.clear();
  graveyard_.clear();
  instances_ = 1;
  initDone_.clear();
}

int Stage::Nesting(const Clip& clip) const {
  int n = 0;
  for (const Clip* p = clip.parent; p; p = p->parent) ++n;
  return n;
}

void Stage::Step(double timeMs) {
  if (scripts_) scripts_->BeginFrame(timeMs);
  if (root_->currentFrame < 0 && !root_->loadPending) {
    if (scripts_) scripts_->ClipCreated(*root_);
    ApplyFrameInOrder(*root_, 0);
    QueueEvent(*root_, ClipEvent::kLoad);
  } else {
    // The latest made first: children run their frames before their parents.
    std::vector<Clip*> order;
    CollectAll(order);
    std::sort(order.begin(), order.end(),
              [](const Clip* a, const Clip* b) { return a->serial > b->serial; });
    for (Clip* c : order)
      if (!c->removed) RunFrame(*c);
  }
  RunQueue();
  // What the frame showed, hid, moved, enabled or disabled under a pointer that kept still.
  UpdateHover(false);
  RunQueue();
  if (scripts_) scripts_->EndFrame();
  queue_.clear();
  urgent_.clear();
  graveyard_.clear();
}

void Stage::PassTime(double timeMs) {
  if (!scripts_) return;
  scripts_->BeginFrame(timeMs);
  RunQueue();
  scripts_->EndFrame();
  queue_.clear();
  graveyard_.clear();
}

void Stage::Collect(Clip& clip, std::vector<Clip*>& out) {
  out.push_back(&clip);
  for (auto& [d, child] : clip.children_) Collect(*child, out);
}

void Stage::CollectAll(std::vector<Clip*>& out) {
  Collect(*root_, out);
  for (auto& [n, level] : levels_) Collect(*level, out);
}

void Stage::CollectForEvents(std::vector<Clip*>& out) {
  CollectAll(out);
  std::reverse(out.begin(), out.end());
}

bool Stage::InitDone(const Movie* movie, std::uint16_t sprite) {
  std::vector<bool>& done = initDone_[movie];
  if (done.empty()) done.assign(65536, false);
  const bool was = done[sprite];
  done[sprite] = true;
  return was;
}

void Stage::RunFrame(Clip& clip) {
  if (clip.kind != ClipKind::kMovie) return;
  if (clip.loadPending) {
    // A movie loaded into the clip shows its first frame as a clip just made does; the clip's
    // load event comes before the first frame's scripts.
    clip.loadPending = false;
    QueueEvent(clip, ClipEvent::kLoad);
    if (clip.timeline)
      ApplyFrameInOrder(clip, 0);
    else
      clip.currentFrame = 0;
    return;
  }
  QueueEvent(clip, ClipEvent::kEnterFrame);
  if (!clip.playing || !clip.timeline) return;
  const int count = clip.TotalFrames();
  int next = clip.currentFrame + 1;
  if (next >= count) {
    // A one-frame timeline stays as it is; so does the last frame of one still loading.
    if (count == 1 || !clip.timeline->complete) return;
    next = 0;
  }
  Goto(clip, next);
}

void Stage::Goto(Clip& clip, int frame) {
  if (clip.removed || clip.kind != ClipKind::kMovie || !clip.timeline) return;
  // A goto past the last frame lands on the last frame without running its scripts.
  const bool past = frame > clip.TotalFrames() - 1;
  frame = std::clamp(frame, 0, clip.TotalFrames() - 1);
  if (frame == clip.currentFrame) return;
  if (frame == clip.currentFrame + 1)
    ApplyFrameInOrder(clip, frame, !past);
  else
    GotoMerged(clip, frame, !past);
}

void Stage::ApplyFrameInOrder(Clip& clip, int frame, bool scripts) {
  clip.currentFrame = frame;
  clip.framesRun = std::max(clip.framesRun, frame + 1);
  if (!clip.timeline || frame >= static_cast<int>(clip.timeline->frames.size())) return;
  if (frameListener_ && clip.movie)
    frameListener_(*clip.movie, *clip.timeline, frame, &clip == root_.get(), false);
  const Frame& f = clip.timeline->frames[static_cast<std::size_t>(frame)];
  for (const InitAction& init : f.initActions)
    if (!InitDone(clip.movie, init.sprite)) {
      if (scripts_) urgent_.push_back({&clip, Queued::Kind::kInit, init.code, {}, 0, init.sprite});
    }
  Import(clip, frame);
  std::size_t a = 0;
  const std::size_t actions = scripts ? f.actions.size() : 0;
  for (std::size_t i = 0; i < f.commands.size(); ++i) {
    for (; a < actions && f.actions[a].afterCommands <= i; ++a)
      QueueActions(clip, f.actions[a].code);
    ApplyCommand(clip, f.commands[i], frame);
    if (clip.removed) return;
  }
  for (; a < actions; ++a) QueueActions(clip, f.actions[a].code);
}

void Stage::QueueFrameActions(Clip& clip, int frame) {
  const Frame& f = clip.timeline->frames[static_cast<std::size_t>(frame)];
  for (const InitAction& init : f.initActions)
    if (!InitDone(clip.movie, init.sprite)) {
      if (scripts_) urgent_.push_back({&clip, Queued::Kind::kInit, init.code, {}, 0, init.sprite});
    }
  Import(clip, frame);
  for (const FrameAction& a : f.actions) QueueActions(clip, a.code);
}

void Stage::Import(Clip& root, int frame) {
  const Movie* movie = root.movie;
  if (!scripts_ || !movie || movie->imports.empty() || root.timeline != &movie->timeline) return;
  for (std::size_t i = 0; i < movie->imports.size(); ++i) {
    const Movie::Import& import = movie->imports[i];
    if (static_cast<int>(import.frame) != frame || !importsDone_.insert({movie, i}).second)
      continue;
    const Movie* from = scripts_->ImportedMovie(import.url);
    if (!from || from == movie) continue;
    for (const auto& [id, name] : import.symbols)
      if (const auto theirs = from->FindExport(name)) imported_[{movie, id}] = {from, *theirs};
    for (const Frame& f : from->timeline.frames)
      for (const InitAction& init : f.initActions)
        if (!InitDone(from, init.sprite))
          urgent_.push_back({&root, Queued::Kind::kInit, init.code, {}, 0, init.sprite});
  }
}

void Stage::ApplyProperties(Clip& t, const PlaceCommand& cmd) {
  if (!t.scriptTransformed) {
    if (cmd.matrix) t.SetMatrix(*cmd.matrix);
    if (cmd.cxform) t.cxform = *cmd.cxform;
  }
  if (cmd.ratio) t.ratio = *cmd.ratio;
  if (t.kind == ClipKind::kVideo) ShowVideoFrame(t);
  if (cmd.clipDepth) t.clipDepth = *cmd.clipDepth;
  if (cmd.visible) t.visible = *cmd.visible;
  if (cmd.blendMode) t.blendMode = *cmd.blendMode;
  if (cmd.cacheAsBitmap) t.cacheAsBitmap = *cmd.cacheAsBitmap;
  if (cmd.filters) t.filters = *cmd.filters;
  if (cmd.opaqueBackground) t.opaqueBackground = *cmd.opaqueBackground;
  if (cmd.name && cmd.move && !cmd.character) t.name = *cmd.name;
}

void Stage::ApplyCommand(Clip& clip, const PlaceCommand& cmd, int frame) {
  Clip* existing = clip.ChildAt(cmd.depth);
  if (cmd.kind == PlaceCommand::Kind::kRemove) {
    if (existing) RemoveFromTimeline(*existing);
    return;
  }
  if (cmd.character && (!cmd.move || !existing)) {
    // A new object; a depth that is taken keeps what it has.
    if (existing) {
      if (scripts_)
        scripts_->Warn("Failed to place object at depth " + std::to_string(cmd.depth) + ".");
      return;
    }
    Instantiate(clip, cmd.depth, *cmd.character, cmd.name.value_or(""), frame, &cmd);
    return;
  }
  if (!existing) return;
  if (cmd.character && *cmd.character != existing->character &&
      !(existing->Imported() && *cmd.character == existing->placedAs)) {
    const Timeline* tl = nullptr;
    const ClipKind kind = KindOf(*clip.movie, *cmd.character, &tl);
    if (IsGraphic(kind) && IsGraphic(existing->kind)) {
      existing->kind = kind;
      existing->character = *cmd.character;
      existing->placedAs = *cmd.character;
    } else {
      const Matrix m = existing->matrix;
      const ColorTransform cx = existing->cxform;
      const std::string n = existing->name;
      Clip* fresh = Instantiate(clip, cmd.depth, *cmd.character, n, frame, &cmd);
      if (!fresh) return;
      if (!cmd.matrix) fresh->SetMatrix(m);
      if (!cmd.cxform) fresh->cxform = cx;
      return;
    }
  }
  ApplyProperties(*existing, cmd);
}

void Stage::GotoMerged(Clip& clip, int target, bool scripts) {
  const auto& frames = clip.timeline->frames;
  const bool back = target < clip.currentFrame;
  const int from = back ? 0 : clip.currentFrame + 1;
  struct Goal {
    const PlaceCommand* place = nullptr;
    int placeFrame = -1;
    bool clear = false;  // a RemoveObject came first
    std::vector<const PlaceCommand*> mods;
  };
  std::map<int, Goal> goals;
  for (int f = from; f <= target; ++f)
    for (const PlaceCommand& cmd : frames[static_cast<std::size_t>(f)].commands) {
      Goal& g = goals[cmd.depth];
      if (cmd.kind == PlaceCommand::Kind::kRemove) {
        g = Goal{};
        g.clear = true;
      } else if (cmd.character && (!cmd.move || (!g.place && (back || g.clear)))) {
        if (g.place) continue;  // the depth is taken
        g.place = &cmd;
        g.placeFrame = f;
        g.mods.clear();
      } else {
        g.mods.push_back(&cmd);
      }
    }
  clip.currentFrame = target;
  clip.framesRun = std::max(clip.framesRun, target + 1);
  if (frameListener_ && clip.movie)
    frameListener_(*clip.movie, *clip.timeline, target, &clip == root_.get(), true);
  auto finalCharacter = [](const Goal& g) {
    std::uint16_t ch = *g.place->character;
    for (const PlaceCommand* m : g.mods)
      if (m->character) ch = *m->character;
    return ch;
  };
  auto applyGoal = [&](Goal& g, int depth) {
    Clip* existing = clip.ChildAt(depth);
    if (existing && existing->placeFrame < 0) return;  // a script's: left alone
    if (g.place && !existing) {
      Instantiate(clip, depth, *g.place->character, g.place->name.value_or(""), g.placeFrame,
                  g.place);
      if (clip.removed) return;
      existing = clip.ChildAt(depth);
    } else if (g.place && existing && back) {
      // Kept from before: back to the state the target frame gives it.
      if (!existing->scriptTransformed) {
        existing->SetMatrix(g.place->matrix.value_or(Matrix{}));
        existing->cxform = g.place->cxform.value_or(ColorTransform{});
      }
      existing->ratio = g.place->ratio.value_or(0);
      if (existing->kind == ClipKind::kVideo) ShowVideoFrame(*existing);
    }
    if (!existing) return;
    for (const PlaceCommand* m : g.mods) {
      ApplyCommand(clip, *m, g.placeFrame);
      if (clip.removed) return;
    }
  };
  if (back) {
    std::vector<Clip*> drop;
    for (auto& [depth, child] : clip.children_) {
      if (child->placeFrame < 0) continue;  // made by a script: the timeline leaves it alone
      const auto it = goals.find(depth);
      const bool keep = it != goals.end() && it->second.place && child->placeFrame <= target &&
                        child->placedAs == finalCharacter(it->second);
      if (!keep) drop.push_back(child.get());
    }
    for (Clip* c : drop) RemoveClip(*c);
  } else {
    for (auto& [depth, g] : goals)
      if (g.clear)
        if (Clip* existing = clip.ChildAt(depth)) RemoveClip(*existing);
  }
  // Going back (a loop too), the target frame's scripts run before those of the clips the jump
  // places; going forward, after them.
  if (back && scripts) QueueFrameActions(clip, target);
  for (auto& [depth, g] : goals) {
    if (clip.removed) return;
    applyGoal(g, depth);
  }
  if (!back && scripts && !clip.removed) QueueFrameActions(clip, target);
}

Clip* Stage::Instantiate(Clip& parent, int depth, std::uint16_t character, std::string_view name,
                         int placeFrame, const PlaceCommand* cmd) {
  if (parent.removed) return nullptr;
  // An imported character is the other movie's, and shows that movie's characters.
  const Movie* movie = parent.movie;
  std::uint16_t id = character;
  if (const auto it = imported_.find({movie, character}); it != imported_.end())
    std::tie(movie, id) = it->second;
  const Timeline* timeline = nullptr;
  const ClipKind kind = KindOf(*movie, id, &timeline);
  const EditText* field = nullptr;
  if (kind == ClipKind::kEditText) field = std::get_if<EditText>(&movie->characters.at(id));
  return Make(parent, depth, kind, movie, id, character, timeline, name, placeFrame, cmd, field);
}

Clip* Stage::InstantiateTextField(Clip& parent, int depth, std::string_view name,
                                  const EditText& def) {
  if (parent.removed) return nullptr;
  return Make(parent, depth, ClipKind::kEditText, parent.movie, 0, 0, nullptr, name, -1, nullptr,
              &def);
}

Clip* Stage::Make(Clip& parent, int depth, ClipKind kind, const Movie* movie,
                  std::uint16_t character, std::uint16_t placedAs, const Timeline* timeline,
                  std::string_view name, int placeFrame, const PlaceCommand* cmd,
                  const EditText* field) {
  if (instances_ >= kMaxInstances || Nesting(parent) + 1 >= kMaxNesting) return nullptr;
  if (Clip* existing = parent.ChildAt(depth)) RemoveClip(*existing);
  auto owned = std::make_unique<Clip>(*this, kind, character);
  Clip* c = owned.get();
  c->movie = movie;
  if (field)
    c->field = std::make_unique<text::TextField>(*field, c->movie->version, *fonts_, c->movie);
  c->timeline = timeline;
  c->depth = depth;
  c->name = std::string(name);
  c->parent = &parent;
  c->serial = nextSerial_++;
  c->placeFrame = placeFrame;
  c->placedAs = placedAs;
  if (c->movie) {
    if (const auto grid = c->movie->scalingGrids.find(character);
        grid != c->movie->scalingGrids.end())
      c->scale9Grid = grid->second;
  }
  if (cmd) {
    ApplyProperties(*c, *cmd);
    if (!cmd->clipActions.empty()) c->clipActions = &cmd->clipActions;
    if (cmd->className) c->className = *cmd->className;
  }
  parent.children_[depth] = std::move(owned);
  ++instances_;
  if (scripts_) scripts_->ClipCreated(*c);
  if (c->removed) return nullptr;
  if (kind == ClipKind::kButton) UpdateButtonChildren(*c);
  if (kind == ClipKind::kMovie) {
    if (cmd && scripts_) {
      // The initialize handlers of every clip the frame places run before any clip of it is
      // constructed.
      const bool initialize =
          c->clipActions &&
          std::any_of(c->clipActions->begin(), c->clipActions->end(), [](auto& a) {
            return (a.events & static_cast<std::uint32_t>(ClipEvent::kInitialize)) != 0;
          });
      if (initialize) {
        const auto firstConstruct =
            std::find_if(urgent_.begin(), urgent_.end(),
                         [](const Queued& q) { return q.kind == Queued::Kind::kConstruct; });
        urgent_.insert(firstConstruct, {c, Queued::Kind::kEvent, {}, ClipEvent::kInitialize, 0, 0});
      }
      urgent_.push_back({c, Queued::Kind::kConstruct, {}, {}, 0, 0});
    }
    if (timeline)
      ApplyFrameInOrder(*c, 0);
    else
      c->currentFrame = 0;
    // A clip a script made is constructed at once, its first frame in place.
    if (!cmd && scripts_ && !c->removed) scripts_->ConstructClip(*c);
    if (!c->removed) QueueEvent(*c, ClipEvent::kLoad);
  }
  return c->removed ? nullptr : c;
}

Clip* Stage::Level(int n) const {
  if (n == 0) return root_.get();
  const auto it = levels_.find(n);
  return it == levels_.end() ? nullptr : it->second.get();
}

std::vector<Clip*> Stage::Levels() const {
  std::vector<Clip*> out{root_.get()};
  for (const auto& [n, level] : levels_) out.push_back(level.get());
  return out;
}

const Movie* Stage::Adopt(std::unique_ptr<const Movie> movie) {
  if (!movie || loaded_.size() >= kMaxLoadedMovies) return nullptr;
  loaded_.push_back(std::move(movie));
  fonts_->AddMovie(*loaded_.back());
  return loaded_.back().get();
}

Clip* Stage::LoadInto(Clip* target, int level, const Movie* movie) {
  if (!target) {
    if (level <= 0 || level > kMaxLevels) return nullptr;
    auto& slot = levels_[level];
    if (!slot) {
      if (instances_ >= kMaxInstances) {
        levels_.erase(level);
        return nullptr;
      }
      slot = std::make_unique<Clip>(*this, ClipKind::kMovie, 0);
      slot->level = level;
      slot->movie = movie ? movie : &movie_;
      slot->serial = nextSerial_++;
      ++instances_;
      target = slot.get();
      if (scripts_) scripts_->ClipCreated(*target);
    } else {
      target = slot.get();
    }
  }
  if (target->removed || target->kind != ClipKind::kMovie) return nullptr;
  // What the clip showed goes, with the unload events of its children.
  std::vector<Clip*> children;
  for (auto& [d, child] : target->children_) children.push_back(child.get());
  for (Clip* c : children) RemoveClip(*c);
  target->drawing = Shape{};
  target->attachedBitmap.reset();
  target->character = 0;
  if (movie) target->movie = movie;
  target->timeline = movie ? &movie->timeline : nullptr;
  target->serial = nextSerial_++;
  target->currentFrame = -1;
  target->framesRun = 0;
  target->playing = true;
  target->loadPending = true;
  target->unloaded = false;
  return target;
}

void Stage::UnloadLevel(int n) {
  if (n == 0) {
    LoadInto(root_.get(), 0, nullptr);
    return;
  }
  const auto it = levels_.find(n);
  if (it == levels_.end()) return;
  std::unique_ptr<Clip> level = std::move(it->second);
  levels_.erase(it);
  std::vector<Clip*> all;
  Collect(*level, all);
  for (auto c = all.rbegin(); c != all.rend(); ++c) {
    if ((*c)->kind == ClipKind::kMovie) QueueEvent(**c, ClipEvent::kUnload);
    (*c)->removed = true;
    if (*c == hover_) hover_ = nullptr;
    if (*c == pressed_) pressed_ = nullptr;
    if (scripts_) scripts_->ClipRemoved(**c);
  }
  instances_ -= static_cast<int>(all.size());
  graveyard_.push_back(std::move(level));
}

void Stage::RemoveClip(Clip& clip) {
  if (clip.removed || !clip.parent) return;
  // Unload runs children first, then the clip; the runtime hears of each.
  std::vector<Clip*> all;
  Collect(clip, all);
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    Clip* c = *it;
    if (c->kind == ClipKind::kMovie && !c->unloadQueued) QueueEvent(*c, ClipEvent::kUnload);
    c->removed = true;
    if (c == hover_) hover_ = nullptr;
    if (c == pressed_) pressed_ = nullptr;
    if (scripts_) scripts_->ClipRemoved(*c);
  }
  instances_ -= static_cast<int>(all.size());
  Clip& parent = *clip.parent;
  const auto it = parent.children_.find(clip.depth);
  if (it != parent.children_.end() && it->second.get() == &clip) {
    graveyard_.push_back(std::move(it->second));
    parent.children_.erase(it);
  }
}

void Stage::RemoveFromTimeline(Clip& clip) {
  if (clip.removed || !clip.parent) return;
  const int behind = -clip.depth - 1;
  if (!scripts_ || clip.kind != ClipKind::kMovie || clip.unloadQueued ||
      clip.parent->ChildAt(behind) || !scripts_->AnswersUnload(clip)) {
    RemoveClip(clip);
    return;
  }
  // Unload runs children first, then the clip, as when it leaves at once.
  std::vector<Clip*> all;
  Collect(clip, all);
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if ((*it)->kind == ClipKind::kMovie) QueueEvent(**it, ClipEvent::kUnload);
    (*it)->unloadQueued = true;
  }
  MoveToDepth(clip, behind);
  lingering_.push_back(&clip);
}

void Stage::EndLingering() {
  std::vector<Clip*> done;
  done.swap(lingering_);
  for (Clip* c : done) RemoveClip(*c);
}

void Stage::MoveToDepth(Clip& clip, int depth) {
  if (!clip.parent || clip.depth == depth) return;
  Clip& parent = *clip.parent;
  auto mine = parent.children_.find(clip.depth);
  if (mine == parent.children_.end()) return;
  std::unique_ptr<Clip> self = std::move(mine->second);
  parent.children_.erase(mine);
  auto other = parent.children_.find(depth);
  if (other != parent.children_.end()) {
    std::unique_ptr<Clip> o = std::move(other->second);
    parent.children_.erase(other);
    o->depth = clip.depth;
    o->placeFrame = -1;
    parent.children_[o->depth] = std::move(o);
  }
  self->depth = depth;
  self->placeFrame = -1;
  parent.children_[depth] = std::move(self);
}

void Stage::QueueActions(Clip& clip, ByteSpan code) {
  if (!scripts_ || code.empty()) return;
  queue_.push_back({&clip, Queued::Kind::kActions, code, {}, 0, 0});
}

void Stage::QueueEvent(Clip& clip, ClipEvent event, int keyCode) {
  if (!scripts_) return;
  queue_.push_back({&clip, Queued::Kind::kEvent, {}, event, keyCode, 0});
}

void Stage::RunQueue() {
  if (!scripts_) {
    queue_.clear();
    urgent_.clear();
    return;
  }
  for (std::size_t n = 0; n < kMaxQueuedPerRun; ++n) {
    if (queue_.empty() && urgent_.empty()) {
      // The clips waiting for their unload events leave once the events have run.
      if (lingering_.empty()) break;
      EndLingering();
      continue;
    }
    std::deque<Queued>& from = urgent_.empty() ? queue_ : urgent_;
    const Queued q = from.front();
    from.pop_front();
    const bool unload = q.kind == Queued::Kind::kEvent && q.event == ClipEvent::kUnload;
    if (q.clip->removed && !unload) continue;
    switch (q.kind) {
      case Queued::Kind::kActions:
        scripts_->RunActions(*q.clip, q.code);
        break;
      case Queued::Kind::kEvent:
        scripts_->FireClipEvent(*q.clip, q.event, q.keyCode);
        break;
      case Queued::Kind::kInit:
        scripts_->RunInitActions(*q.clip, q.sprite, q.code);
        break;
      case Queued::Kind::kConstruct:
        scripts_->ConstructClip(*q.clip);
        break;
    }
  }
  queue_.clear();
  urgent_.clear();
  // (Past the bound too: nothing stays behind at a depth of its own.)
  EndLingering();
}

// --- paths ---

Clip* Stage::Resolve(Clip* from, std::string_view path) {
  Clip* cur = from ? from : root_.get();
  if (path.empty()) return cur;
  std::size_t i = 0;
  if (path[0] == '/') {
    cur = root_.get();
    i = 1;
  }
  const bool ignoreCase = NamesIgnoreCase();
  while (i < path.size() && cur) {
    if (path.compare(i, 2, "..") == 0 &&
        (i + 2 == path.size() || path[i + 2] == '/' || path[i + 2] == '.' || path[i + 2] == ':')) {
      cur = cur->parent;
      i += 2;
      if (i < path.size()) ++i;
      continue;
    }
    std::size_t j = i;
    while (j < path.size() && path[j] != '/' && path[j] != '.' && path[j] != ':') ++j;
    const std::string_view seg = path.substr(i, j - i);
    i = j < path.size() ? j + 1 : j;
    if (seg.empty()) continue;
    if (EqualsNoCase(seg, "_root") || EqualsNoCase(seg, "_level0")) {
      cur = &cur->Root();
    } else if (EqualsNoCase(seg, "_parent")) {
      cur = cur->parent;
    } else if (EqualsNoCase(seg, "this")) {
      // stays
    } else if (seg.size() > 6 && EqualsNoCase(seg.substr(0, 6), "_level")) {
      int n = 0;
      const auto [end, ec] = std::from_chars(seg.data() + 6, seg.data() + seg.size(), n);
      cur = ec == std::errc() && end == seg.data() + seg.size() ? Level(n) : nullptr;
    } else {
      Clip* next = nullptr;
      for (const auto& [d, c] : cur->children_)
        if (ignoreCase ? EqualsNoCase(c->name, seg) : c->name == seg) {
          next = c.get();
          break;
        }
      cur = next;
    }
  }
  return cur;
}

// --- buttons and input ---

void Stage::UpdateButtonChildren(Clip& button) {
  const auto it = button.movie->characters.find(button.character);
  if (it == button.movie->characters.end()) return;
  const auto* def = std::get_if<Button>(&it->second);
  if (!def) return;
  std::map<int, const ButtonRecord*> want;
  for (const ButtonRecord& rec : def->records)
    if (rec.states & button.buttonState) want[rec.depth] = &rec;
  std::vector<Clip*> drop;
  for (auto& [d, child] : button.children_) {
    const auto w = want.find(d);
    if (w == want.end() || w->second->character != child->character) drop.push_back(child.get());
  }
  for (Clip* c : drop) RemoveClip(*c);
  for (const auto& [d, rec] : want) {
    Clip* child = button.ChildAt(d);
    if (!child) child = Instantiate(button, d, rec->character, "", 0);
    if (!child) continue;
    child->SetMatrix(rec->matrix);
    child->cxform = rec->cxform;
    child->blendMode = rec->blendMode;
    child->filters = rec->filters;
  }
}

void Stage::SetButtonState(Clip& target, std::uint8_t state) {
  if (target.buttonState == state) return;
  if (buttonListener_ && target.kind == ClipKind::kButton && target.movie) {
    const std::uint8_t from = target.buttonState;
    const int transition = from == kButtonOver && state == kButtonUp     ? 0
                           : from == kButtonUp && state == kButtonOver   ? 1
                           : from == kButtonOver && state == kButtonDown ? 2
                           : from == kButtonDown && state == kButtonOver ? 3
                                                                         : -1;
    if (transition >= 0) buttonListener_(*target.movie, target.character, transition);
  }
  target.buttonState = state;
  if (target.kind == ClipKind::kButton) UpdateButtonChildren(target);
}

Clip* Stage::MouseTargetAt(Clip& clip, double x, double y) {
  for (auto it = clip.children_.rbegin(); it != clip.children_.rend(); ++it) {
    Clip& c = *it->second;
    if (!c.visible || c.removed || c.clipDepth > 0) continue;
    if (c.kind == ClipKind::kButton) {
      if ((!scripts_ || scripts_->IsEnabled(c)) && PointerOn(c, x, y)) return &c;
      continue;
    }
    if (c.kind != ClipKind::kMovie) continue;
    if (scripts_ && scripts_->IsMouseTarget(c)) {
      if (PointerOn(c, x, y)) return &c;
      continue;
    }
    if (Clip* inner = MouseTargetAt(c, x, y)) return inner;
  }
  return nullptr;
}

void Stage::ButtonTransition(Clip& target, std::uint16_t conditionBit, ClipEvent event) {
  if (target.kind == ClipKind::kButton && target.parent) {
    const auto it = target.movie->characters.find(target.character);
    if (it != target.movie->characters.end())
      if (const auto* def = std::get_if<Button>(&it->second))
        for (const ButtonAction& a : def->actions)
          if (a.conditions & conditionBit) QueueActions(*target.parent, a.code);
  }
  QueueEvent(target, event);
}

bool Stage::TracksAsMenu(const Clip& clip) const {
  if (clip.kind == ClipKind::kButton) {
    const auto it = clip.movie->characters.find(clip.character);
    if (it != clip.movie->characters.end())
      if (const auto* def = std::get_if<Button>(&it->second); def && def->trackAsMenu) return true;
  }
  return scripts_ && scripts_->TracksAsMenu(clip);
}

void Stage::MouseMove(double x, double y) {
  // What the keyboard rolled over stays so until the pointer really moves.
  const bool moved = !pointerSeen_ || x != mouse_.x || y != mouse_.y;
  mouse_ = {x, y};
  pointerSeen_ = true;
  if (scripts_) scripts_->PointerUsed();
  if (scripts_) scripts_->Broadcast(ClipEvent::kMouseMove, 0, 0);
  std::vector<Clip*> all;
  CollectForEvents(all);
  for (Clip* c : all)
    if (c->kind == ClipKind::kMovie) QueueEvent(*c, ClipEvent::kMouseMove);
  UpdateHover(moved);
  RunQueue();
}

void Stage::UpdateHover(bool moved) {
  if (!pointerSeen_) return;
  const double x = mouse_.x, y = mouse_.y;
  Clip* now = MouseTargetAt(*root_, x, y);
  // A button that scripts disabled under the pointer stays the one it is over, without a word,
  // as long as it stays under it.
  const bool quiet = hover_ && scripts_ && !scripts_->IsEnabled(*hover_);
  if (quiet && !hover_->removed && Shown(*hover_) && PointerOn(*hover_, x, y)) now = hover_;
  if (now == hover_ || (!moved && hoverByKeyboard_)) return;
  hoverByKeyboard_ = false;
  if (hover_ && quiet) {
    SetButtonState(*hover_, kButtonUp);
  } else if (hover_) {
    if (mouseDown_ && pressed_ == hover_ && TracksAsMenu(*hover_)) {
      // A menu item lets the press go when the pointer leaves it, for the next item to take.
      pressed_ = nullptr;
      SetButtonState(*hover_, kButtonUp);
      ButtonTransition(*hover_, 0x100, ClipEvent::kDragOut);
    } else if (mouseDown_ && pressed_ == hover_) {
      SetButtonState(*hover_, kButtonOver);
      ButtonTransition(*hover_, 0x10, ClipEvent::kDragOut);
    } else if (!mouseDown_) {
      SetButtonState(*hover_, kButtonUp);
      ButtonTransition(*hover_, 0x02, ClipEvent::kRollOut);
    }
  }
  hover_ = now;
  if (now) {
    if (mouseDown_ && pressed_ == now) {
      SetButtonState(*now, kButtonDown);
      ButtonTransition(*now, 0x20, ClipEvent::kDragOver);
    } else if (mouseDown_ && !pressed_ && TracksAsMenu(*now)) {
      // A menu item takes a press that began elsewhere as the pointer comes over it.
      pressed_ = now;
      SetButtonState(*now, kButtonDown);
      ButtonTransition(*now, 0x80, ClipEvent::kDragOver);
    } else if (!mouseDown_) {
      SetButtonState(*now, kButtonOver);
      ButtonTransition(*now, 0x01, ClipEvent::kRollOver);
    }
  }
}

void Stage::HoverByKeyboard(Clip& clip) {
  if (mouseDown_ || clip.removed) return;
  if (hover_) {
    SetButtonState(*hover_, kButtonUp);
    ButtonTransition(*hover_, 0x02, ClipEvent::kRollOut);
  }
  hover_ = &clip;
  hoverByKeyboard_ = true;
  SetButtonState(clip, kButtonOver);
  ButtonTransition(clip, 0x01, ClipEvent::kRollOver);
}

void Stage::MouseDown() {
  mouseDown_ = true;
  if (scripts_) scripts_->PointerUsed();
  if (scripts_) scripts_->Broadcast(ClipEvent::kMouseDown, 0, 0);
  std::vector<Clip*> all;
  CollectForEvents(all);
  for (Clip* c : all)
    if (c->kind == ClipKind::kMovie) QueueEvent(*c, ClipEvent::kMouseDown);
  // (A button that scripts disabled under the pointer takes no press.)
  if (hover_ && (!scripts_ || scripts_->IsEnabled(*hover_))) {
    pressed_ = hover_;
    SetButtonState(*hover_, kButtonDown);
    ButtonTransition(*hover_, 0x04, ClipEvent::kPress);
  }
  RunQueue();
}

void Stage::MouseUp() {
  mouseDown_ = false;
  if (scripts_) scripts_->PointerUsed();
  if (scripts_) scripts_->Broadcast(ClipEvent::kMouseUp, 0, 0);
  std::vector<Clip*> all;
  CollectForEvents(all);
  for (Clip* c : all)
    if (c->kind == ClipKind::kMovie) QueueEvent(*c, ClipEvent::kMouseUp);
  if (pressed_) {
    Clip* p = pressed_;
    pressed_ = nullptr;
    if (scripts_ && !scripts_->IsEnabled(*p)) {
      // Scripts disabled it while it was down: it goes up without a word.
      SetButtonState(*p, p == hover_ ? kButtonOver : kButtonUp);
    } else if (p == hover_) {
      SetButtonState(*p, kButtonOver);
      ButtonTransition(*p, 0x08, ClipEvent::kRelease);
    } else {
      SetButtonState(*p, kButtonUp);
      ButtonTransition(*p, 0x40, ClipEvent::kReleaseOutside);
    }
  }
  RunQueue();
}

void Stage::KeyDown(int keyCode, int charCode, bool typesLater) {
  if (scripts_) scripts_->Broadcast(ClipEvent::kKeyDown, keyCode, charCode);
  std::vector<Clip*> all;
  CollectForEvents(all);
  keyTaken_ = false;
  for (Clip* c : all) {
    if (c->kind == ClipKind::kMovie) {
      QueueEvent(*c, ClipEvent::kKeyDown, keyCode);
      QueueEvent(*c, ClipEvent::kKeyPress, charCode ? charCode : keyCode);
    } else if (QueueKeyPresses(*c, keyCode, typesLater ? 0 : charCode)) {
      keyTaken_ = true;
    }
  }
  RunQueue();
  if (keyCode == 9 && scripts_ && !keyTaken_) {
    scripts_->TabKey();
    RunQueue();
  }
}

bool Stage::QueueKeyPresses(Clip& c, int keyCode, int charCode) {
  if (c.kind != ClipKind::kButton || !c.parent || !Shown(c)) return false;
  const auto it = c.movie->characters.find(c.character);
  if (it == c.movie->characters.end()) return false;
  const auto* def = std::get_if<Button>(&it->second);
  if (!def) return false;
  bool queued = false;
  for (const ButtonAction& a : def->actions)
    if (KeyPressMatches(a.conditions >> 9, keyCode, charCode)) {
      QueueActions(*c.parent, a.code);
      queued = true;
    }
  return queued;
}

void Stage::TypeCharacter(char32_t ch) {
  if (keyTaken_) return;
  // A button's key press for the character takes it (a typed character, not the key: a dead key
  // and the letter after it type one character).
  bool taken = false;
  std::vector<Clip*> all;
  CollectForEvents(all);
  for (Clip* c : all)
    if (ch <= 0x7F && QueueKeyPresses(*c, 0, static_cast<int>(ch))) taken = true;
  if (!taken && scripts_) scripts_->TypeCharacter(ch);
  RunQueue();
}

void Stage::RightButton() {
  if (scripts_) scripts_->PointerUsed();
}

void Stage::ButtonHeld(int keyCode, bool down) {
  if (scripts_) scripts_->ButtonHeld(keyCode, down);
}

void Stage::PasteText(std::u32string_view chars) {
  if (!scripts_) return;
  scripts_->PasteText(chars);
  RunQueue();
}

void Stage::MoveCaret(bool right) {
  if (!scripts_) return;
  scripts_->MoveCaret(right);
  RunQueue();
}

void Stage::KeyUp(int keyCode, int charCode) {
  if (scripts_) scripts_->Broadcast(ClipEvent::kKeyUp, keyCode, charCode);
  std::vector<Clip*> all;
  CollectForEvents(all);
  for (Clip* c : all)
    if (c->kind == ClipKind::kMovie) QueueEvent(*c, ClipEvent::kKeyUp, keyCode);
  RunQueue();
}

}  // namespace dbx::swf
