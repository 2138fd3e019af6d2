#include "cli/json.h"

#include <cstdio>

namespace tolcli {
namespace {
bool g_json = false;
constexpr char kDigits[] = "0123456789abcdef";
}  // namespace

void set_json_output(bool on) { g_json = on; }
bool json_output() { return g_json; }

void print_json(const Json& json) { std::printf("%s\n", json.text().c_str()); }

void Json::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) out_ += ',';
  first_.back() = false;
}

Json& Json::open(char c) {
  separate();
  out_ += c;
  first_.push_back(true);
  return *this;
}

Json& Json::close(char c) {
  out_ += c;
  first_.pop_back();
  return *this;
}

Json& Json::key(std::string_view name) {
  str(name);
  out_ += ':';
  after_key_ = true;
  return *this;
}

Json& Json::str(std::string_view text) {
  separate();
  out_ += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out_ += '\\';
      out_ += ch;
    } else if (c < 0x20) {
      out_ += "\\u00";
      out_ += kDigits[c >> 4];
      out_ += kDigits[c & 0x0F];
    } else {
      out_ += ch;
    }
  }
  out_ += '"';
  return *this;
}

Json& Json::num(std::uint64_t n) {
  separate();
  out_ += std::to_string(n);
  return *this;
}

Json& Json::boolean(bool b) {
  separate();
  out_ += b ? "true" : "false";
  return *this;
}

Json& Json::null() {
  separate();
  out_ += "null";
  return *this;
}

Json& Json::hex(std::span<const std::uint8_t> bytes) {
  separate();
  out_ += '"';
  for (const std::uint8_t b : bytes) {
    out_ += kDigits[b >> 4];
    out_ += kDigits[b & 0x0F];
  }
  out_ += '"';
  return *this;
}

bool utf16_lossless(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const unsigned u = bytes[i] | (bytes[i + 1] << 8);
    if (u == 0 || (u >= 0xDC00 && u <= 0xDFFF)) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return false;
      const unsigned low = bytes[i + 2] | (bytes[i + 3] << 8);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      i += 2;
    }
  }
  return true;
}

}  // namespace tolcli
