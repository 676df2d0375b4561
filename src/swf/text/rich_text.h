// Formatted text: characters with a format each, in paragraphs with a format each; what a text
// field holds, what its HTML text reads into and writes out from, and what the layout lays out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "swf/format/movie.h"

namespace dbx::swf::text {

struct CharFormat {
  std::string font = "Times New Roman";
  float size = 240;  // twips (the em size)
  Rgba color{0, 0, 0, 255};
  bool bold = false, italic = false, underline = false;
  std::string url, target;
  float letterSpacing = 0;  // twips
  bool kerning = false;
  friend bool operator==(const CharFormat&, const CharFormat&) = default;
};

struct ParaFormat {
  TextAlign align = TextAlign::kLeft;
  float leftMargin = 0, rightMargin = 0, indent = 0, blockIndent = 0, leading = 0;  // twips
  bool bullet = false;
  // Where tabs stop, in twips from the line's start (beyond the last, every kTabStop twips).
  std::vector<float> tabStops;
  friend bool operator==(const ParaFormat&, const ParaFormat&) = default;
};

// A partial format, as scripts read and write it (TextFormat): what is set applies, what is not
// stays; read back from a range, a value the range does not share is left unset.
struct FormatPatch {
  std::optional<std::string> font, url, target;
  std::optional<float> size, letterSpacing;  // twips
  std::optional<Rgba> color;
  std::optional<bool> bold, italic, underline, kerning, bullet;
  std::optional<TextAlign> align;
  std::optional<float> leftMargin, rightMargin, indent, blockIndent, leading;  // twips
  std::optional<std::vector<float>> tabStops;                                  // twips

  void ApplyTo(CharFormat& f) const;
  void ApplyTo(ParaFormat& p) const;
  // The patch that sets everything `f` and `p` hold.
  static FormatPatch Of(const CharFormat& f, const ParaFormat& p);
  // Unsets what differs from `other`.
  void Intersect(const FormatPatch& other);
};

// The styles of a style sheet as the markup takes them, by selector: "p", "li" and "a" style those
// tags, ".name" the tags of class="name" (<p>, <li>, <a>, <span>; the class without regard to
// case, so the selector is kept in lower case here).
using StyleRules = std::map<std::u32string, FormatPatch>;

// Paragraphs end at '\r'; there is one paragraph format per paragraph (one more than the count
// of '\r'), and one character format index per character.
struct RichText {
  std::u32string text;
  std::vector<std::uint32_t> formatOf;  // per character, into `formats`
  std::vector<CharFormat> formats;
  std::vector<ParaFormat> paragraphs{ParaFormat{}};

  // Appends characters in a format ('\r' and '\n' start a new paragraph with `para`).
  void Append(std::u32string_view chars, const CharFormat& format, const ParaFormat& para);
  std::uint32_t FormatIndex(const CharFormat& format);
  std::size_t ParagraphCount() const { return paragraphs.size(); }
};

// Plain text in one format: "\r" and "\n" each break a paragraph ("\r\n" makes two).
RichText PlainText(std::u32string_view text, const CharFormat& format, const ParaFormat& para);

// The HTML subset of text fields: <p align>, <br>, <font face size color letterSpacing kerning>,
// <b>, <i>, <u>, <a href target>, <li>, <textformat leftmargin rightmargin indent blockindent
// leading tabstops>, and the entities &lt; &gt; &amp; &quot; &apos; &nbsp; &#n; &#xh;. Unknown tags
// are dropped with their markup, unclosed ones end with the text, stray closing tags are ignored.
// Font sizes are kept between 1 and kMaxFontPixels pixels. With `condenseWhite` runs of white
// space become one blank and text of white space only goes; a closing </p> or </li> ends its
// paragraph in a `multiline` field and lets the text run on in a single-line one.
constexpr float kMaxFontPixels = 1000;
// The most tab stops a paragraph keeps.
constexpr std::size_t kMaxTabStops = 256;
// With `styles`, a tag's style applies first, then its class's, then its own attributes.
// Movies before version 8 read markup as the players of their time did (`legacy`): text of white
// space only between tags goes, a single-line field keeps the paragraph format of its first text,
// every closing </li> ends a paragraph in a multi-line one and a <p> inside an open one goes on
// with it, a closing tag closes only the innermost tag, kerning is not read, font sizes are
// whole pixels up to 127, the break of a </li> takes the format in force after it, and that of a
// </p> the format of the last <font> closed with no text in it (without bold, italic, underline
// or link) or, ending no text, `base`.
RichText ParseHtml(std::u32string_view html, const CharFormat& base, const ParaFormat& basePara,
                   bool condenseWhite = false, bool multiline = true,
                   const StyleRules* styles = nullptr, bool legacy = false);

// The text as HTML, in the form the original writes it back (<P ALIGN="..."><FONT FACE=...>);
// a paragraph's break in another format than the text before it is an empty run at its end.
std::u32string ToHtml(const RichText& text);

}  // namespace dbx::swf::text
