// One text field on the stage (a DefineEditText placed, or one made by a script): its text with
// formats, its box and flags, and its layout, kept until something changes. Scripts read and
// write it through the accessors; the renderer draws its Layout().
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "swf/format/movie.h"
#include "swf/text/layout.h"
#include "swf/text/rich_text.h"

namespace dbx::swf::text {

enum class AutoSize : std::uint8_t { kNone, kLeft, kCenter, kRight };

class TextField {
 public:
  // A field as the tag defines it; `version` is the movie's (texts before 6 are not UTF-8, and
  // the HTML text of older movies keeps its markup as written).
  TextField(const EditText& def, int version, FontLibrary& fonts);
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
  int version_;
  std::string variable_;
  std::optional<std::string> shownValue_;
  RichText content_;
  CharFormat newFormat_;
  ParaFormat newPara_;
  AutoSize autoSize_ = AutoSize::kNone;
  Box box_;
  int scroll_ = 1;
  bool dirty_ = true;
  Layout layout_;
  Box laidOutBox_;
};

}  // namespace dbx::swf::text
