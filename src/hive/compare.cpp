// Comparing two subtrees: both sides' subkey lists, in Windows' order, are
// walked together like the two halves of a merge, so a comparison costs one
// pass over each side whatever the two hives hold.
#include "hive/compare.h"

#include <glib/gi18n-lib.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "hive/format.h"
#include "hive/names.h"
#include "hive/winorder.h"
#include "search/key_set.h"

namespace {

// Keys entered between two questions to keep_going: often enough for a
// window to stop a comparison of two large hives at once, rarely enough to
// cost nothing.
constexpr std::uint32_t kAskEvery = 4096;

// The engine links GLib alone; these are GIO's error domain and its
// G_IO_ERROR_CANCELLED, which callers that do link GIO match against.
GQuark io_error_quark() { return g_quark_from_static_string("g-io-error-quark"); }
constexpr int kIoErrorCancelled = 19;

constexpr std::uint32_t kNkClassLength = 0x4A;

// A key or value record with its stored name, read in place.
struct Named {
  tol::StoredName name;
  std::uint32_t off;
};

bool same_bytes(tol::ByteView a, tol::ByteView b) {
  return a.size() == b.size() && std::equal(a.span().begin(), a.span().end(), b.span().begin());
}

// Windows' order of two names. Most names met here share a long prefix
// ("Value12", "Value13") or are the same on both sides, so identical stored
// bytes are skipped in one scan and only the rest goes unit by unit.
int compare_names(const tol::StoredName& a, const tol::StoredName& b) {
  if (a.one_byte() != b.one_byte()) return tol::compare_windows(a, b);
  const auto x = a.bytes().span();
  const auto y = b.bytes().span();
  if (x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin())) return 0;
  const std::size_t n = std::min(x.size(), y.size());
  const auto end = x.begin() + static_cast<std::ptrdiff_t>(n);
  auto same = static_cast<std::size_t>(std::mismatch(x.begin(), end, y.begin()).first - x.begin());
  if (!a.one_byte()) same &= ~std::size_t{1};  // whole units only
  if (same == 0) return tol::compare_windows(a, b);
  return tol::compare_windows(tol::StoredName(a.bytes().tail(same), a.one_byte()),
                              tol::StoredName(b.bytes().tail(same), b.one_byte()));
}

// Puts a list into Windows' order of names; true when it was in order
// already. Sound hives keep subkey lists in that order, so they cost one
// pass; value lists and damaged subkey lists are sorted, names Windows takes
// as equal by record offset, and a record the list names twice is then kept
// once.
bool order(std::vector<Named>& list) {
  bool sorted = true;
  for (std::size_t i = 1; i < list.size() && sorted; ++i)
    sorted = compare_names(list[i - 1].name, list[i].name) < 0;
  if (sorted) return true;
  std::sort(list.begin(), list.end(), [](const Named& a, const Named& b) {
    const int order = compare_names(a.name, b.name);
    return order != 0 ? order < 0 : a.off < b.off;
  });
  list.erase(std::unique(list.begin(), list.end(),
                         [](const Named& a, const Named& b) { return a.off == b.off; }),
             list.end());
  return false;
}

// Whether two lists name the same names in the same places, stored alike:
// what two versions of one hive mostly hold. Such lists need no merge.
bool alike(const std::vector<Named>& a, const std::vector<Named>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Named& x, const Named& y) {
    return x.name.one_byte() == y.name.one_byte() && same_bytes(x.name.bytes(), y.name.bytes());
  });
}

// The key's class name as stored; empty when it has none or it cannot be read.
tol::ByteView class_name(const TolHive& hive, tol::ByteView nk) {
  const std::uint16_t length = nk.u16(kNkClassLength);
  if (length == 0) return {};
  const auto cell = tol_hive_cell(hive, nk.u32(TOL_NK_CLASS));
  return cell ? cell->sub(0, length) : tol::ByteView();
}

// The descriptor bytes of the key's sk record; empty when they cannot be read.
tol::ByteView descriptor(const TolHive& hive, tol::ByteView nk) {
  const auto sk = tol_hive_cell(hive, nk.u32(TOL_NK_SECURITY));
  if (!sk || sk->size() < TOL_SK_MIN_DATA || !sk->starts_with("sk")) return {};
  return sk->sub(TOL_SK_DESC, sk->u32(TOL_SK_DESC_LENGTH));
}

