#include "hive_builder.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <stdexcept>

namespace tol::test {

namespace {

constexpr std::uint32_t kBinSize = 4096;
constexpr std::uint32_t kBinHeader = 32;

std::uint32_t round_up(std::uint64_t n, std::uint32_t to) {
  return static_cast<std::uint32_t>((n + to - 1) / to * to);
}

void put_u16(Bytes& b, std::size_t off, std::uint16_t v) {
  b.at(off) = static_cast<std::uint8_t>(v);
  b.at(off + 1) = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(Bytes& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_u64(Bytes& b, std::size_t off, std::uint64_t v) {
  put_u32(b, off, static_cast<std::uint32_t>(v));
  put_u32(b, off + 4, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t get_u32(const Bytes& b, std::size_t off) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b.at(off + i)) << (8 * i);
  return v;
}

void append(Bytes& b, std::span<const std::uint8_t> more) { b.insert(b.end(), more.begin(), more.end()); }

void append_u16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void append_u32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::u16string to_units(std::string_view utf8) {
  glong n = 0;
  gunichar2* u = g_utf8_to_utf16(utf8.data(), static_cast<glong>(utf8.size()), nullptr, &n, nullptr);
  if (u == nullptr) throw std::invalid_argument("builder: name is not valid UTF-8");
  std::u16string out(reinterpret_cast<const char16_t*>(u), static_cast<std::size_t>(n));
  g_free(u);
  return out;
}

char16_t upper_unit(char16_t u) {
  if (u < 0x80) return (u >= 'a' && u <= 'z') ? static_cast<char16_t>(u - 'a' + 'A') : u;
  if (u >= 0xD800 && u <= 0xDFFF) return u;
  const gunichar c = g_unichar_toupper(u);
  return c < 0x10000 ? static_cast<char16_t>(c) : u;
}

std::u16string upper(std::u16string s) {
  for (auto& u : s) u = upper_unit(u);
  return s;
}

std::uint32_t lh_hash_units(const std::u16string& units) {
  std::uint32_t h = 0;
  for (const char16_t u : units) h = h * 37 + upper_unit(u);
  return h;
}

std::uint32_t lf_hint_units(const std::u16string& units) {
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < 4 && i < units.size(); ++i) {
    const std::uint32_t c = units[i] < 0x100 ? units[i] : 0;
    h |= c << (8 * i);
  }
  return h;
}

// Bytes a name takes when treated as UTF-16, as the largest-length fields count.
std::uint32_t utf16_size(const Name& n) {
  return static_cast<std::uint32_t>(n.one_byte ? n.bytes.size() * 2 : n.bytes.size());
}

Bytes sid(std::uint8_t authority, std::initializer_list<std::uint32_t> subs) {
  Bytes b{1, static_cast<std::uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (const auto s : subs) append_u32(b, s);
  return b;
}

Bytes allowed_ace(std::uint32_t mask, const Bytes& who) {
  Bytes b{0x00, 0x02};  // ACCESS_ALLOWED, CONTAINER_INHERIT
  append_u16(b, static_cast<std::uint16_t>(8 + who.size()));
  append_u32(b, mask);
  append(b, who);
  return b;
}

}  // namespace

// --- Free helpers ---------------------------------------------------------------

Bytes utf16le(std::string_view utf8) {
  Bytes out;
  for (const char16_t u : to_units(utf8)) append_u16(out, u);
  return out;
}

Bytes utf16le_sz(std::string_view utf8) {
  Bytes out = utf16le(utf8);
  append_u16(out, 0);
  return out;
}

Bytes multi_sz(std::initializer_list<std::string_view> strings) {
  Bytes out;
  for (const std::string_view one : strings) {
    const Bytes piece = utf16le_sz(one);
    out.insert(out.end(), piece.begin(), piece.end());
  }
  append_u16(out, 0);
  return out;
}

Bytes bytes_of(std::string_view raw) { return Bytes(raw.begin(), raw.end()); }

Bytes le32(std::uint32_t v) {
  Bytes b;
  append_u32(b, v);
  return b;
}

Bytes pattern(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : b) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

Name encode_name(std::string_view utf8, NameForm form) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (form == NameForm::Utf16 || (form == NameForm::Auto && !ascii)) return {utf16le(utf8), false};
  Name n;
  for (const char16_t u : to_units(utf8)) n.bytes.push_back(u < 0x100 ? static_cast<std::uint8_t>(u) : '?');
  return n;
}

Bytes default_security_descriptor() {
  const Bytes admins = sid(5, {32, 544});
  const Bytes system = sid(5, {18});
  const Bytes everyone = sid(1, {0});

  Bytes aces;
  append(aces, allowed_ace(0x000F003F, admins));
  append(aces, allowed_ace(0x000F003F, system));
  append(aces, allowed_ace(0x00020019, everyone));
  Bytes acl{2, 0};
  append_u16(acl, static_cast<std::uint16_t>(8 + aces.size()));
  append_u16(acl, 3);
  append_u16(acl, 0);
  append(acl, aces);

  const std::uint32_t dacl_at = 20;
  const auto owner_at = static_cast<std::uint32_t>(dacl_at + acl.size());
  const auto group_at = static_cast<std::uint32_t>(owner_at + admins.size());
  Bytes sd{1, 0};
  append_u16(sd, 0x8004);  // self-relative, DACL present
  append_u32(sd, owner_at);
  append_u32(sd, group_at);
  append_u32(sd, 0);  // no SACL
  append_u32(sd, dacl_at);
  append(sd, acl);
  append(sd, admins);
  append(sd, system);
  return sd;
}

std::uint32_t lh_hash(std::string_view utf8) { return lh_hash_units(to_units(utf8)); }
std::uint32_t lf_hint(std::string_view utf8) { return lf_hint_units(to_units(utf8)); }

bool windows_name_less(std::string_view a, std::string_view b) {
  return upper(to_units(a)) < upper(to_units(b));
}

// --- HiveBuilder -----------------------------------------------------------------

HiveBuilder::HiveBuilder() : base_(4096, 0) {
  base_[0] = 'r';
  base_[1] = 'e';
  base_[2] = 'g';
  base_[3] = 'f';
  put_u32(base_, 0x04, 1);
  put_u32(base_, 0x08, 1);
  put_u64(base_, 0x0C, 0x01D9000000000000ull);
  put_u32(base_, 0x14, 1);  // major version
  put_u32(base_, 0x18, 5);  // minor version
  put_u32(base_, 0x1C, 0);  // primary file
  put_u32(base_, 0x20, 1);  // direct memory load
  put_u32(base_, 0x2C, 1);  // clustering factor
  const Bytes file_name = utf16le("\\??\\C:\\tolvane\\test.hiv");
  std::copy(file_name.begin(), file_name.end(), base_.begin() + 0x30);
  new_bin();
}

void HiveBuilder::set_minor_version(std::uint32_t minor) {
  minor_ = minor;
  put_u32(base_, 0x18, minor);
}

void HiveBuilder::set_sequence(std::uint32_t primary, std::uint32_t secondary) {
  put_u32(base_, 0x04, primary);
  put_u32(base_, 0x08, secondary);
}

void HiveBuilder::set_signature(std::string_view four_bytes) {
  for (std::size_t i = 0; i < 4; ++i) base_[i] = i < four_bytes.size() ? four_bytes[i] : 0;
}

void HiveBuilder::new_bin(std::uint32_t min_size) {
  if (!bins_.empty() && cursor_ < bins_.size())
    put_u32(bins_, cursor_, static_cast<std::uint32_t>(bins_.size() - cursor_));
  const std::uint32_t size = round_up(std::max(min_size, kBinSize), kBinSize);
  bin_start_ = static_cast<std::uint32_t>(bins_.size());
  bins_.resize(bins_.size() + size, 0);
  bins_[bin_start_] = 'h';
  bins_[bin_start_ + 1] = 'b';
  bins_[bin_start_ + 2] = 'i';
  bins_[bin_start_ + 3] = 'n';
  put_u32(bins_, bin_start_ + 4, bin_start_);
  put_u32(bins_, bin_start_ + 8, size);
  cursor_ = bin_start_ + kBinHeader;
}

std::uint32_t HiveBuilder::place(std::uint32_t space) {
  if (std::uint64_t{cursor_} + space > bins_.size()) new_bin(space + kBinHeader);
  const std::uint32_t off = cursor_;
  cursor_ += space;
  return off;
}

std::uint32_t HiveBuilder::cell(std::span<const std::uint8_t> data, CellOptions opts) {
  const std::uint32_t space = round_up(std::max<std::uint64_t>(data.size() + 4, opts.reserve), 8);
  const std::uint32_t off = place(space);
  const auto magnitude = static_cast<std::int32_t>(space);
  const std::int32_t size = opts.size_field.value_or(opts.free ? magnitude : -magnitude);
  put_u32(bins_, off, static_cast<std::uint32_t>(size));
  std::copy(data.begin(), data.end(), bins_.begin() + off + 4);
  return off;
}

std::uint32_t HiveBuilder::alloc(std::uint32_t n) { return cell(Bytes(n, 0)); }

std::uint32_t HiveBuilder::free_cell(std::uint32_t n) {
  CellOptions opts;
  opts.free = true;
  return cell(Bytes(n, 0), opts);
}

std::uint32_t HiveBuilder::nk(const NkRecord& r) {
  Bytes d(76 + r.name.bytes.size() + r.extra, 0);
  d[0] = 'n';
  d[1] = 'k';
  put_u16(d, 0x02, static_cast<std::uint16_t>(r.flags | (r.name.one_byte ? 0x0020 : 0)));
  put_u64(d, 0x04, r.timestamp);
  put_u32(d, 0x10, r.parent);
  put_u32(d, 0x14, r.subkey_count);
  put_u32(d, 0x1C, r.subkey_list);
  put_u32(d, 0x20, kNoCell);
  put_u32(d, 0x24, r.value_count);
  put_u32(d, 0x28, r.value_list);
  put_u32(d, 0x2C, r.sk);
  put_u32(d, 0x30, r.class_cell);
  put_u32(d, 0x34, r.max_subkey_name);
  put_u32(d, 0x38, r.max_subkey_class);
  put_u32(d, 0x3C, r.max_value_name);
  put_u32(d, 0x40, r.max_value_data);
  put_u16(d, 0x48, r.name_length.value_or(static_cast<std::uint16_t>(r.name.bytes.size())));
  put_u16(d, 0x4A, r.class_length);
  std::copy(r.name.bytes.begin(), r.name.bytes.end(), d.begin() + 0x4C);
  return cell(d);
}

std::uint32_t HiveBuilder::vk(const VkRecord& r) {
  Bytes d(20 + r.name.bytes.size() + r.extra, 0);
  d[0] = 'v';
  d[1] = 'k';
  put_u16(d, 0x02, r.name_length.value_or(static_cast<std::uint16_t>(r.name.bytes.size())));
  put_u32(d, 0x04, r.data_length);
  put_u32(d, 0x08, r.data_offset);
  put_u32(d, 0x0C, r.type);
  put_u16(d, 0x10, static_cast<std::uint16_t>(r.flags | (r.name.one_byte ? 0x0001 : 0)));
  std::copy(r.name.bytes.begin(), r.name.bytes.end(), d.begin() + 0x14);
  return cell(d);
}

std::uint32_t HiveBuilder::value(std::string_view name, std::uint32_t type,
                                 std::span<const std::uint8_t> data, NameForm form) {
  VkRecord r;
  r.name = encode_name(name, form);
  r.type = type;
  const auto n = static_cast<std::uint32_t>(data.size());
  if (n <= 4) {
    Bytes padded(data.begin(), data.end());
    padded.resize(4, 0);
    r.data_length = n | 0x80000000u;
    r.data_offset = get_u32(padded, 0);
  } else {
    r.data_length = n;
    r.data_offset = n <= kSegment || minor_ < 4 ? data_cell(data) : big_data(data);
  }
  return vk(r);
}

std::uint32_t HiveBuilder::big_data(std::span<const std::uint8_t> data, std::uint32_t segment) {
  const std::uint32_t db_off = alloc(8);
  std::vector<std::uint32_t> segments;
  for (std::size_t at = 0; at < data.size(); at += segment) {
    const auto piece = data.subspan(at, std::min<std::size_t>(segment, data.size() - at));
    // hivex and libregf take a segment's length as its cell size minus 8, so
    // every segment cell carries 4 spare bytes, as a full Windows one does.
    CellOptions opts;
    opts.reserve = static_cast<std::uint32_t>(piece.size() + 8);
    segments.push_back(cell(piece, opts));
  }
  const std::uint32_t list = offsets(segments);
  Bytes d{'d', 'b'};
  append_u16(d, static_cast<std::uint16_t>(segments.size()));
  append_u32(d, list);
  patch_bytes(db_off, 0, d);
  return db_off;
}

std::uint32_t HiveBuilder::db(std::uint16_t count, std::uint32_t segment_list) {
  Bytes d{'d', 'b'};
  append_u16(d, count);
  append_u32(d, segment_list);
  return cell(d);
}

std::uint32_t HiveBuilder::offsets(const std::vector<std::uint32_t>& cells) {
  Bytes d;
  for (const auto c : cells) append_u32(d, c);
  return cell(d);
}

std::uint32_t HiveBuilder::raw_list(std::string_view sig, std::uint16_t count,
                                    const std::vector<std::uint32_t>& words) {
  Bytes d(sig.begin(), sig.end());
  d.resize(2, 0);
  append_u16(d, count);
  for (const auto w : words) append_u32(d, w);
  return cell(d);
}

std::uint32_t HiveBuilder::li(const std::vector<std::uint32_t>& nks) {
  return raw_list("li", static_cast<std::uint16_t>(nks.size()), nks);
}

std::uint32_t HiveBuilder::ri(const std::vector<std::uint32_t>& lists) {
  return raw_list("ri", static_cast<std::uint16_t>(lists.size()), lists);
}

std::uint32_t HiveBuilder::lf(const std::vector<std::uint32_t>& nks) { return hashed_list("lf", nks); }
std::uint32_t HiveBuilder::lh(const std::vector<std::uint32_t>& nks) { return hashed_list("lh", nks); }

std::uint32_t HiveBuilder::hashed_list(std::string_view sig, const std::vector<std::uint32_t>& nks) {
  std::vector<std::uint32_t> words;
  for (const auto nk : nks) {
    const std::u16string units = units_of(nk);
    words.push_back(nk);
    words.push_back(sig == "lh" ? lh_hash_units(units) : lf_hint_units(units));
  }
  return raw_list(sig, static_cast<std::uint16_t>(nks.size()), words);
}

std::uint32_t HiveBuilder::list(ListKind kind, const std::vector<std::uint32_t>& entries) {
  switch (kind) {
    case ListKind::li: return li(entries);
    case ListKind::lf: return lf(entries);
    case ListKind::lh: return lh(entries);
    case ListKind::ri: return ri(entries);
  }
  return kNoCell;
}

std::u16string HiveBuilder::units_of(std::uint32_t nk) const {
  // Hashes of hostile lists may name anything; such entries get hash 0.
  if (std::uint64_t{nk} + 4 + 0x4C > bins_.size() || bins_[nk + 4] != 'n' || bins_[nk + 5] != 'k')
    return {};
  const std::size_t at = nk + 4;
  const bool one_byte = (bins_[at + 2] & 0x20) != 0;
  const std::size_t len = bins_[at + 0x48] | (bins_[at + 0x49] << 8);
  if (at + 0x4C + len > bins_.size()) return {};
  std::u16string units;
  for (std::size_t i = 0; i < len; i += one_byte ? 1 : 2) {
    if (one_byte) {
      units.push_back(bins_[at + 0x4C + i]);
    } else if (i + 1 < len) {
      units.push_back(static_cast<char16_t>(bins_[at + 0x4C + i] | (bins_[at + 0x4D + i] << 8)));
    }
  }
  return units;
}

std::uint32_t HiveBuilder::sk(std::span<const std::uint8_t> descriptor, std::uint32_t refcount,
                              std::uint32_t flink, std::uint32_t blink) {
  Bytes d(20, 0);
  d[0] = 's';
  d[1] = 'k';
  put_u32(d, 0x0C, refcount);
  put_u32(d, 0x10, static_cast<std::uint32_t>(descriptor.size()));
  append(d, descriptor);
  const std::uint32_t off = cell(d);
  patch_u32(off, 0x04, flink == kNoCell ? off : flink);
  patch_u32(off, 0x08, blink == kNoCell ? off : blink);
  return off;
}

BuiltTree HiveBuilder::tree(const KeySpec& root, bool as_root) {
  BuiltTree out;
  if (shared_sk_ == kNoCell) shared_sk_ = sk(default_security_descriptor(), 0);
  out.sk = shared_sk_;
  std::uint32_t key_count = 0;
  out.root = lay_key(root, kNoCell, "", out, key_count);
  patch_u32(shared_sk_, 0x0C, read_u32(shared_sk_, 0x0C) + key_count);
  if (as_root) {
    root_ = out.root;
    // KEY_HIVE_ENTRY | KEY_NO_DELETE, as Windows marks a hive's root.
    patch_u16(out.root, 0x02, static_cast<std::uint16_t>(read_u16(out.root, 0x02) | 0x000C));
  }
  return out;
}

std::uint32_t HiveBuilder::lay_key(const KeySpec& node, std::uint32_t parent,
                                   const std::string& path, BuiltTree& out,
                                   std::uint32_t& key_count) {
  NkRecord r;
  r.name = encode_name(node.name, node.form);
  r.parent = parent;
  r.sk = shared_sk_;
  const std::uint32_t self = nk(r);
  ++key_count;
  out.keys[path] = self;

  std::vector<std::uint32_t> vks;
  std::uint32_t max_name = 0;
  std::uint32_t max_data = 0;
  for (const auto& v : node.values) {
    const std::uint32_t off = value(v.name, v.type, v.data, v.form);
    vks.push_back(off);
    out.values[path + "|" + v.name] = off;
    max_name = std::max(max_name, utf16_size(encode_name(v.name, v.form)));
    max_data = std::max(max_data, static_cast<std::uint32_t>(v.data.size()));
  }
  if (!vks.empty()) {
    patch_u32(self, 0x24, static_cast<std::uint32_t>(vks.size()));
    patch_u32(self, 0x28, offsets(vks));
    patch_u32(self, 0x3C, max_name);
    patch_u32(self, 0x40, max_data);
  }

  if (node.subkeys.empty()) return self;

  std::vector<std::size_t> order(node.subkeys.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (!node.keep_order) {
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return windows_name_less(node.subkeys[a].name, node.subkeys[b].name);
    });
  }
  std::vector<std::uint32_t> children;
  std::uint32_t max_subkey = 0;
  for (const std::size_t i : order) {
    const KeySpec& child = node.subkeys[i];
    const std::string child_path = path.empty() ? child.name : path + "\\" + child.name;
    children.push_back(lay_key(child, self, child_path, out, key_count));
    max_subkey = std::max(max_subkey, utf16_size(encode_name(child.name, child.form)));
  }

