// Drivers that push arbitrary bytes through the engine, shared by the
// libFuzzer targets and by the regression test that replays what they found.
//
// Every driver returns normally for any input. When the engine breaks one of
// its promises (an edit leaves an unsound hive, a text is not UTF-8, a saved
// hive reads back differently, ...) the driver prints what broke and stops
// the process with a trap, which the fuzzer records as a crash.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tol::fuzz {

using Bytes = std::vector<std::uint8_t>;

// The input is a hive file: every key, value, name and text is read, the hive
// is checked, searched and exported, and its root is copied into the base hive.
void run_read(std::span<const std::uint8_t> input);
// The input is a .reg file imported below the base hive's root.
void run_import(std::span<const std::uint8_t> input);
// The input is a search and a replace over the base hive (see search_input).
void run_search(std::span<const std::uint8_t> input);
// The input is a sequence of edits of the base hive (see EditScript).
void run_edit(std::span<const std::uint8_t> input);
// The input is a transaction log beside the base hive left dirty (see
// log_input): what recovery makes of it must read safely and save clean.
void run_logs(std::span<const std::uint8_t> input);

// The hive the import, search and edit drivers start from, and the second
// hive that edits copy keys from.
Bytes base_hive();
Bytes donor_hive();

// --- Input encodings, for seeds and regression inputs. ------------------------

// The logs driver's input: a mode byte, then the log file. Mode bit 0 has the
// driver recompute the hashes of every entry and bit 1 the checksum of the
// log's base block, so that mutated pages get past both and reach recovery.
Bytes log_input(std::uint8_t mode, std::span<const std::uint8_t> log);
// The base hive with its sequence numbers left apart, as a crash leaves them.
Bytes dirty_base_hive();

// Search flags: bit 0 keys, 1 value names, 2 data, 3 whole text, 4 regex.
// Replace flags: bit 0 names, 1 data, 2 match case, 3 whole text, 4 regex,
// 5 dry run. `start` picks the key the replace starts at.
Bytes search_input(std::uint8_t search_flags, std::uint8_t replace_flags, std::uint8_t start,
                   std::string_view find, std::string_view replacement);

enum class EditOp : std::uint8_t {
  create_key,
  delete_key,
  rename_key,
  set_value,
  delete_value,
  rename_value,
  copy_within,
  copy_from_donor,
  store_security,
  undo,
  save_reopen,
  count,
};

// Keys are picked by index into the hive's keys in walk order (modulo their
// number), names from a fixed list of awkward names (modulo its size) unless
// given as raw bytes.
class EditScript {
 public:
  EditScript& create_key(std::uint8_t parent, std::uint8_t name);
  EditScript& delete_key(std::uint8_t key);
  EditScript& rename_key(std::uint8_t key, std::uint8_t name);
  EditScript& set_value(std::uint8_t key, std::uint8_t name, std::uint8_t type,
                        std::span<const std::uint8_t> data);
  // Data of one of the sizes around the storage boundaries (see size_class).
  EditScript& set_sized_value(std::uint8_t key, std::uint8_t name, std::uint8_t type,
                              std::uint8_t size_class);
  EditScript& delete_value(std::uint8_t key, std::uint8_t name);
  EditScript& rename_value(std::uint8_t key, std::uint8_t from, std::uint8_t to);
  EditScript& copy_within(std::uint8_t key, std::uint8_t parent);
  EditScript& copy_from_donor(std::uint8_t donor_key, std::uint8_t parent);
  // mutation 0 stores the default descriptor; otherwise byte (mutation - 1)
  // of it is replaced by `value`.
  EditScript& store_security(std::uint8_t key, std::uint8_t mutation, std::uint8_t value);
  EditScript& undo();
  EditScript& save_reopen();
  // A raw name instead of a listed one: the next name byte takes it.
  static std::uint8_t raw_name(std::size_t length) {
    return static_cast<std::uint8_t>(0xC0 + length);
  }
  EditScript& bytes(std::span<const std::uint8_t> raw);

  const Bytes& input() const { return input_; }

 private:
  EditScript& op(EditOp op);
  Bytes input_;
};

// Number of names in the edit driver's list, and the number of size classes.
std::size_t edit_name_count();
inline constexpr std::uint8_t kSizeClassBase = 0xF0;
std::size_t edit_size_class_count();

// Seed files for each driver: name and content.
struct Seed {
  std::string name;
  Bytes bytes;
};
std::vector<Seed> read_seeds();
std::vector<Seed> import_seeds();
std::vector<Seed> search_seeds();
std::vector<Seed> edit_seeds();
std::vector<Seed> logs_seeds();

}  // namespace tol::fuzz
