// The playing state of a movie: the display tree of the main timeline, stepped one frame at a time
// in the original player's order, with scripts run through the Scripts interface.
//
// One frame (Step): every clip, the latest made first (so children before their parents), fires
// its enterFrame event and moves its timeline on by a frame; what the frames' display lists place
// runs its first frame at once. Frame actions, events and init actions are queued in that order
// and run after the display-list changes, then the runtime ends the frame.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "swf/display/clip.h"
#include "swf/display/scripts.h"
#include "swf/format/movie.h"
#include "swf/text/faces.h"

namespace dbx::swf {

class Stage {
 public:
  // The movie must outlive the stage.
  explicit Stage(const Movie& movie);
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // The script runtime (not owned; null plays the timeline only). Set before the first Step.
  void SetScripts(Scripts* scripts) { scripts_ = scripts; }
  Scripts* scripts() const { return scripts_; }
  const Movie& movie() const { return movie_; }
  // The faces of the movie's texts: its fonts, and the installed ones once the player sets a
  // font source.
  text::FontLibrary& fonts() { return *fonts_; }

  // Hears every frame that a timeline enters, in order or as the target of a jump (`jumped`),
  // with `root` for the main timeline: the frame's sounds start there.
  // A timeline of `movie` (the main one, or one loaded into a clip or level) entered a frame.
  using FrameListener =
      std::function<void(const Movie& movie, const Timeline&, int frame, bool root, bool jumped)>;
  void SetFrameListener(FrameListener listener) { frameListener_ = std::move(listener); }
  // Hears a button's state changes: 0 over to idle, 1 idle to over, 2 over to down, 3 down to
  // over (the order of the button's sounds).
  using ButtonListener =
      std::function<void(const Movie& movie, std::uint16_t button, int transition)>;
  void SetButtonListener(ButtonListener listener) { buttonListener_ = std::move(listener); }
  // Back to before the first frame; the next Step shows frame 0.
  void Reset();
  // Runs one frame. `timeMs` is the player's clock since the movie started.
  void Step(double timeMs = 0);
  // Lets the time up to `timeMs` pass without a frame: timers, loads and sounds that fall due run
  // (a tool that stops after its last frame lets that frame's interval pass).
  void PassTime(double timeMs);
  // The main timeline's current frame (0-based, -1 before the first Step).
  int frame() const { return root_->currentFrame; }
  Clip& root() { return *root_; }
  const Clip& root() const { return *root_; }

  // --- levels and loaded movies ---
  // The root timeline of level `n` (0: the main timeline); null when nothing is on the level.
  Clip* Level(int n) const;
  // Every level's root, level 0 first.
  std::vector<Clip*> Levels() const;
  // Keeps a movie that was loaded for as long as the stage lives (clips refer to it); null when
  // the stage already keeps kMaxLoadedMovies of them.
  const Movie* Adopt(std::unique_ptr<const Movie> movie);
  // Puts `movie` (adopted, or the stage's own) into `target`: what the clip had goes (children,
  // drawing, picture), its timeline becomes the movie's main one, and the next Step runs its
  // first frame as that of a clip just made, in the order of the latest made. With a null
  // `movie` the clip is left empty. A level root, `target` may be null to make level `level`.
  // Returns the clip that shows the movie.
  Clip* LoadInto(Clip* target, int level, const Movie* movie);
  // Removes level `n` (n > 0) with its unload events; level 0 is emptied instead.
  void UnloadLevel(int n);
  static constexpr int kMaxLevels = 1024;
  static constexpr std::size_t kMaxLoadedMovies = 256;

  // Finds a clip by path from `from`: "_root.a.b", "_level0/a", "/a/b", "a.b", "../x", "_parent",
  // "this"; null when nothing matches. Names compare without regard to case before version 7.
  Clip* Resolve(Clip* from, std::string_view path);
  bool NamesIgnoreCase() const { return movie_.version < 7; }

  // --- input, in stage twips ---
  void MouseMove(double x, double y);
  void MouseDown();
  void MouseUp();
  // `typesLater`: the character comes as text input after it (TypeCharacter), where a button's
  // key press for a character is matched instead.
  void KeyDown(int keyCode, int charCode, bool typesLater = false);
  void KeyUp(int keyCode, int charCode);
  // The character the last key typed (text input, after its KeyDown): to the focused field,
  // unless a button's key press took that key.
  void TypeCharacter(char32_t ch);
  // The caret of the focused field one step right or left (a selection collapses to that end).
  void MoveCaret(bool right);
  // Text pasted (the clipboard's) into the focused field.
  void PasteText(std::u32string_view chars);
  // The keyboard gave `clip` (a button, or a sprite that acts as one) the focus: it is rolled over
  // in place of what was (which is rolled out, even when it is the same), until the pointer moves.
  void HoverByKeyboard(Clip& clip);
  // The right button went down or up (scripts do not hear of it; a focus rectangle goes).
  void RightButton();
  // A mouse button went down or up, as Key.isDown sees it (1: left, 2: right, 4: middle).
  void ButtonHeld(int keyCode, bool down);
  StagePoint mouse() const { return mouse_; }
  bool IsMouseDown() const { return mouseDown_; }

  // --- how finely the stage is drawn: the player's setting, which scripts may change ---
  enum class Quality : std::uint8_t { kLow, kMedium, kHigh, kBest };
  Quality quality() const { return quality_; }
  void SetQuality(Quality quality) { quality_ = quality; }

