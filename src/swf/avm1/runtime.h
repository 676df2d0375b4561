// The script runtime the timeline drives: frame and init actions, clip events, input for the
// listeners, intervals and the collector, over the display tree of `display/`.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "swf/avm1/movie_loader.h"
#include "swf/avm1/vm.h"
#include "swf/display/clip.h"
#include "swf/display/scripts.h"
#include "swf/display/stage.h"

namespace dbx::swf::avm1 {

class MovieClipObject;

class Runtime : public Scripts {
 public:
  explicit Runtime(const ScriptHost& host, Limits limits = {});
  ~Runtime() override;

  void ClipCreated(Clip& clip) override;
  void ConstructClip(Clip& clip) override;
  void ClipRemoved(Clip& clip) override;
  void RunActions(Clip& clip, ByteSpan code) override;
  void RunInitActions(Clip& root, std::uint16_t sprite, ByteSpan code) override;
  void FireClipEvent(Clip& clip, ClipEvent event, int keyCode) override;
  void Broadcast(ClipEvent event, int keyCode, int charCode) override;
  bool IsEnabled(const Clip& clip) const override;
  bool AnswersUnload(const Clip& clip) const override;
  const Movie* ImportedMovie(std::string_view url) override;
  void ButtonHeld(int keyCode, bool down) override;
  bool IsMouseTarget(const Clip& clip) const override;
  bool TracksAsMenu(const Clip& clip) const override;
  void TabKey() override;
  void TypeCharacter(char32_t ch) override;
  void MoveCaret(bool right) override;
  void PasteText(std::u32string_view chars) override;
  void PointerUsed() override { focusRectShown = false; }
  const Clip* FocusRectangle() const override;
  // Whether the keyboard moved the focus since the pointer was last used.
  bool focusRectShown = false;
  void BeginFrame(double timeMs) override;
  void EndFrame() override;
  void Warn(std::string_view message) override { vm_.Warn(message); }

  Vm& vm() { return vm_; }
  Stage& stage() { return stage_; }
  const Movie& movie() const { return movie_; }
  // The properties attachMovie / duplicateMovieClip give the clip they are making (copied before
  // its class's constructor runs).
  Object* initObject = nullptr;
  // The script object of a clip (made on demand); null for clips scripts cannot see.
  MovieClipObject* ObjectOf(Clip* clip);
  Object* ScriptObjectOf(Clip* clip);
  // TextField.prototype: the prototype of text fields.
  Object* textFieldProto = nullptr;
  Object* buttonProto = nullptr;        // Button.prototype
  Object* textSnapshotProto = nullptr;  // TextSnapshot.prototype
  Object* videoProto = nullptr;         // Video.prototype
  // The player's settings that scripts read and change through any clip (_focusrect,
  // _soundbuftime): whether focus rectangles show, and the seconds of sound buffered ahead.
  bool focusRect = true;
  int soundBufferTime = 5;
  // Keys held down now (Key.isDown).
  std::vector<int> keysDown;
  int lastKey = 0, lastAscii = 0;
  // Movies loading (movie_loader.cpp): the requests of this frame, the loaders waiting for the
  // loaded movie's first frame (the clip object and the loader), the files parsed so far.
  std::vector<MovieLoad> movieLoads;
  std::vector<std::pair<Object*, Object*>> loadInits;
  std::map<std::string, const Movie*> moviesByUrl;
  // How loaded files are read: the JPEG decoder (may be null) and the limits.
  ImageLoader* images = nullptr;
  ParseLimits loadLimits;
  // The keyboard focus (focus.cpp): a button, a text field or a clip; null when nothing has it.
  Clip* focus = nullptr;
  // Whether Selection.setFocus can give the clip the focus.
  bool TakesFocus(Clip& clip);
  // Whether Tab can reach the clip (shown or not).
  bool TabStopOf(Clip& clip);
  // Moves the focus, telling the object that loses it (onKillFocus), the one that gets it
  // (onSetFocus) and the Selection listeners (onSetFocus).
  void SetFocus(Clip* to);
  // The clip leaves the tree or is hidden: the focus goes when it is in the clip.
  void FocusGone(Clip& clip);
  // The Tab key: to the next object in the tab order (the one before with `backwards`).
  void MoveFocus(bool backwards);
  // A page asked for in a browser window (getURL): it opens nowhere; the log, when navigation is
  // logged, says what would open.
  void OpenPage(const std::string& url, std::string_view window);
  // The main movie's _url.
  std::string mainUrl = "file:///movie.swf";
  double mainBytes = 0;  // the main movie's file size (0: not known)
  // The player reports the corners of empty bounds as 0x7FFFFFF twips, divided by 20 exactly
  // (6710886.35) until a getBounds or getRect runs in code of version 8 or later, or always when
  // the main movie is of version 8 or later; from then on, for good, the twips pass through a
  // single-precision float first (6710886.4). Set once, it stays set.
  bool emptyBoundsAsFloat = false;

 private:
  std::shared_ptr<const Code> CodeFor(ByteSpan code);
  // The class registered for the sprite's exported symbol, in the table of the clip's movie.
  Object* ClassOf(const Clip& clip);
  void RunConstructor(MovieClipObject* o, Object* ctor, Object* proto);
  void GetUrl(Activation& act, const std::string& url, const Value& target, std::uint8_t flags);
  bool logNavigation_ = false;

  const Movie& movie_;
  Stage& stage_;
  Vm vm_;
  double now_ = 0;
  int instances_ = 0;
  std::map<const std::uint8_t*, std::shared_ptr<const Code>> codeCache_;
  std::vector<MovieClipObject*> removed_;
};

std::unique_ptr<Scripts> CreateRuntime(const ScriptHost& host);

// The clip behind a clip object (null for other objects and clips that have gone), and the
// runtime it belongs to.
Clip* ClipOf(Object* o);
Runtime* RuntimeOf(Object* o);

// TextField and TextFormat (text_field_object.cpp): the classes, a field coming to life (its
// listeners, its variable), the variables shown by the fields each frame.
void InstallTextField(Runtime& rt);
// Color: setRGB, getRGB, setTransform and getTransform of a clip named by path.
void InstallColor(Vm& vm);
// TextSnapshot (system_objects.cpp): the class, returning its prototype, and a snapshot of the
// clip's static texts.
Object* InstallTextSnapshot(Vm& vm);
Value NewTextSnapshot(Vm& vm, const Clip& clip, Object* proto);
// The Selection object (focus.cpp).
void InstallSelection(Runtime& rt);
void ForgetTextField(Runtime& rt);
void TextFieldCreated(Runtime& rt, Clip& clip, Object* object);
// A character typed into an input field: it replaces the selection (within maxChars), the bound
// variable follows, and the field tells onChanged.
void TypeIntoField(Runtime& rt, Clip& clip, char32_t ch);
// The clip's own _focusrect (from version 6), when a script set one.
std::optional<bool> OwnFocusRect(const Clip& clip);
// Text pasted into the field (as typing it would, with one change told).
void PasteIntoField(Runtime& rt, Clip& clip, std::u32string_view chars);
void ShowBoundVariables(Runtime& rt, Clip& clip, int nesting);

}  // namespace dbx::swf::avm1