  std::uint32_t list_off = kNoCell;
  if (node.list == ListKind::ri) {
    std::vector<RiPart> parts = node.ri_parts;
    if (parts.empty()) {
      for (std::size_t left = children.size(); left > 0; left -= std::min<std::size_t>(left, 2))
        parts.push_back({ListKind::lh, std::min<std::size_t>(left, 2)});
    }
    std::vector<std::uint32_t> lists;
    std::size_t at = 0;
    for (const auto& part : parts) {
      if (part.kind == ListKind::ri || at + part.count > children.size())
        throw std::invalid_argument("builder: ri parts do not match the subkeys");
      std::vector<std::uint32_t> chunk(children.begin() + static_cast<std::ptrdiff_t>(at),
                                       children.begin() + static_cast<std::ptrdiff_t>(at + part.count));
      lists.push_back(list(part.kind, chunk));
      at += part.count;
    }
    if (at != children.size()) throw std::invalid_argument("builder: ri parts do not cover the subkeys");
    list_off = ri(lists);
  } else {
    list_off = list(node.list, children);
  }
  out.lists[path] = list_off;
  patch_u32(self, 0x14, static_cast<std::uint32_t>(children.size()));
  patch_u32(self, 0x1C, list_off);
  patch_u32(self, 0x34, max_subkey);
  return self;
}

void HiveBuilder::ensure(std::uint64_t bins_off, std::uint64_t n) const {
  if (bins_off + n > bins_.size()) throw std::out_of_range("builder: patch outside the bins");
}

void HiveBuilder::patch_u8(std::uint32_t cell, std::uint32_t field, std::uint8_t v) {
  ensure(std::uint64_t{cell} + 4 + field, 1);
  bins_[std::size_t{cell} + 4 + field] = v;
}

void HiveBuilder::patch_u16(std::uint32_t cell, std::uint32_t field, std::uint16_t v) {
  ensure(std::uint64_t{cell} + 4 + field, 2);
  put_u16(bins_, std::size_t{cell} + 4 + field, v);
}

void HiveBuilder::patch_u32(std::uint32_t cell, std::uint32_t field, std::uint32_t v) {
  ensure(std::uint64_t{cell} + 4 + field, 4);
  put_u32(bins_, std::size_t{cell} + 4 + field, v);
}

void HiveBuilder::patch_bytes(std::uint32_t cell, std::uint32_t field,
                              std::span<const std::uint8_t> v) {
  ensure(std::uint64_t{cell} + 4 + field, v.size());
  std::copy(v.begin(), v.end(), bins_.begin() + cell + 4 + field);
}

void HiveBuilder::set_cell_size(std::uint32_t cell, std::int32_t size_field) {
  poke_u32(cell, static_cast<std::uint32_t>(size_field));
}

std::uint32_t HiveBuilder::read_u32(std::uint32_t cell, std::uint32_t field) const {
  ensure(std::uint64_t{cell} + 4 + field, 4);
  return get_u32(bins_, std::size_t{cell} + 4 + field);
}

std::uint16_t HiveBuilder::read_u16(std::uint32_t cell, std::uint32_t field) const {
  ensure(std::uint64_t{cell} + 4 + field, 2);
  const std::size_t at = std::size_t{cell} + 4 + field;
  return static_cast<std::uint16_t>(bins_[at] | (bins_[at + 1] << 8));
}

void HiveBuilder::poke_u32(std::uint32_t bins_off, std::uint32_t v) {
  ensure(bins_off, 4);
  put_u32(bins_, bins_off, v);
}

void HiveBuilder::put_cell(std::uint32_t bins_off, std::int32_t size_field,
                           std::span<const std::uint8_t> data) {
  ensure(bins_off, 4 + data.size());
  put_u32(bins_, bins_off, static_cast<std::uint32_t>(size_field));
  std::copy(data.begin(), data.end(), bins_.begin() + bins_off + 4);
}

Bytes HiveBuilder::image() const {
  Bytes base = base_;
  put_u32(base, 0x24, root_);
  put_u32(base, 0x28, bins_size_override_.value_or(bins_size()));
  for (const auto& [off, v] : base_patches_) put_u32(base, off, v);
  std::uint32_t sum = 0;
  for (std::size_t off = 0; off < 0x1FC; off += 4) sum ^= get_u32(base, off);
  if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
  if (sum == 0) sum = 1;
  put_u32(base, 0x1FC, checksum_override_.value_or(sum));

  Bytes out = std::move(base);
  const std::size_t bins_at = out.size();
  out.insert(out.end(), bins_.begin(), bins_.end());
  if (cursor_ < bins_.size()) put_u32(out, bins_at + cursor_, static_cast<std::uint32_t>(bins_.size() - cursor_));
  return out;
}

void HiveBuilder::write_file(const std::string& path) const { write_bytes(path, image()); }

void HiveBuilder::write_bytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  GError* error = nullptr;
  if (!g_file_set_contents(path.c_str(), reinterpret_cast<const char*>(bytes.data()),
                           static_cast<gssize>(bytes.size()), &error)) {
    std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("builder: " + message);
  }
}