// Calls visit(vk offset, vk record) for each readable value of the key, the
// values tol_hive_read_value can read.
template <typename Visit>
void for_each_value(const TolHive& hive, tol::ByteView nk, Visit&& visit) {
  const std::uint64_t count = std::min(nk.u32(TOL_NK_VALUE_COUNT), hive.bins_length / 8);
  if (count == 0) return;
  const auto list = tol_hive_cell(hive, nk.u32(TOL_NK_VALUE_LIST));
  if (!list) return;
  const std::uint64_t n = std::min<std::uint64_t>(count, list->size() / 4);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint32_t off = list->u32(static_cast<std::size_t>(i) * 4);
    if (const auto vk = tol_hive_vk(hive, off)) visit(off, *vk);
  }
}

tol::StoredName value_name(tol::ByteView vk) {
  return tol::StoredName(vk.sub(TOL_VK_NAME, vk.u16(TOL_VK_NAME_LENGTH)),
                         (vk.u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0);
}

// Value data that lie in one piece (inline in the record or in one cell), as
// the reader returns them; nothing for big data, which come in segments.
std::optional<tol::ByteView> data_in_place(const TolHive& hive, tol::ByteView vk) {
  const std::uint32_t offset = vk.u32(TOL_VK_DATA_OFFSET);
  const TolDataPlace place = tol_hive_data_place(hive, vk.u32(TOL_VK_DATA_LENGTH), offset);
  switch (place.layout) {
    case TolDataLayout::empty: return tol::ByteView();
    case TolDataLayout::inline_data:
      return vk.sub(TOL_VK_DATA_OFFSET, std::min<std::uint32_t>(place.length, 4));
    case TolDataLayout::cell: {
      const auto cell = tol_hive_cell(hive, offset);
      if (!cell || cell->size() < place.length) return tol::ByteView();
      return cell->sub(0, place.length);
    }
    case TolDataLayout::big_data: break;
  }
  return std::nullopt;
}

// What differs between two values of the same name.
struct Change {
  bool type = false;
  bool data = false;
  bool any() const { return type || data; }
};

struct Side {
  explicit Side(const TolHive& h)
      : hive(h), entered(h.bins_length), levels(TOL_MAX_KEY_DEPTH) {}

  const TolHive& hive;
  // Keys listed once are not listed again: lists that name a key twice or
  // lead back to a key above cost nothing.
  TolKeySet entered;
  // The subkeys of the key being compared on each level, reused from one
  // key to the next; the values of one key at a time.
  std::vector<std::vector<Named>> levels;
  std::vector<Named> values;
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint8_t> data;
};

class Comparison {
 public:
  Comparison(const TolHive& left, const TolHive& right, const TolDiffOptions& options,
             TolDiff& out, const std::function<bool()>& keep_going)
      : left_(left),
        right_(right),
        same_hive_(&left == &right),
        options_(options),
        out_(out),
        keep_going_(keep_going) {}

  void run(std::uint32_t left_key, std::uint32_t right_key) {
    left_.entered.insert(left_key);
    right_.entered.insert(right_key);
    pair(left_key, right_key, 0);
  }

  bool cancelled() const { return cancelled_; }

 private:
  bool go_on() {
    if (!cancelled_ && keep_going_ && steps_++ % kAskEvery == 0 && !keep_going_())
      cancelled_ = true;
    return !cancelled_;
  }

  TolDiffEntry& add(TolDiffKind kind, std::uint32_t left_key, std::uint32_t right_key) {
    ++out_.counts.by_kind[static_cast<int>(kind)];
    TolDiffEntry& e = out_.entries.emplace_back();
    e.kind = kind;
    e.path = path_;
    e.left_key = left_key;
    e.right_key = right_key;
    return e;
  }

  // Two keys of the same name and everything below them.
  void pair(std::uint32_t lk, std::uint32_t rk, int depth) {
    if (!go_on()) return;
    // One key of one hive is the same subtree on both sides.
    if (same_hive_ && lk == rk) return;
    const auto l = tol_hive_key(left_.hive, lk);
    const auto r = tol_hive_key(right_.hive, rk);
    if (!l || !r) return;

    if (options_.security) {
      if (!same_bytes(class_name(left_.hive, *l), class_name(right_.hive, *r)))
        add(TolDiffKind::class_changed, lk, rk);
      const bool shared = same_hive_ && l->u32(TOL_NK_SECURITY) == r->u32(TOL_NK_SECURITY);
      if (!shared && !same_bytes(descriptor(left_.hive, *l), descriptor(right_.hive, *r)))
        add(TolDiffKind::security_changed, lk, rk);
    }
    if (options_.times && l->u64(TOL_NK_TIMESTAMP) != r->u64(TOL_NK_TIMESTAMP))
      add(TolDiffKind::time_changed, lk, rk);
    compare_values(lk, *l, rk, *r);

    if (depth + 1 >= TOL_MAX_KEY_DEPTH) return;
    std::vector<Named>& lsubs = subkeys(left_, lk, depth);
    std::vector<Named>& rsubs = subkeys(right_, rk, depth);
    // Lists alike on both sides are in order when one of them is.
    const bool same_names = alike(lsubs, rsubs);
    if (!order(lsubs) || !same_names) order(rsubs);
    std::size_t i = 0, j = 0;
    const std::size_t length = path_.size();
    while ((i < lsubs.size() || j < rsubs.size()) && !cancelled_) {
      const int order = i == lsubs.size()   ? 1
                        : j == rsubs.size() ? -1
                                            : compare_names(lsubs[i].name, rsubs[j].name);
      const Named& named = order > 0 ? rsubs[j] : lsubs[i];
      if (!path_.empty()) path_ += '\\';
      tol_name_append(path_, named.name.bytes().span(), named.name.one_byte());
      if (order < 0) {
        only(left_, TolDiffKind::key_only_left, named.off, rk, depth + 1);
        ++i;
      } else if (order > 0) {
        only(right_, TolDiffKind::key_only_right, named.off, lk, depth + 1);
        ++j;
      } else {
        pair(lsubs[i].off, rsubs[j].off, depth + 1);
        ++i;
        ++j;
      }
      path_.resize(length);
    }
  }

  // The readable subkeys of a key not listed before, in stored order.
  std::vector<Named>& subkeys(Side& side, std::uint32_t key, int depth) {
    std::vector<Named>& list = side.levels[static_cast<std::size_t>(depth)];
    list.clear();
    tol_hive_subkeys_into(side.hive, key, side.offsets);
    for (const std::uint32_t sub : side.offsets)
      if (tol_hive_key(side.hive, sub) && side.entered.insert(sub))
        list.push_back({tol::stored_key_name(side.hive, sub), sub});
    return list;
  }

  // A key only one side has: one entry for its whole subtree.
  void only(Side& side, TolDiffKind kind, std::uint32_t key, std::uint32_t other_parent,
            int depth) {
    const bool left = kind == TolDiffKind::key_only_left;
    TolDiffEntry& e = add(kind, left ? key : other_parent, left ? other_parent : key);
    std::uint32_t keys = 0, values = 0;
    pending_.clear();
    pending_.emplace_back(key, depth);
    while (!pending_.empty() && go_on()) {
      const auto [nk, level] = pending_.back();
      pending_.pop_back();
      const auto record = tol_hive_key(side.hive, nk);
      if (!record) continue;
      ++keys;
      for_each_value(side.hive, *record, [&](std::uint32_t, tol::ByteView) { ++values; });
      if (level + 1 >= TOL_MAX_KEY_DEPTH) continue;
      tol_hive_subkeys_into(side.hive, nk, side.offsets);
      for (const std::uint32_t sub : side.offsets)
        if (tol_hive_key(side.hive, sub) && side.entered.insert(sub))
          pending_.emplace_back(sub, level + 1);
    }
    e.subtree_keys = keys;
    e.subtree_values = values;
  }

  void collect_values(Side& side, tol::ByteView nk) {
    side.values.clear();
    for_each_value(side.hive, nk, [&](std::uint32_t off, tol::ByteView vk) {
      side.values.push_back({value_name(vk), off});
    });
  }

  // The entry of a value; `l` or `r` is null for a value only one side has.
  void value_entry(TolDiffKind kind, std::uint32_t lk, std::uint32_t rk, const Named* l,
                   const Named* r, Change change = {}) {
    const Named& named = l ? *l : *r;
    TolDiffEntry& e = add(kind, lk, rk);
    tol_name_append(e.value, named.name.bytes().span(), named.name.one_byte());
    if (l) e.left_value = l->off;
    if (r) e.right_value = r->off;
    e.type_differs = change.type;
    e.data_differs = change.data;
  }

  void compare_values(std::uint32_t lk, tol::ByteView l, std::uint32_t rk, tol::ByteView r) {
    collect_values(left_, l);
    collect_values(right_, r);
    std::vector<Named>& lv = left_.values;
    std::vector<Named>& rv = right_.values;
    if (alike(lv, rv)) return compare_alike_values(lk, rk);
    order(lv);
    order(rv);
    std::size_t i = 0, j = 0;
    while (i < lv.size() || j < rv.size()) {
      const int order = i == lv.size()   ? 1
                        : j == rv.size() ? -1
                                         : compare_names(lv[i].name, rv[j].name);
      if (order < 0) {
        value_entry(TolDiffKind::value_only_left, lk, rk, &lv[i++], nullptr);
      } else if (order > 0) {
        value_entry(TolDiffKind::value_only_right, lk, rk, nullptr, &rv[j++]);
      } else {
        const Change change = compare_value(lv[i].off, rv[j].off);
        if (change.any()) value_entry(TolDiffKind::value_changed, lk, rk, &lv[i], &rv[j], change);
        ++i;
        ++j;
      }
    }
  }

  // Value lists that name the same values in the same places are compared
  // place by place, without sorting; what differs is put into Windows'
  // order afterwards, and that is rarely more than one value.
  void compare_alike_values(std::uint32_t lk, std::uint32_t rk) {
    const std::vector<Named>& lv = left_.values;
    const std::vector<Named>& rv = right_.values;
    const std::size_t first = out_.entries.size();
    for (std::size_t i = 0; i < lv.size(); ++i) {
      const Change change = compare_value(lv[i].off, rv[i].off);
      if (change.any()) value_entry(TolDiffKind::value_changed, lk, rk, &lv[i], &rv[i], change);
    }
    if (out_.entries.size() - first < 2) return;
    const TolHive& hive = left_.hive;
    std::stable_sort(out_.entries.begin() + static_cast<std::ptrdiff_t>(first), out_.entries.end(),
                     [&hive](const TolDiffEntry& a, const TolDiffEntry& b) {
                       const auto name = [&hive](std::uint32_t vk) {
                         return value_name(tol_hive_vk(hive, vk).value_or(tol::ByteView()));
                       };
                       return compare_names(name(a.left_value), name(b.left_value)) < 0;
                     });
  }

  Change compare_value(std::uint32_t lvk, std::uint32_t rvk) {
    if (same_hive_ && lvk == rvk) return {};
    const auto l = tol_hive_vk(left_.hive, lvk);
    const auto r = tol_hive_vk(right_.hive, rvk);
    if (!l || !r) return {};  // both were read when listed
    return {l->u32(TOL_VK_TYPE) != r->u32(TOL_VK_TYPE), !same_data(*l, *r)};
  }

  bool same_data(tol::ByteView l, tol::ByteView r) {
    const std::uint32_t length = l.u32(TOL_VK_DATA_LENGTH);
    const std::uint32_t offset = l.u32(TOL_VK_DATA_OFFSET);
    if (same_hive_ && length == r.u32(TOL_VK_DATA_LENGTH) && offset == r.u32(TOL_VK_DATA_OFFSET))
      return true;
    const auto a = data_in_place(left_.hive, l);
    const auto b = data_in_place(right_.hive, r);
    if (a && b) return same_bytes(*a, *b);
    // Big data are gathered from their segments into buffers kept from one
    // value to the next.
    tol_hive_value_data_into(left_.hive, length, offset, left_.data);
    tol_hive_value_data_into(right_.hive, r.u32(TOL_VK_DATA_LENGTH), r.u32(TOL_VK_DATA_OFFSET),
                             right_.data);
    return left_.data == right_.data;
  }

  Side left_;
  Side right_;
  const bool same_hive_;
  const TolDiffOptions& options_;
  TolDiff& out_;
  const std::function<bool()>& keep_going_;
  std::string path_;
  std::vector<std::pair<std::uint32_t, int>> pending_;
  std::uint64_t steps_ = 0;
  bool cancelled_ = false;
};

}  // namespace

