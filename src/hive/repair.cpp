// Repair and compaction. The input is walked once from the root key; every
// record that survives is written straight into a fresh image through the
// engine's allocator, which on an empty image places cells one after another
// and gives a cell larger than a bin a bin of its own. A key's subkey list is
// written after its subtree, once the new offsets of its subkeys are known.
#include "hive/repair.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>

#include "hive/create.h"
#include "hive/edit.h"
#include "hive/format.h"
#include "hive/names.h"
#include "hive/save.h"
#include "hive/security.h"
#include "hive/winorder.h"

namespace {

// The claimed length of a value's data, what a reader should get.
std::uint32_t claimed_length(std::uint32_t length_field) {
  return length_field & ~TOL_DATA_INLINE_BIT;
}

// Windows refuses longer key names.
constexpr std::size_t kMaxKeyNameUnits = 255;
// KEY_HIVE_ENTRY | KEY_NO_DELETE, which Windows expects of a hive's root key.
constexpr std::uint16_t kRootFlags = 0x0004 | 0x0008;
constexpr std::uint32_t kNkAccessBits = 0x0C;
constexpr std::uint32_t kNkLargestClass = 0x38;
constexpr std::uint32_t kNkClassLength = 0x4A;
// Entries per leaf when a key has more subkeys than one list can count.
constexpr std::size_t kRiLeafEntries = 4096;

tol::StoredName stored(const TolEncodedName& name) {
  return tol::StoredName(
      tol::ByteView(std::span<const std::uint8_t>(name.bytes).first(name.length)), name.one_byte);
}

std::uint32_t utf16_bytes(const TolEncodedName& name) {
  return name.one_byte ? std::uint32_t{name.length} * 2 : name.length;
}

// A name that survives decoding and re-encoding unchanged.
struct SoundName {
  std::string text;
  TolEncodedName encoded;
};

// Why a stored name cannot be carried over, or nullptr with `out` filled.
// Key names must be non-empty and free of backslashes (path separators);
// both must decode to text that encodes back to the same code units, or the
// new hive would hold a different name.
const char* check_name(const tol::StoredName& name, bool key, SoundName& out) {
  out.text = tol_name_decode(name.bytes().span(), name.one_byte());
  if (key && name.size() == 0) return "the name is empty";
  if (!name.one_byte() && name.bytes().size() % 2 != 0) return "the name cannot be decoded";
  out.encoded = tol_name_encode(out.text);
  const tol::StoredName again = stored(out.encoded);
  if (!out.encoded.fits || again.size() != name.size()) return "the name cannot be decoded";
  for (std::size_t i = 0; i < name.size(); ++i)
    if (again.unit(i) != name.unit(i)) return "the name cannot be decoded";
  if (!key) return nullptr;
  if (out.text.find('\\') != std::string::npos) return "the name contains a backslash";
  if (name.size() > kMaxKeyNameUnits) return "the name is longer than 255 characters";
  return nullptr;
}

std::string hex(std::uint32_t v) {
  char buf[16];
  g_snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::string child_path(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

// Windows' order of the items (stable) as indexes. Of names Windows takes for
// the same, the one listed first is kept: `twin` marks the later ones.
template <typename T>
std::vector<std::size_t> windows_order(const std::vector<T>& items, std::vector<bool>& twin) {
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto compare = [&items](std::size_t a, std::size_t b) {
    return tol::compare_windows(stored(items[a].name.encoded), stored(items[b].name.encoded));
  };
  auto less = [&compare](std::size_t a, std::size_t b) { return compare(a, b) < 0; };
  if (!std::is_sorted(order.begin(), order.end(), less))
    std::stable_sort(order.begin(), order.end(), less);
  twin.assign(items.size(), false);
  for (std::size_t i = 1; i < order.size(); ++i)
    if (compare(order[i - 1], order[i]) == 0) twin[order[i]] = true;
  return order;
}

class Repair {
 public:
  Repair(const TolHive& in, TolHive& out, TolRepairReport& report)
      : in_(in), out_(out), report_(report), visited_(in.bins_length) {}

  // The new root key's offset, or nothing when the input's root is unreadable.
  std::optional<std::uint32_t> run() {
    const std::uint32_t root = in_.root_cell;
    if (!tol_hive_key(in_, root)) return std::nullopt;
    SoundName name;
    const tol::StoredName stored_name = tol::stored_key_name(in_, root);
    if (const char* why = check_name(stored_name, true, name)) {
      drop("", std::string("root key: ") + why + "; it is named ROOT");
      name.encoded = tol_name_encode("ROOT");
    }
    const auto written = key(root, TOL_NO_CELL, name.encoded, "", 0, kNoSecurity);
    link_security_records();
    return written ? std::optional(written->nk) : std::nullopt;
  }

 private:
  static constexpr std::size_t kNoSecurity = static_cast<std::size_t>(-1);

  struct Written {
    std::uint32_t nk = TOL_NO_CELL;
    std::uint32_t name_bytes = 0;
    std::uint32_t class_bytes = 0;
  };
  struct Candidate {
    std::uint32_t off = TOL_NO_CELL;
    SoundName name;
  };
  struct SecurityRecord {
    std::uint32_t off = TOL_NO_CELL;
    std::uint32_t refs = 0;
  };

  void drop(const std::string& path, std::string reason) {
    report_.drops.push_back({path, std::move(reason)});
  }

  std::optional<Written> key(std::uint32_t src, std::uint32_t parent, const TolEncodedName& name,
                             const std::string& path, int depth, std::size_t parent_security) {
    if (depth >= TOL_MAX_KEY_DEPTH) {
      drop(path, "nested deeper than " + std::to_string(TOL_MAX_KEY_DEPTH - 1) + " levels");
      return std::nullopt;
    }
    if (visited_[src]) {
      drop(path, "the key was reached before (listed twice or in a cycle)");
      return std::nullopt;
    }
    visited_[src] = true;
    // The input is never written, so this view stays valid throughout.
    const tol::ByteView k = *tol_hive_key(in_, src);

    const std::size_t security = security_of(k, path, parent_security);
    ++security_[security].refs;

    TolNkFields f;
    f.parent = parent;
    f.sk = security_[security].off;
    f.largest_subkey_name = k.u32(TOL_NK_MAX_SUBKEY_NAME) & 0xFFFF0000u;
    if (const std::uint16_t length = k.u16(kNkClassLength); length > 0) {
      const auto cls = tol_hive_cell(in_, k.u32(TOL_NK_CLASS));
      if (cls && cls->size() >= length) {
        f.class_cell = tol_hive_alloc_cell(out_, length);
        tol_hive_cell_mut(out_, f.class_cell)->put_bytes(0, cls->sub(0, length).span());
        f.class_length = length;
      } else {
        drop(path, "the class name is unreadable");
      }
    }

    const std::uint32_t nk = tol_hive_write_nk(out_, name, f);
    {
      auto rec = tol_hive_key_mut(out_, nk);
      auto flags = static_cast<std::uint16_t>(k.u16(TOL_NK_FLAGS) & ~TOL_NK_FLAG_ASCII_NAME);
      if (name.one_byte) flags |= TOL_NK_FLAG_ASCII_NAME;
      if (parent == TOL_NO_CELL) flags |= kRootFlags;
      rec->put_u16(TOL_NK_FLAGS, flags);
      rec->put_u64(TOL_NK_TIMESTAMP, k.u64(TOL_NK_TIMESTAMP));
      rec->put_u32(kNkAccessBits, k.u32(kNkAccessBits));
    }
    ++report_.keys;

    values(src, nk, path);
    subkeys(src, nk, path, depth, security);
    return Written{nk, utf16_bytes(name), f.class_length};
  }

  // Index into security_ of the record for the key's descriptor. A key
  // without a readable one takes its parent's (inheritance is what Windows
  // would have given it), the root the default of a new hive.
  std::size_t security_of(tol::ByteView k, const std::string& path, std::size_t parent) {
    const std::uint32_t src = k.u32(TOL_NK_SECURITY);
    if (const auto it = by_source_.find(src); it != by_source_.end()) return it->second;
    std::span<const std::uint8_t> descriptor;
    if (const auto sk = tol_hive_cell(in_, src);
        sk && sk->size() >= TOL_SK_MIN_DATA && sk->starts_with("sk")) {
      const std::uint32_t length = sk->u32(TOL_SK_DESC_LENGTH);
      if (length <= sk->size() - TOL_SK_MIN_DATA) descriptor = sk->sub(TOL_SK_DESC, length).span();
    }
    if (!tol_security_descriptor_valid(descriptor)) {
      if (parent != kNoSecurity) {
        drop(path, "the security descriptor is unreadable; the parent key's is used");
        return parent;
      }
      drop(path, "the security descriptor is unreadable; a default one is used");
      return record_for(tol_default_security_descriptor());
    }
    const std::size_t index = record_for(descriptor);
    by_source_.emplace(src, index);
    return index;
  }

  std::size_t record_for(std::span<const std::uint8_t> descriptor) {
    std::string bytes(descriptor.begin(), descriptor.end());
    if (const auto it = by_descriptor_.find(bytes); it != by_descriptor_.end()) return it->second;
    const auto n = static_cast<std::uint32_t>(descriptor.size());
    const std::uint32_t off = tol_hive_alloc_cell(out_, TOL_SK_MIN_DATA + n);
    auto sk = tol_hive_cell_mut(out_, off);
    sk->put_u8(0, 's');
    sk->put_u8(1, 'k');
    sk->put_u32(TOL_SK_DESC_LENGTH, n);
    sk->put_bytes(TOL_SK_DESC, descriptor);
    security_.push_back({off, 0});
    by_descriptor_.emplace(std::move(bytes), security_.size() - 1);
    return security_.size() - 1;
  }

  // The ring Windows walks from the root key's record, in order of first use.
  void link_security_records() {
    const std::size_t n = security_.size();
    for (std::size_t i = 0; i < n; ++i) {
      auto sk = tol_hive_cell_mut(out_, security_[i].off);
      sk->put_u32(TOL_SK_FLINK, security_[(i + 1) % n].off);
      sk->put_u32(TOL_SK_BLINK, security_[(i + n - 1) % n].off);
      sk->put_u32(TOL_SK_REFCOUNT, security_[i].refs);
    }
    report_.security_records = static_cast<std::uint32_t>(n);
  }

  void values(std::uint32_t src, std::uint32_t nk, const std::string& path) {
    const std::uint32_t count = tol_hive_value_count(in_, src);
    if (count == 0) return;
    const auto list = tol_hive_cell(in_, tol_hive_key(in_, src)->u32(TOL_NK_VALUE_LIST));
    if (!list) {
      drop(path, "the value list is unreadable (" + std::to_string(count) + " values)");
      return;
    }
    const auto listed = static_cast<std::uint32_t>(std::min<std::size_t>(count, list->size() / 4));
    if (listed < count)
      drop(path, "the value list holds only " + std::to_string(listed) + " of " +
                     std::to_string(count) + " values");

    std::vector<Candidate> found;
    found.reserve(listed);
    for (std::uint32_t i = 0; i < listed; ++i) {
      const std::uint32_t off = list->u32(std::size_t{i} * 4);
      const auto vk = tol_hive_vk(in_, off);
      if (!vk) {
        drop(path, "value " + std::to_string(i) + ": the record at " + hex(off) + " is unreadable");
        continue;
      }
      Candidate c{off, {}};
      const tol::StoredName name(vk->sub(TOL_VK_NAME, vk->u16(TOL_VK_NAME_LENGTH)),
                                 (vk->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0);
      if (const char* why = check_name(name, false, c.name)) {
        drop(path, "value \"" + c.name.text + "\": " + why);
        continue;
      }
      found.push_back(std::move(c));
    }
    // Values keep their order; sorting only finds the twins.
    std::vector<bool> twin;
    windows_order(found, twin);
    std::vector<std::uint32_t> written;
    written.reserve(found.size());
    std::uint32_t largest_name = 0;
    std::uint32_t largest_data = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
      const Candidate& c = found[i];
      if (twin[i]) {
        drop(path, "value \"" + c.name.text + "\": an earlier value has the same name");
        continue;
      }
      const tol::ByteView vk = *tol_hive_vk(in_, c.off);
      const std::uint32_t length_field = vk.u32(TOL_VK_DATA_LENGTH);
      const std::vector<std::uint8_t> data =
          tol_hive_value_data(in_, length_field, vk.u32(TOL_VK_DATA_OFFSET));
      const std::string label = "value \"" + c.name.text + "\": ";
      if (data.size() < claimed_length(length_field))
        drop(path, label + "only " + std::to_string(data.size()) + " of " +
                       std::to_string(claimed_length(length_field)) + " data bytes are readable");
      const auto fields = tol_hive_store_data(out_, data);
      if (!fields) {
        drop(path, label + "the data are too long to store");
        continue;
      }
      written.push_back(tol_hive_write_vk(out_, c.name.encoded, vk.u32(TOL_VK_TYPE), *fields));
      largest_name = std::max(largest_name, utf16_bytes(c.name.encoded));
      largest_data = std::max(largest_data, static_cast<std::uint32_t>(data.size()));
      ++report_.values;
    }
    if (written.empty()) return;

    const auto n = static_cast<std::uint32_t>(written.size());
    const std::uint32_t out_list = tol_hive_alloc_cell(out_, n * 4);
    auto cell = tol_hive_cell_mut(out_, out_list);
    for (std::uint32_t i = 0; i < n; ++i) cell->put_u32(std::size_t{i} * 4, written[i]);
    auto rec = tol_hive_key_mut(out_, nk);
    rec->put_u32(TOL_NK_VALUE_COUNT, n);
    rec->put_u32(TOL_NK_VALUE_LIST, out_list);
    rec->put_u32(TOL_NK_MAX_VALUE_NAME, largest_name);
    rec->put_u32(TOL_NK_MAX_VALUE_DATA, largest_data);
  }

  void subkeys(std::uint32_t src, std::uint32_t nk, const std::string& path, int depth,
               std::size_t security) {
    const std::vector<std::uint32_t> entries = tol_hive_subkeys(in_, src);
    if (entries.empty()) return;
    std::vector<Candidate> found;
    found.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto sub = tol_hive_key(in_, entries[i]);
      if (!sub) {
        drop(path, "subkey " + std::to_string(i) + ": the record at " + hex(entries[i]) +
                       " is unreadable");
        continue;
      }
      const std::uint16_t length = sub->u16(TOL_NK_NAME_LENGTH);
      if (sub->size() < std::size_t{TOL_NK_MIN_DATA} + length) {
        drop(path, "subkey " + std::to_string(i) + ": the name runs past the end of its record");
        continue;
      }
      Candidate c{entries[i], {}};
      // A name that is not sound makes no path: the parent's path tells where.
      if (const char* why = check_name(tol::stored_key_name(in_, entries[i]), true, c.name)) {
        drop(path, "subkey " + std::to_string(i) + " \"" + c.name.text + "\": " + why);
        continue;
      }
      found.push_back(std::move(c));
    }
    std::vector<bool> twin;
    const std::vector<std::size_t> order = windows_order(found, twin);

    std::vector<std::uint32_t> written;
    written.reserve(found.size());
    std::uint32_t largest_name = 0;
    std::uint32_t largest_class = 0;
    for (const std::size_t i : order) {
      if (twin[i]) {
        drop(child_path(path, found[i].name.text), "an earlier sibling has the same name");
        continue;
      }
      const auto child = key(found[i].off, nk, found[i].name.encoded,
                             child_path(path, found[i].name.text), depth + 1, security);
      if (!child) continue;
      written.push_back(child->nk);
      largest_name = std::max(largest_name, child->name_bytes);
      largest_class = std::max(largest_class, child->class_bytes);
    }
    if (written.empty()) return;

    const std::uint32_t list = write_subkey_list(written);
    auto rec = tol_hive_key_mut(out_, nk);
    rec->put_u32(TOL_NK_SUBKEY_COUNT, static_cast<std::uint32_t>(written.size()));
    rec->put_u32(TOL_NK_SUBKEY_LIST, list);
    rec->put_u32(TOL_NK_MAX_SUBKEY_NAME,
                 rec->u32(TOL_NK_MAX_SUBKEY_NAME) | std::min<std::uint32_t>(largest_name, 0xFFFF));
    rec->put_u32(kNkLargestClass, largest_class);
  }

  // One list while its 16-bit count suffices, else an "ri" over leaf lists.
  std::uint32_t write_subkey_list(const std::vector<std::uint32_t>& entries) {
    if (entries.size() <= 0xFFFF) return tol_hive_write_subkey_list(out_, entries);
    std::vector<std::uint32_t> leaves;
    for (std::size_t at = 0; at < entries.size(); at += kRiLeafEntries) {
      const auto end = entries.begin() + static_cast<std::ptrdiff_t>(
                                             std::min(entries.size(), at + kRiLeafEntries));
      leaves.push_back(tol_hive_write_subkey_list(
          out_, std::vector<std::uint32_t>(entries.begin() + static_cast<std::ptrdiff_t>(at), end)));
    }
    const auto n = static_cast<std::uint32_t>(leaves.size());
    const std::uint32_t ri = tol_hive_alloc_cell(out_, 4 + n * 4);
    auto cell = tol_hive_cell_mut(out_, ri);
    cell->put_u8(0, 'r');
    cell->put_u8(1, 'i');
    cell->put_u16(2, static_cast<std::uint16_t>(n));
    for (std::uint32_t i = 0; i < n; ++i) cell->put_u32(4 + std::size_t{i} * 4, leaves[i]);
    return ri;
  }

  const TolHive& in_;
  TolHive& out_;
  TolRepairReport& report_;
  // By nk offset: a key is written once however many lists name it.
  std::vector<bool> visited_;
  std::vector<SecurityRecord> security_;
  std::unordered_map<std::uint32_t, std::size_t> by_source_;
  std::unordered_map<std::string, std::size_t> by_descriptor_;
};

// The base block fields a repaired hive carries over: the rest describe the
// image, which is new.
void start_base_block(const TolHive& in, TolHive& out) {
  const tol::ByteView from = in.base();
  out.base_copy.assign(TOL_BASE_BLOCK_SIZE, 0);
  tol::MutByteView base = tol_hive_base_mut(out);
  static constexpr std::uint8_t kSignature[] = {'r', 'e', 'g', 'f'};
  base.put_bytes(0, kSignature);
  base.put_u32(TOL_BASE_SEQ_PRIMARY, from.u32(TOL_BASE_SEQ_PRIMARY));
  base.put_u32(TOL_BASE_SEQ_SECONDARY, from.u32(TOL_BASE_SEQ_PRIMARY));
  base.put_u64(0x0C, from.u64(0x0C));  // last written
  base.put_u32(0x14, from.u32(0x14));  // major version
  base.put_u32(0x18, from.u32(0x18));  // minor version
  base.put_u32(0x1C, 0);               // primary hive file
  base.put_u32(0x20, 1);               // direct memory load format
  base.put_u32(0x2C, 1);               // clustering factor
  // The file name, then the resource manager and log ids, the flags, the
  // transaction manager id and the last reorganization time.
  base.put_bytes(0x30, from.sub(0x30, 0x80).span());
}

void set_error(GError** error, GFileError code, const std::string& message) {
  g_set_error_literal(error, G_FILE_ERROR, code, message.c_str());
}

}  // namespace

bool tol_hive_repair(const TolHive& in, const std::string& out_path, TolRepairReport& report,
                     GError** error) {
  report = {};
  report.size_before =
      in.writable ? TOL_BASE_BLOCK_SIZE + std::uint64_t{in.bins_length} : in.file_size;
  if (struct stat st {}; ::lstat(out_path.c_str(), &st) == 0) {
    set_error(error, G_FILE_ERROR_EXIST,
              g_dgettext(GETTEXT_PACKAGE, "the output file exists already"));
    return false;
  } else if (errno != ENOENT) {
    const int err = errno;
    set_error(error, g_file_error_from_errno(err),
              std::string(g_dgettext(GETTEXT_PACKAGE, "cannot use the output path: ")) +
                  g_strerror(err));
    return false;
  }

  TolHive out;
  out.path = out_path;
  out.writable = true;
  out.dirty = true;
  out.heap_bins.reserve(std::size_t{in.bins_length} + (std::size_t{1} << 20));
  start_base_block(in, out);

  const auto root = Repair(in, out, report).run();
  if (!root) {
    set_error(error, G_FILE_ERROR_INVAL,
              g_dgettext(GETTEXT_PACKAGE, "the root key is unreadable, nothing can be recovered"));
    return false;
  }
  out.root_cell = *root;
  tol_hive_base_mut(out).put_u32(TOL_BASE_ROOT_CELL, *root);
  if (!tol_hive_save_new(out, in.path, error)) return false;
  report.size_after = TOL_BASE_BLOCK_SIZE + std::uint64_t{out.bins_length};
  return true;
}