Bytes HiveBuilder::read_bytes(const std::string& path) {
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return {};
  Bytes bytes(contents, contents + length);
  g_free(contents);
  return bytes;
}

// --- Transaction logs -----------------------------------------------------------

namespace {

constexpr std::uint32_t kLogHeader = 512;

// The first 512 bytes of an image's base block as a log carries them.
Bytes log_header(const Bytes& image, std::uint32_t sequence, std::uint32_t type) {
  Bytes h(image.begin(), image.begin() + kLogHeader);
  put_u32(h, 0x04, sequence);
  put_u32(h, 0x08, sequence);
  put_u32(h, 0x1C, type);
  std::uint32_t sum = 0;
  for (std::size_t off = 0; off < 0x1FC; off += 4) sum ^= get_u32(h, off);
  if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
  if (sum == 0) sum = 1;
  put_u32(h, 0x1FC, sum);
  return h;
}

std::uint32_t rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

}  // namespace

std::uint64_t marvin32(std::span<const std::uint8_t> bytes) {
  const std::uint64_t seed = 0x82EF4D887A4E55C5ull;
  std::uint32_t p0 = static_cast<std::uint32_t>(seed);
  std::uint32_t p1 = static_cast<std::uint32_t>(seed >> 32);
  auto mix = [&] {
    p1 ^= p0; p0 = rotl(p0, 20); p0 += p1; p1 = rotl(p1, 9);
    p1 ^= p0; p0 = rotl(p0, 27); p0 += p1; p1 = rotl(p1, 19);
  };
  std::size_t i = 0;
  for (; i + 4 <= bytes.size(); i += 4) {
    p0 += static_cast<std::uint32_t>(bytes[i]) | static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
          static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
          static_cast<std::uint32_t>(bytes[i + 3]) << 24;
    mix();
  }
  std::uint32_t t = 0x80;
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) t = 0x8000u | bytes[i];
  if (rest == 2) t = 0x800000u | bytes[i] | bytes[i + 1] << 8;
  if (rest == 3) t = 0x80000000u | bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16;
  p0 += t;
  mix();
  mix();
  return static_cast<std::uint64_t>(p1) << 32 | p0;
}

