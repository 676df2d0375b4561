#include "core/registry_document.h"

#include <cstdio>

namespace dbx {
namespace {

constexpr std::string_view kHeader = "Dazzlebox settings 1";
constexpr std::string_view kTrailer = "; end";

char Fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at text[pos] == '"'; leaves pos after the closing quote.
std::optional<std::string> Unquote(std::string_view text, std::size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= text.size()) return std::nullopt;
    switch (text[pos]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (pos + 2 >= text.size()) return std::nullopt;
        int hi = HexDigit(text[pos + 1]), lo = HexDigit(text[pos + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::string RegistryDocument::NormalizeKeyPath(std::string_view path) {
  std::string out;
  for (char c : path) {
    if (c == '\\') {
      if (!out.empty() && out.back() != '\\') out += '\\';
    } else {
      out += Fold(c);
    }
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

RegistryDocument::Key* RegistryDocument::FindKey(std::string_view key) {
  const std::string wanted = NormalizeKeyPath(key);
  for (auto& k : keys_) {
    if (NormalizeKeyPath(k.path) == wanted) return &k;
  }
  return nullptr;
}

const RegistryDocument::Key* RegistryDocument::FindKey(std::string_view key) const {
  return const_cast<RegistryDocument*>(this)->FindKey(key);
}

bool RegistryDocument::HasKey(std::string_view key) const {
  return FindKey(key) != nullptr;
}

RegistryDocument::Key& RegistryDocument::CreateKey(std::string_view key) {
  // Parents first, so that every level of the path exists as a key of its own.
  std::string path;
  for (std::size_t start = 0; start <= key.size();) {
    std::size_t end = key.find('\\', start);
    if (end == std::string_view::npos) end = key.size();
    std::string_view part = key.substr(start, end - start);
    if (!part.empty()) {
      if (!path.empty()) path += '\\';
      path += part;
      if (!FindKey(path)) keys_.push_back(Key{path, {}});
    }
    start = end + 1;
  }
  Key* k = FindKey(key);
  if (!k) {  // An empty path names the root; keep it as a key of its own.
    keys_.push_back(Key{std::string(key), {}});
    k = &keys_.back();
  }
  return *k;
}

RegistryDocument::Value& RegistryDocument::SetValue(std::string_view key, std::string_view name) {
  Key& k = CreateKey(key);
  for (auto& v : k.values) {
    if (EqualsNoCase(v.name, name)) return v;
  }
  k.values.push_back(Value{std::string(name), true, {}});
  return k.values.back();
}

std::optional<std::string> RegistryDocument::ReadText(std::string_view key,
                                                      std::string_view name) const {
  const Key* k = FindKey(key);
  if (!k) return std::nullopt;
  for (const auto& v : k->values) {
    if (EqualsNoCase(v.name, name)) {
      if (!v.isText) return std::nullopt;
      return v.data;
    }
  }
  return std::nullopt;
}

void RegistryDocument::WriteText(std::string_view key, std::string_view name,
                                 std::string_view text) {
  Value& v = SetValue(key, name);
  v.isText = true;
  v.data = std::string(text);
}

void RegistryDocument::WriteRaw(std::string_view key, std::string_view name, std::string_view raw) {
  Value& v = SetValue(key, name);
  v.isText = false;
  v.data = std::string(raw);
}

std::string RegistryDocument::Serialize() const {
  std::string out(kHeader);
  out += '\n';
  for (const auto& k : keys_) {
    out += '[';
    out += Escape(k.path);
    out += "]\n";
    for (const auto& v : k.values) {
      if (v.name.empty()) {
        out += '@';
      } else {
        out += '"';
        out += Escape(v.name);
        out += '"';
      }
      out += '=';
      if (v.isText) {
        out += '"';
        out += Escape(v.data);
        out += '"';
      } else {
        out += v.data;
      }
      out += '\n';
    }
  }
  out += kTrailer;
  out += '\n';
  return out;
}

std::optional<RegistryDocument> RegistryDocument::Parse(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.size() < 2 || lines.front() != kHeader || lines.back() != kTrailer) {
    return std::nullopt;
  }
  RegistryDocument doc;
  Key* current = nullptr;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 2) return std::nullopt;
      const std::string quoted = '"' + std::string(line.substr(1, line.size() - 2)) + '"';
      std::size_t qpos = 0;
      auto path = Unquote(quoted, qpos);
      if (!path || qpos != quoted.size()) return std::nullopt;
      current = &doc.CreateKey(*path);
      continue;
    }
    if (!current) return std::nullopt;
    std::size_t pos = 0;
    std::string name;
    if (line.front() == '@') {
      pos = 1;
    } else {
      auto n = Unquote(line, pos);
      if (!n || n->empty()) return std::nullopt;
      name = std::move(*n);
    }
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    ++pos;
    const std::string path = current->path;
    if (pos < line.size() && line[pos] == '"') {
      auto v = Unquote(line, pos);
      if (!v || pos != line.size()) return std::nullopt;
      doc.WriteText(path, name, *v);
    } else {
      doc.WriteRaw(path, name, line.substr(pos));
    }
    current = doc.FindKey(path);
  }
  return doc;
}

}  // namespace dbx