bool tol_compare(const TolHive& left, std::uint32_t left_key, const TolHive& right,
                 std::uint32_t right_key, const TolDiffOptions& options, TolDiff& out,
                 GError** error, const std::function<bool()>& keep_going) {
  out = TolDiff{};
  if (!tol_hive_key(left, left_key) || !tol_hive_key(right, right_key)) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                        _("the key to compare cannot be read"));
    return false;
  }
  Comparison comparison(left, right, options, out, keep_going);
  comparison.run(left_key, right_key);
  if (comparison.cancelled()) {
    out = TolDiff{};
    g_set_error_literal(error, io_error_quark(), kIoErrorCancelled, _("the comparison was cancelled"));
    return false;
  }
  return true;
}

const char* tol_diff_sign(TolDiffKind kind) {
  switch (kind) {
    case TolDiffKind::key_only_right:
    case TolDiffKind::value_only_right: return "+";
    case TolDiffKind::key_only_left:
    case TolDiffKind::value_only_left: return "-";
    default: return "~";
  }
}

const char* tol_diff_noun(TolDiffKind kind) {
  switch (kind) {
    case TolDiffKind::key_only_left:
    case TolDiffKind::key_only_right: return "key";
    case TolDiffKind::class_changed: return "class";
    case TolDiffKind::security_changed: return "security";
    case TolDiffKind::time_changed: return "time";
    default: return "value";
  }
}
