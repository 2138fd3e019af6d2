// Copying a key with its subtree, within one hive or between two.
#include "hive/copy.h"

#include <string>

#include "hive/edit.h"

namespace {

// The first failure is the one worth reporting; later ones keep it.
void fail(GError** error, GFileError code, const std::string& message) {
  if (error != nullptr && *error == nullptr)
    g_set_error_literal(error, G_FILE_ERROR, code, message.c_str());
}

// One copy's walk. A sound source needs one visit per key; lists that name a
// key twice or loop back multiply the visits with every level, so the walk
// stops, as at the depth limit, once it has made more visits than twice the
// keys the source could hold plus two chains down to that limit.
class CopyWalk {
 public:
  explicit CopyWalk(const TolHive& src)
      : budget_(std::uint64_t{src.bins_length} / 80 * 2 + 2 * std::uint64_t{TOL_MAX_KEY_DEPTH}) {}

  std::uint32_t key(TolHive& src, std::uint32_t key, TolHive& dst, std::uint32_t parent, int level,
                    GError** error) {
    if (level >= TOL_MAX_KEY_DEPTH || budget_ == 0) {
      fail(error, G_FILE_ERROR_LOOP,
           g_dgettext(GETTEXT_PACKAGE, "key nesting is too deep (possible cycle in source data)"));
      return 0;
    }
    --budget_;
    const std::string name = tol_hive_key_name(src, key);
    // A damaged source may hold a key without a name, which no reader of the
    // destination could find again, or a list entry that names no key record
    // at all: that subtree is lost, and a made-up empty key "?" would hide it.
    const bool readable = !name.empty() && tol_hive_key(src, key).has_value();
    g_autoptr(GError) reason = nullptr;
    const auto copy = readable ? tol_hive_create_key(dst, parent, name, &reason) : std::nullopt;
    if (!copy) {
      g_autofree gchar* message =
          reason ? g_strdup_printf(g_dgettext(GETTEXT_PACKAGE, "cannot create key \"%s\": %s"),
                                   name.c_str(), reason->message)
                 : g_strdup_printf(g_dgettext(GETTEXT_PACKAGE, "failed to create key \"%s\""),
                                   name.c_str());
      fail(error, G_FILE_ERROR_FAILED, message);
      return 0;
    }

    // When src and dst are one hive every write below may move the image:
    // everything of the source is read again by offset, never kept as a view.
    const std::uint32_t values = tol_hive_value_count(src, key);
    for (std::uint32_t i = 0; i < values; ++i) {
      TolHiveValue value;
      if (!tol_hive_read_value(src, key, i, value)) continue;
      g_autoptr(GError) refused = nullptr;
      if (!tol_hive_set_value(dst, *copy, value.name, value.type, value.data, &refused)) {
        g_autofree gchar* message = g_strdup_printf(
            g_dgettext(GETTEXT_PACKAGE, "cannot copy value \"%s\" of key \"%s\": %s"),
            value.name.c_str(), name.c_str(), refused->message);
        fail(error, G_FILE_ERROR_FAILED, message);
      }
    }

    std::uint32_t count = 1;
    for (const std::uint32_t sub : tol_hive_subkeys(src, key))
      count += this->key(src, sub, dst, *copy, level + 1, error);
    return count;
  }

 private:
  std::uint64_t budget_;
};

}  // namespace

std::uint32_t tol_hive_copy_subtree(TolHive& src, std::uint32_t key, TolHive& dst,
                                    std::uint32_t parent, GError** error) {
  if (key == TOL_NO_CELL || parent == TOL_NO_CELL) {
    fail(error, G_FILE_ERROR_INVAL, g_dgettext(GETTEXT_PACKAGE, "invalid copy arguments"));
    return 0;
  }
  // Within one hive the walk reads each source key's subkeys after creating
  // its copy, so a destination inside the source would be copied again and
  // again.
  if (&src == &dst) {
    const std::string from = tol_hive_key_path(src, key);
    const std::string into = tol_hive_key_path(dst, parent);
    if (key == src.root_cell || from == into || (!from.empty() && into.starts_with(from + "\\"))) {
      fail(error, G_FILE_ERROR_LOOP,
           g_dgettext(GETTEXT_PACKAGE, "a key cannot be copied into itself or its descendant"));
      return 0;
    }
  }
  return CopyWalk(src).key(src, key, dst, parent, 0, error);
}

std::uint32_t tol_hive_copy_key(TolHive& src, std::uint32_t key, TolHive& dst,
                                std::uint32_t parent, int level, GError** error) {
  return CopyWalk(src).key(src, key, dst, parent, level, error);
}
