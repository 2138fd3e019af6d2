// Windows' order of subkey names, on stored names read in place.
//
// Windows finds subkeys by binary search over upper-cased UTF-16 code units
// and rejects lists that are out of that order, so every list the editor
// writes is sorted this way. Comparing the stored bytes directly (rather than
// decoded UTF-8) keeps a sort over thousands of siblings free of allocations
// and matches what Windows itself compares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hive/bytes.h"
#include "hive/hive.h"

namespace tol {

// Windows' upper case of one UTF-16 code unit: ASCII a-z; Latin-1 à-þ except ÷
// to À-Þ and ÿ to U+0178 (µ and ß stay); the simple one-to-one mapping for the
// other code units; surrogates unchanged.
char16_t upcase_unit(char16_t unit);

// A name as stored in a record: Latin-1 bytes or UTF-16LE code units.
class StoredName {
 public:
  StoredName(ByteView bytes, bool one_byte) : bytes_(bytes), one_byte_(one_byte) {}
  std::size_t size() const { return one_byte_ ? bytes_.size() : bytes_.size() / 2; }
  char16_t unit(std::size_t i) const {
    return one_byte_ ? char16_t{bytes_.u8(i)} : static_cast<char16_t>(bytes_.u16(2 * i));
  }
  ByteView bytes() const { return bytes_; }
  bool one_byte() const { return one_byte_; }

 private:
  ByteView bytes_;
  bool one_byte_;
};

// The stored name of the key at nk; the name "?" (as the reader shows it) when
// the record or its name cannot be read. Valid until the next allocation.
StoredName stored_key_name(const TolHive& hive, std::uint32_t nk);

// <0, 0, >0: unit by unit after upcase_unit, a prefix first.
int compare_windows(const StoredName& a, const StoredName& b);

}  // namespace tol
