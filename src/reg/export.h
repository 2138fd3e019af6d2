// Writing a key's subtree as a .reg file (Windows registry editor, version 5.00).
//
// The text is produced into a TolRegOutput, which either keeps all of it (for
// callers that want one string) or hands it on in pieces of about 64 KiB to a
// sink, so that a large subtree is never held in memory whole.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "hive/hive.h"

inline constexpr const char* TOL_REG_HEADER = "Windows Registry Editor Version 5.00";

class TolRegOutput {
 public:
  // Takes the next piece of text; false stops the export (a failed write).
  using Sink = std::function<bool(std::string_view)>;
  static constexpr std::size_t kChunk = 64 * 1024;

  // Keeps the whole text; take() hands it out.
  TolRegOutput() = default;
  // Passes the text to the sink whenever more than `chunk` bytes are waiting.
  explicit TolRegOutput(Sink sink, std::size_t chunk = kChunk)
      : sink_(std::move(sink)), chunk_(chunk) {}
  TolRegOutput(const TolRegOutput&) = delete;
  TolRegOutput& operator=(const TolRegOutput&) = delete;

  void append(std::string_view text) {
    if (!ok_) return;
    buffer_.append(text);
    if (sink_ && buffer_.size() >= chunk_) flush();
  }
  void append(char c) { append(std::string_view(&c, 1)); }
  // n more bytes at the end of the text, for the caller to fill at once;
  // then written() passes them on like append() does.
  char* extend(std::size_t n) {
    const std::size_t at = buffer_.size();
    buffer_.resize(at + n);
    return buffer_.data() + at;
  }
  void written() {
    if (sink_ && buffer_.size() >= chunk_) flush();
  }

  // False once the sink has refused a piece; everything after it is dropped.
  bool ok() const { return ok_; }
  // Hands what is left to the sink; the result is ok().
  bool finish() {
    if (ok_ && sink_ && !buffer_.empty()) flush();
    return ok_;
  }
  // The collected text (without a sink) and an empty buffer.
  std::string take() { return std::exchange(buffer_, {}); }

 private:
  void flush() {
    ok_ = sink_(buffer_);
    buffer_.clear();
  }

  std::string buffer_;
  Sink sink_;
  std::size_t chunk_ = kChunk;
  bool ok_ = true;
};

// Appends the block of `key` under the name `path` and then the blocks of its
// subtree, depth first, values before subkeys. `depth` counts the start key
// of an export as 0; keys at depth TOL_MAX_KEY_DEPTH are replaced by a comment.
void tol_export_tree(TolRegOutput& out, const TolHive& hive, std::uint32_t key,
                     std::string_view path, int depth);
// Appends text as a .reg quoted string: backslash and double quote escaped.
void tol_reg_append_quoted(TolRegOutput& out, std::string_view text);
// Appends bytes as "xx,xx,..." wrapped after 26 bytes per line with ",\" and
// two spaces of indent; nothing for no bytes.
void tol_reg_append_byte_list(TolRegOutput& out, std::span<const std::uint8_t> data);

// Appends one value as the export writes it: `"name"=data` and a line feed,
// the data in the form that imports back byte for byte, or a comment for a
// name no line can carry. `text` is scratch space the caller keeps.
void tol_reg_append_value(TolRegOutput& out, const TolHiveValue& value, std::string& text);

// The whole file for a key: header, empty line and the blocks of the subtree,
// the key written under its own name. False when the sink failed.
bool tol_reg_export(TolRegOutput& out, const TolHive& hive, std::uint32_t key);
// The same as one string.
std::string tol_reg_export_text(const TolHive& hive, std::uint32_t key);
// The same written to `path` through a temporary file beside it that replaces
// the path only when complete. False with a G_FILE_ERROR error on failure.
bool tol_reg_export_file(const TolHive& hive, std::uint32_t key, const std::string& path,
                         GError** error);
// What `write` puts into its output, written to `path` the same way. `write`
// returns the output's finish().
bool tol_reg_write_file(const std::string& path, const std::function<bool(TolRegOutput&)>& write,
                        GError** error);