std::vector<LogPage> changed_pages(const Bytes& from, const Bytes& to) {
  std::vector<LogPage> pages;
  for (std::size_t at = kBinSize; at < to.size(); at += kBinSize) {
    const std::size_t end = std::min(at + kBinSize, to.size());
    const bool same = end <= from.size() && std::equal(to.begin() + at, to.begin() + end, from.begin() + at);
    if (!same)
      pages.push_back(LogPage{static_cast<std::uint32_t>(at - kBinSize), Bytes(to.begin() + at, to.begin() + end)});
  }
  return pages;
}

Bytes log_entry(const LogEntrySpec& entry) {
  Bytes e(40, 0);
  std::copy_n("HvLE", 4, e.begin());
  put_u32(e, 8, entry.flags);
  put_u32(e, 12, entry.sequence);
  put_u32(e, 16, entry.bins_size);
  put_u32(e, 20, static_cast<std::uint32_t>(entry.pages.size()));
  for (const LogPage& p : entry.pages) {
    append_u32(e, p.offset);
    append_u32(e, static_cast<std::uint32_t>(p.bytes.size()));
  }
  for (const LogPage& p : entry.pages) append(e, p.bytes);
  e.resize(round_up(e.size(), kLogHeader), 0);
  put_u32(e, 4, static_cast<std::uint32_t>(e.size()));
  put_u64(e, 24, marvin32(std::span(e).subspan(40)) ^ (entry.break_hash1 ? 1 : 0));
  put_u64(e, 32, marvin32(std::span(e).first(32)) ^ (entry.break_hash2 ? 1 : 0));
  return e;
}

