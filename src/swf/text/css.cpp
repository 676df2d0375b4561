#include "swf/text/css.h"

#include <cctype>
#include <utility>

namespace dbx::swf::text {

std::optional<std::vector<CssBlock>> ParseCss(std::string_view css) {
  const std::size_t n = css.size();
  auto blank = [&](std::size_t i) { return std::isspace(static_cast<unsigned char>(css[i])) != 0; };
  std::vector<CssBlock> blocks;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < n && blank(i)) ++i;
  };
  for (;;) {
    skipBlanks();
    if (i >= n) break;
    CssBlock block;
    for (;;) {
      skipBlanks();
      const std::size_t from = i;
      while (i < n && !blank(i) && css[i] != '{' && css[i] != ',') ++i;
      if (i == from) return std::nullopt;
      block.selectors.push_back(std::string(css.substr(from, i - from)));
      skipBlanks();
      if (i >= n) return std::nullopt;
      if (css[i++] == '{') break;
      if (css[i - 1] != ',') return std::nullopt;
    }
    for (;;) {
      skipBlanks();
      if (i >= n) break;
      if (css[i] == '}') {
        ++i;
        break;
      }
      std::string name;
      bool upper = false;
      for (; i < n && css[i] != ':' && !blank(i); ++i) {
        if (upper) {
          name += static_cast<char>(std::toupper(static_cast<unsigned char>(css[i])));
          upper = false;
        } else if (css[i] == '-') {
          upper = true;
        } else {
          name += css[i];
        }
      }
      while (i < n && blank(i)) name += css[i++];  // blanks before the colon stay in the name
      if (i >= n || css[i] != ':') return std::nullopt;
      ++i;
      skipBlanks();
      const std::size_t from = i;
      while (i < n && css[i] != ';' && css[i] != '}') ++i;
      if (i >= n) return std::nullopt;
      if (!name.empty())
        block.properties.emplace_back(name, std::string(css.substr(from, i - from)));
      if (css[i++] == '}') break;
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

}  // namespace dbx::swf::text
