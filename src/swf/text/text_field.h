// One text field on the stage (a DefineEditText placed, or one made by a script): its text with
// formats, its box and flags, and its layout, kept until something changes. Scripts read and
// write it through the accessors; the renderer draws its Layout().
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "swf/format/movie.h"
#include "swf/text/layout.h"
#include "swf/text/rich_text.h"

namespace dbx::swf::text {

enum class AutoSize : std::uint8_t { kNone, kLeft, kCenter, kRight };

class TextField {
 public:
  // A field as the tag defines it; `version` is the movie's (texts before 6 are not UTF-8, and
  // the HTML text of older movies keeps its markup as written). Its fonts are `movie`'s (the
  // library's main movie when null).
  TextField(const EditText& def, int version, FontLibrary& fonts, const Movie* movie = nullptr);
  // The movie version the field was made for.
  int version() const { return version_; }

  // Plain text (UTF-8); paragraphs end at "\r" (what `text` reads back), "\n" also breaks.
  std::string Text() const;
  void SetText(std::string_view utf8);
  std::string HtmlText() const;
  void SetHtmlText(std::string_view utf8);
  // The bound variable's value shown each frame; a value equal to the one shown changes nothing.
  void ShowVariableValue(std::string_view utf8);
  const std::string& VariableName() const { return variable_; }
  void SetVariableName(std::string_view name) {
    variable_ = std::string(name);
    shownValue_.reset();
  }

  bool html = false, wordWrap = false, multiline = false, password = false;
  bool embedFonts = false, border = false, background = false, selectable = true;
  Rgba borderColor{0, 0, 0, 255}, backgroundColor{255, 255, 255, 255};
  int maxChars = 0;

  void SetAutoSize(AutoSize a);
  AutoSize GetAutoSize() const { return autoSize_; }
  void SetWordWrap(bool on);
  void SetEmbedFonts(bool on);
  void SetPassword(bool on);
  void SetTextColor(Rgba c);
  Rgba TextColor() const { return newFormat_.color; }

  // The format new text takes, and the formats of a range (all of it by default).
  const CharFormat& NewFormat() const { return newFormat_; }
  void SetNewFormat(const CharFormat& f, const ParaFormat& p);
  const ParaFormat& NewParaFormat() const { return newPara_; }
  void SetFormat(std::size_t begin, std::size_t end, const CharFormat& f, const ParaFormat* p);
  // setTextFormat: `patch` applied to the characters [begin, end) and their paragraphs.
  void ApplyFormat(std::size_t begin, std::size_t end, const FormatPatch& patch);
  // getTextFormat: what the characters [begin, end) share (an empty range: the format of the
  // character at `begin`, or the new-text format of an empty field).
  FormatPatch FormatOf(std::size_t begin, std::size_t end) const;
  // setNewTextFormat / getNewTextFormat.
  void ApplyNewFormat(const FormatPatch& patch);
  FormatPatch NewFormatPatch() const { return FormatPatch::Of(newFormat_, newPara_); }
  // Replaces the characters [begin, end) with `utf8` in the new-text format (replaceText,
  // replaceSel and appending through `text +=` all come here).
  void ReplaceText(std::size_t begin, std::size_t end, std::string_view utf8);
  // The selection (or the caret where both are equal), in characters; kept within the text.
  std::size_t SelectionBegin() const { return std::min(selBegin_, Length()); }
  std::size_t SelectionEnd() const { return std::min(selEnd_, Length()); }
  // The caret: the end of the selection where it was last set (either of its ends).
  std::size_t Caret() const { return std::min(caret_, Length()); }
  // Whether a selection or a caret was ever placed in the field (scripts read none before).
  bool HasSelection() const { return selected_; }
  // Selects [begin, end) in either order, the caret at `end`.
  void SetSelection(std::size_t begin, std::size_t end);
  // Replaces the selection with `utf8` in the new-text format; the caret follows the new text.
  void ReplaceSelection(std::string_view utf8);
  // The number of characters.
  std::size_t Length() const { return content_.text.size(); }
  // Fields that collapse white space in their HTML text (condenseWhite).
  bool condenseWhite = false;
  // The field takes input (type "input": its definition is not read-only, or a script set it) or
  // not ("dynamic").
  bool input = false;
  void SetHtml(bool on);
  // A field with a style sheet reads both its text and its HTML text as markup and gives back
  // the markup it was last given (what it shows without one otherwise).
  bool Styled() const { return styled_; }
  void SetStyled(bool on);
  // The style sheet's rules that the next text set while styled is read with.
  void SetStyleRules(StyleRules rules) { styleRules_ = std::move(rules); }
  // Reads the markup last set while styled again, with the rules as they are now (a field given
  // a style sheet shows its text in the sheet's styles).
  void Restyle() {
    if (styled_ && styledSource_) SetStyledText(std::string(*styledSource_));
  }
  void SetMultiline(bool on);
  // What scripts set that does not change how the field looks here.
  struct ScriptSettings {
    std::optional<std::string> restrict;
    std::optional<double> tabIndex;
    bool mouseWheelEnabled = true;
    std::string antiAliasType = "normal", gridFitType = "pixel";
    double sharpness = 0, thickness = 0;
  } settings;
  const RichText& Content() const { return content_; }

  // The box in the field's own twips; autoSize moves and grows it with the text.
  struct Box {
    float xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  };
  Box Bounds();
  void SetSize(float width, float height);  // twips; the box keeps its top left corner
  // The current layout (built again when something changed) and the origin of its coordinates.
  const Layout& CurrentLayout();
  float TextWidth() { return CurrentLayout().textWidth; }
  float TextHeight() { return CurrentLayout().textHeight; }
  // Lines scrolled off the top (1-based like `scroll`), and the largest useful value.
  int Scroll() const { return scroll_; }
  void SetScroll(int line);
  int MaxScroll();
  int BottomScroll();

 private:
  void Changed() { dirty_ = true; }
  Face* FaceFor(const CharFormat& f);

  FontLibrary& fonts_;
  const Movie* movie_;
  int version_;
  std::string variable_;
  std::optional<std::string> shownValue_;
  RichText content_;
  CharFormat newFormat_;
  ParaFormat newPara_;
  AutoSize autoSize_ = AutoSize::kNone;
  Box box_;
  int scroll_ = 1;
  std::size_t selBegin_ = 0, selEnd_ = 0, caret_ = 0;
  bool selected_ = false;
  bool styled_ = false;
  std::optional<std::string> styledSource_;
  StyleRules styleRules_;
  void SetStyledText(std::string_view utf8);
  bool dirty_ = true;
  Layout layout_;
  std::uint64_t layoutFonts_ = 0;  // the font library's generation the layout was made with
  Box laidOutBox_;
};

// The character that typing `ch` enters into a field that restricts what it takes to `rule`
// (none: anything): `ch` when the rule lets it in, else its other case when that is let in, else
// nothing. A rule lists characters and ranges ("a-z"); each "^" turns what follows from letting
// in to keeping out and back (a rule that starts with one lets in everything else); a backslash
// takes the next character as it is. An empty rule lets nothing in.
std::optional<char32_t> RestrictedCharacter(const std::optional<std::string>& rule, char32_t ch);

}  // namespace dbx::swf::text
