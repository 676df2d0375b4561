// An in-memory registry: keys in a hierarchy, each holding named values. It gives the registry's
// semantics to the stores that are not the real registry (the per-user file store on Linux and the
// in-memory store of tests), and it reads and writes the file store's text format.
//
// File format (UTF-8 text, one item a line, "\n" or "\r\n"):
//
//   Dazzlebox settings 1
//   [Software\DEvOrevi\My Saver\Option]
//   @=""
//   "Loaded"="True"
//   "Count"=dword:00000005
//   ; end
//
// The first line names the format. A line "[path]" starts a key; the lines after it are its values:
// `@` is the default (unnamed) value, otherwise the name is quoted. A quoted value is text; inside
// quotes, backslash escapes \\ \" \n \r \t and \xHH stand for themselves. Any other value
// (`dword:`, `hex:`) is kept as it is but is not text, so it reads as nothing. The last line is ";
// end": a file without it was cut short and counts as damaged. A damaged file reads as an empty
// store and is replaced whole by the next write.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbx {

class RegistryDocument {
 public:
  struct Value {
    std::string name;  // as first written; empty for the default value
    bool isText = true;
    std::string data;  // the text, or the raw form of a non-text value
  };
  struct Key {
    std::string path;  // as first written
    std::vector<Value> values;
  };

  // Nothing for an absent key or value, and for a value that is not text.
  std::optional<std::string> ReadText(std::string_view key, std::string_view name) const;
  // Creates the key and every missing parent, then sets the value (replacing its type).
  void WriteText(std::string_view key, std::string_view name, std::string_view text);
  // Stores a value that is not text (only the file format and tests make these).
  void WriteRaw(std::string_view key, std::string_view name, std::string_view raw);
  bool HasKey(std::string_view key) const;
  const std::vector<Key>& keys() const { return keys_; }

  std::string Serialize() const;
  // Nothing when the text is not a complete, well-formed document.
  static std::optional<RegistryDocument> Parse(std::string_view text);

  // Key paths compare without regard to case and ignore doubled or trailing separators.
  static std::string NormalizeKeyPath(std::string_view path);

 private:
  Key* FindKey(std::string_view key);
  const Key* FindKey(std::string_view key) const;
  Key& CreateKey(std::string_view key);
  Value& SetValue(std::string_view key, std::string_view name);

  std::vector<Key> keys_;
};

// ASCII case folding, as the registry and the INI reader compare names.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace dbx
