// JSON output of the commands (--json): a small writer of the tool's own,
// since what it writes is flat and a library would be one more dependency
// for servers that install only the command line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolcli {

// Builds one JSON text value by value; keys and values alternate inside
// objects. Strings must be UTF-8 (the engine's decoded names and texts are).
class Json {
 public:
  Json& begin_object() { return open('{'); }
  Json& end_object() { return close('}'); }
  Json& begin_array() { return open('['); }
  Json& end_array() { return close(']'); }
  Json& key(std::string_view name);
  Json& str(std::string_view text);
  Json& num(std::uint64_t n);
  Json& boolean(bool b);
  Json& null();
  // Lower-case hex digits of the bytes, as a string.
  Json& hex(std::span<const std::uint8_t> bytes);

  const std::string& text() const { return out_; }

 private:
  Json& open(char c);
  Json& close(char c);
  void separate();

  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool after_key_ = false;
};

// Whether UTF-16LE bytes decode to text without loss: even length, no zero
// unit, every surrogate paired. Names that do not carry their stored bytes
// as well ("name_hex") in JSON output.
bool utf16_lossless(std::span<const std::uint8_t> bytes);

// Whether --json was given (anywhere before "--").
void set_json_output(bool on);
bool json_output();

// Writes the text and a line feed to standard output.
void print_json(const Json& json);

}  // namespace tolcli
