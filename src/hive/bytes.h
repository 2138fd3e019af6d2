// Bounds-checked views on hive image bytes.
//
// Every read of the image goes through a ByteView handed out by the cell and
// record accessors (tol_hive_cell, tol_hive_key); no other code indexes raw
// image bytes. Reads outside the view yield 0 / empty so that a damaged hive
// can never make the program read past its image, but callers still check the
// lengths the format demands before trusting a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tol {

class ByteView {
 public:
  ByteView() = default;
  explicit ByteView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }

  // True when [off, off + n) lies inside the view, computed without overflow.
  bool has(std::size_t off, std::size_t n) const {
    return off <= bytes_.size() && n <= bytes_.size() - off;
  }

  std::uint8_t u8(std::size_t off) const { return has(off, 1) ? bytes_[off] : 0; }
  std::uint16_t u16(std::size_t off) const {
    if (!has(off, 2)) return 0;
    return static_cast<std::uint16_t>(bytes_[off] | (bytes_[off + 1] << 8));
  }
  std::uint32_t u32(std::size_t off) const {
    if (!has(off, 4)) return 0;
    return static_cast<std::uint32_t>(bytes_[off]) |
           (static_cast<std::uint32_t>(bytes_[off + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes_[off + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes_[off + 3]) << 24);
  }
  std::uint64_t u64(std::size_t off) const {
    return static_cast<std::uint64_t>(u32(off)) |
           (static_cast<std::uint64_t>(u32(off + 4)) << 32);
  }

  // The bytes [off, off + n); an empty view when they do not all lie inside.
  ByteView sub(std::size_t off, std::size_t n) const {
    return has(off, n) ? ByteView(bytes_.subspan(off, n)) : ByteView();
  }
  // The bytes from off to the end; empty when off is past the end.
  ByteView tail(std::size_t off) const {
    return off <= bytes_.size() ? ByteView(bytes_.subspan(off)) : ByteView();
  }

  bool starts_with(std::string_view sig) const {
    if (!has(0, sig.size())) return false;
    for (std::size_t i = 0; i < sig.size(); ++i)
      if (bytes_[i] != static_cast<std::uint8_t>(sig[i])) return false;
    return true;
  }

  std::span<const std::uint8_t> span() const { return bytes_; }

 private:
  std::span<const std::uint8_t> bytes_;
};

// The writable counterpart of ByteView, over the heap image of a writable hive.
// Writes outside the view are refused (they return false and change nothing).
class MutByteView {
 public:
  MutByteView() = default;
  explicit MutByteView(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  ByteView view() const { return ByteView(std::span<const std::uint8_t>(bytes_)); }
  std::size_t size() const { return bytes_.size(); }
  bool has(std::size_t off, std::size_t n) const { return view().has(off, n); }
  std::uint8_t u8(std::size_t off) const { return view().u8(off); }
  std::uint16_t u16(std::size_t off) const { return view().u16(off); }
  std::uint32_t u32(std::size_t off) const { return view().u32(off); }
  std::uint64_t u64(std::size_t off) const { return view().u64(off); }
  bool starts_with(std::string_view sig) const { return view().starts_with(sig); }

  bool put_u8(std::size_t off, std::uint8_t v) {
    if (!has(off, 1)) return false;
    bytes_[off] = v;
    return true;
  }
  bool put_u16(std::size_t off, std::uint16_t v) {
    if (!has(off, 2)) return false;
    bytes_[off] = static_cast<std::uint8_t>(v);
    bytes_[off + 1] = static_cast<std::uint8_t>(v >> 8);
    return true;
  }
  bool put_u32(std::size_t off, std::uint32_t v) {
    if (!has(off, 4)) return false;
    for (int i = 0; i < 4; ++i) bytes_[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return true;
  }
  bool put_u64(std::size_t off, std::uint64_t v) {
    if (!has(off, 8)) return false;
    for (int i = 0; i < 8; ++i) bytes_[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return true;
  }
  bool put_bytes(std::size_t off, std::span<const std::uint8_t> v) {
    if (!has(off, v.size())) return false;
    for (std::size_t i = 0; i < v.size(); ++i) bytes_[off + i] = v[i];
    return true;
  }
  bool fill(std::size_t off, std::size_t n, std::uint8_t v) {
    if (!has(off, n)) return false;
    for (std::size_t i = 0; i < n; ++i) bytes_[off + i] = v;
    return true;
  }
  MutByteView sub(std::size_t off, std::size_t n) const {
    return has(off, n) ? MutByteView(bytes_.subspan(off, n)) : MutByteView();
  }

 private:
  std::span<std::uint8_t> bytes_;
};

}  // namespace tol
