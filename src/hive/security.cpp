// Security descriptors of keys: checking a self-relative descriptor and giving
// one key an sk record of its own.
#include "hive/security.h"

#include <glib/gi18n-lib.h>

#include <unordered_set>

#include "hive/edit.h"

namespace {

constexpr std::uint16_t kSelfRelative = 0x8000;
constexpr std::uint32_t kDescHeader = 20;

// An sk record whose descriptor lies inside its cell.
std::optional<tol::ByteView> sk_record(const TolHive& hive, std::uint32_t off) {
  auto cell = tol_hive_cell(hive, off);
  if (!cell || cell->size() < TOL_SK_MIN_DATA || !cell->starts_with("sk")) return std::nullopt;
  return cell;
}

// The sk offset a key names, or TOL_NO_CELL when the key is not an nk record.
std::uint32_t key_sk(const TolHive& hive, std::uint32_t key) {
  const auto nk = tol_hive_key(hive, key);
  return nk ? nk->u32(TOL_NK_SECURITY) : TOL_NO_CELL;
}

// True when `target` lies on the ring of sk records that starts at `start`,
// the ring Windows walks from the root key's record when it loads the hive.
// A record that is not on it would be taken as invalid there.
bool on_ring(const TolHive& hive, std::uint32_t start, std::uint32_t target) {
  std::unordered_set<std::uint32_t> seen;
  for (std::uint32_t off = start; sk_record(hive, off) && seen.insert(off).second;) {
    if (off == target) return true;
    off = sk_record(hive, off)->u32(TOL_SK_FLINK);
  }
  return false;
}

}  // namespace

bool tol_security_descriptor_valid(std::span<const std::uint8_t> descriptor) {
  const tol::ByteView sd(descriptor);
  const std::uint64_t n = sd.size();
  if (n < kDescHeader || n > 0xFFFFFFEBu) return false;
  if (sd.u8(0) != 1) return false;
  if ((sd.u16(2) & kSelfRelative) == 0) return false;

  // Owner, group, system ACL, discretionary ACL, in this order.
  for (int part = 0; part < 4; ++part) {
    const std::uint64_t off = sd.u32(4 + 4 * static_cast<std::size_t>(part));
    if (off == 0) continue;
    if (off >= n || n - off < 8) return false;
    const std::uint64_t left = n - off;
    if (part < 2) {
      const std::uint64_t sub_authorities = sd.u8(static_cast<std::size_t>(off) + 1);
      if (left < 8 + 4 * sub_authorities) return false;
    } else {
      const std::uint64_t acl_size = sd.u16(static_cast<std::size_t>(off) + 2);
      if (acl_size < 8 || acl_size > left) return false;
    }
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> tol_hive_key_security(const TolHive& hive,
                                                               std::uint32_t key) {
  const auto nk = tol_hive_key(hive, key);
  if (!nk) return std::nullopt;
  const auto sk = sk_record(hive, nk->u32(TOL_NK_SECURITY));
  if (!sk) return std::nullopt;
  const std::uint32_t length = sk->u32(TOL_SK_DESC_LENGTH);
  if (length > sk->size() - TOL_SK_MIN_DATA) return std::nullopt;
  const auto bytes = sk->sub(TOL_SK_DESC, length).span();
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool tol_hive_store_security(TolHive& hive, std::uint32_t key,
                             std::span<const std::uint8_t> descriptor, GError** error) {
  if (!tol_security_descriptor_valid(descriptor))
    return tol_fail(error, TOL_HIVE_ERROR_INVALID, _("the security descriptor is not valid"));
  if (!tol_hive_key(hive, key))
    return tol_fail(error, TOL_HIVE_ERROR_NOT_FOUND, _("the key cannot be read"));
  const bool allowed = tol_hive_edit_allowed(
      hive,
      [&](std::vector<std::uint32_t>& cells) {
        tol_footprint_key(hive, key, {.security = true}, cells);
        tol_footprint_key(hive, hive.root_cell, {.security = true}, cells);
      },
      error);
  if (!allowed) return false;
  tol_hive_make_writable(hive);

  const std::uint32_t old_sk = key_sk(hive, key);
  const std::uint32_t root_sk = key_sk(hive, hive.root_cell);
  // Where the new record joins the list: beside the key's old record when
  // that one is on the hive's list, else beside the root key's record. With
  // neither it is the only record the hive has and links to itself.
  std::uint32_t anchor = TOL_NO_CELL;
  if (sk_record(hive, old_sk) && on_ring(hive, root_sk, old_sk))
    anchor = old_sk;
  else if (sk_record(hive, root_sk))
    anchor = root_sk;

  const auto n = static_cast<std::uint32_t>(descriptor.size());
  const std::uint32_t cell = tol_hive_alloc_cell(hive, n + kDescHeader);
  // Offsets survive the allocation, views do not: everything is looked up
  // again, and a damaged hive whose records sat in free cells may have lost
  // them to the new cell.
  auto sk = tol_hive_cell_mut(hive, cell);
  if (!sk || sk->size() < std::uint64_t{n} + kDescHeader || !tol_hive_key(hive, key) ||
      key == cell)
    return tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
                    _("the hive is damaged here: the key was lost to the new security record"));
  if (anchor == cell || !sk_record(hive, anchor)) anchor = TOL_NO_CELL;
  const std::uint32_t next = anchor == TOL_NO_CELL ? cell : sk_record(hive, anchor)->u32(TOL_SK_FLINK);

  sk->fill(0, sk->size(), 0);
  sk->put_u8(0, 's');
  sk->put_u8(1, 'k');
  sk->put_u32(TOL_SK_FLINK, next);
  sk->put_u32(TOL_SK_BLINK, anchor == TOL_NO_CELL ? cell : anchor);
  sk->put_u32(TOL_SK_REFCOUNT, 1);
  sk->put_u32(TOL_SK_DESC_LENGTH, n);
  sk->put_bytes(TOL_SK_DESC, descriptor);

  if (anchor != TOL_NO_CELL) {
    tol_hive_cell_mut(hive, anchor)->put_u32(TOL_SK_FLINK, cell);
    // A damaged list may name something else as the anchor's successor;
    // only a real sk record gets its back link changed.
    if (next != cell && sk_record(hive, next))
      tol_hive_cell_mut(hive, next)->put_u32(TOL_SK_BLINK, cell);
  }

  tol_hive_key_mut(hive, key)->put_u32(TOL_NK_SECURITY, cell);

  if (old_sk != cell && sk_record(hive, old_sk)) {
    auto old = tol_hive_cell_mut(hive, old_sk);
    const std::uint32_t count = old->u32(TOL_SK_REFCOUNT);
    if (count != 0) old->put_u32(TOL_SK_REFCOUNT, count - 1);
  }
  hive.dirty = true;
  return true;
}