  // --- what clips and scripts call ---
  // Makes a clip for `character` (0: an empty clip) under `parent` at `depth`; what was there is
  // removed. `placeFrame` -1 marks a clip made by a script. The clip runs its first frame at once.
  Clip* Instantiate(Clip& parent, int depth, std::uint16_t character, std::string_view name,
                    int placeFrame, const PlaceCommand* cmd = nullptr);
  // A text field made by a script, from `def` (its box and formats).
  Clip* InstantiateTextField(Clip& parent, int depth, std::string_view name, const EditText& def);
  // Takes a clip out of the tree (unload event, then the runtime's notice); freed at the end of
  // the frame.
  void RemoveClip(Clip& clip);
  // The timeline removes `clip`: one that answers its unload event moves behind everything else
  // (depth -depth - 1), where the frame's scripts still find it, and leaves once the queued
  // scripts have run; any other clip leaves at once.
  void RemoveFromTimeline(Clip& clip);
  // Moves `clip` to `depth` in its parent, swapping with what is there.
  void MoveToDepth(Clip& clip, int depth);
  void Goto(Clip& clip, int frame);
  // Queues a block of actions or an event; run in order by RunQueue.
  void QueueActions(Clip& clip, ByteSpan code);
  void QueueEvent(Clip& clip, ClipEvent event, int keyCode = 0);
  // Queues the key press actions of a shown button that answer the key or character; whether any
  // did.
  bool QueueKeyPresses(Clip& clip, int keyCode, int charCode);
  // Runs what is queued (also what the queued scripts queue), up to a bound per frame.
  void RunQueue();

  // Sprites nest at most this deep: a sprite that places itself would otherwise recurse without
  // end.
  static constexpr int kMaxNesting = 64;
  // The number of clips alive at once is bounded for the same reason.
  static constexpr int kMaxInstances = 65536;
  int instances() const { return instances_; }

 private:
  // Finds what the pointer is over and rolls it over (and what it was over out), unless the
  // keyboard rolled something over and the pointer has not `moved`.
  void UpdateHover(bool moved);
  // Takes the clips that wait for their unload event out of the tree.
  void EndLingering();
  struct Queued {
    Clip* clip;
    enum class Kind : std::uint8_t { kActions, kEvent, kInit, kConstruct } kind;
    ByteSpan code;
    ClipEvent event;
    int keyCode;
    std::uint16_t sprite;
  };
  // `character` names the character in `movie` (the parent's, or the one it was imported from);
  // `placedAs`, in the parent's.
  Clip* Make(Clip& parent, int depth, ClipKind kind, const Movie* movie, std::uint16_t character,
             std::uint16_t placedAs, const Timeline* timeline, std::string_view name,
             int placeFrame, const PlaceCommand* cmd, const EditText* field);
  // A root timeline entered `frame`: the movies its frame imports from are loaded, their
  // characters stand for the ids it gave them, and their init actions run with the root.
  void Import(Clip& root, int frame);
  void RunFrame(Clip& clip);
  void ApplyFrameInOrder(Clip& clip, int frame, bool scripts = true);
  void ApplyCommand(Clip& clip, const PlaceCommand& cmd, int frame);
  void ApplyProperties(Clip& target, const PlaceCommand& cmd);
  void GotoMerged(Clip& clip, int target, bool scripts = true);
  void QueueFrameActions(Clip& clip, int frame);
  void InitButton(Clip& button);
  void UpdateButtonChildren(Clip& button);
  void Collect(Clip& clip, std::vector<Clip*>& out);
  Clip* MouseTargetAt(Clip& clip, double x, double y);
  void SetButtonState(Clip& target, std::uint8_t state);
  void ButtonTransition(Clip& target, std::uint16_t conditionBit, ClipEvent event);
  // Whether a button or sprite is a menu item: a press that began elsewhere passes to it.
  bool TracksAsMenu(const Clip& clip) const;
  void Destroy(std::unique_ptr<Clip> clip);
  // Every clip of every level, level 0 first, parents before children.
  void CollectAll(std::vector<Clip*>& out);
  // The clips that input events reach, in the order they hear them: the reverse of the above,
  // children before their parents and the upper levels first.
  void CollectForEvents(std::vector<Clip*>& out);
  bool InitDone(const Movie* movie, std::uint16_t sprite);
  int Nesting(const Clip& clip) const;

  const Movie& movie_;
  std::unique_ptr<text::FontLibrary> fonts_;
  Scripts* scripts_ = nullptr;
  std::unique_ptr<Clip> root_;
  std::vector<std::unique_ptr<Clip>> graveyard_;
  std::vector<Clip*> lingering_;
  std::deque<Queued> queue_;
  // Init actions and the construction of clips a timeline placed run before anything else queued.
  std::deque<Queued> urgent_;
  std::uint64_t nextSerial_ = 1;
  int instances_ = 0;
  std::map<int, std::unique_ptr<Clip>> levels_;  // levels above 0
  std::vector<std::unique_ptr<const Movie>> loaded_;
  // DoInitAction ran, by movie and sprite id.
  std::map<const Movie*, std::vector<bool>> initDone_;
  // Imported characters: by the importing movie and its id, the movie and id they come from; and
  // the imports (by movie and index) done.
  text::FontLibrary::Imports imported_;
  std::set<std::pair<const Movie*, std::size_t>> importsDone_;
  StagePoint mouse_;
  bool mouseDown_ = false;
  Quality quality_ = Quality::kHigh;
  // A button's key press took the last key down: the character it types goes nowhere.
  bool keyTaken_ = false;
  Clip* hover_ = nullptr;         // the button under the pointer ...
  bool hoverByKeyboard_ = false;  // ... or the one Tab reached, since the pointer last moved
  bool pointerSeen_ = false;      // the pointer moved or pressed at least once
  Clip* pressed_ = nullptr;       // the button pressed, until the release
  FrameListener frameListener_;
  ButtonListener buttonListener_;
};

}  // namespace dbx::swf
