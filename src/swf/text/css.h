// CSS text as a text field's style sheet reads it: blocks of "selector, selector { name: value;
// ... }", with the quirks scripts have come to rely on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dbx::swf::text {

struct CssBlock {
  std::vector<std::string> selectors;
  std::vector<std::pair<std::string, std::string>> properties;  // name, value; in order
};

// A selector is a word (anything but blanks, commas and "{"). A property's name runs to its
// colon and may end in blanks but have none inside; its value, after its leading blanks, runs to
// ";" or "}" (its trailing blanks kept). Dashes in names camel-case the character after them
// (font-size: fontSize; a second dash stays). A block left open at the end of the text is closed
// there, unless it ends inside a property; a property without a name is dropped. Anything else
// spoils the whole text: nothing.
std::optional<std::vector<CssBlock>> ParseCss(std::string_view css);

}  // namespace dbx::swf::text