Bytes new_format_log(const Bytes& image, std::uint32_t sequence,
                     const std::vector<LogEntrySpec>& entries) {
  Bytes log = log_header(image, sequence, 6);
  for (const LogEntrySpec& e : entries) append(log, log_entry(e));
  return log;
}

Bytes old_format_log(const Bytes& image, const std::vector<std::uint32_t>& dirty_blocks) {
  Bytes log = log_header(image, get_u32(image, 0x04), 1);
  const std::uint32_t bins_size = get_u32(image, 0x28);
  Bytes bitmap((bins_size / kLogHeader + 7) / 8, 0);
  std::vector<std::uint32_t> blocks(dirty_blocks);
  std::sort(blocks.begin(), blocks.end());
  for (std::uint32_t block : blocks)
    for (std::uint32_t page = block / kLogHeader; page < (block + kBinSize) / kLogHeader; ++page)
      bitmap.at(page / 8) |= static_cast<std::uint8_t>(1u << (page % 8));
  append(log, bytes_of("DIRT"));
  append(log, bitmap);
  log.resize(round_up(log.size(), kLogHeader), 0);
  for (std::uint32_t block : blocks)
    log.insert(log.end(), image.begin() + kBinSize + block, image.begin() + kBinSize + block + kBinSize);
  return log;
}

}  // namespace tol::test
