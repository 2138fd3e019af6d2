// A comparison as a .reg file that turns the left subtree into the right one.
#include "reg/diff.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "hive/format.h"

namespace {

// A line break in a name would end the line that carries it, and the rest
// would be read back as a line of its own (the exporter leaves such names
// out for the same reason).
bool has_line_break(std::string_view name) {
  return name.find('\n') != std::string_view::npos || name.find('\r') != std::string_view::npos;
}

// Levels below the compared keys, as the exporter counts depth.
int depth_of(std::string_view path) {
  return 1 + static_cast<int>(std::count(path.begin(), path.end(), '\\'));
}

class DiffWriter {
 public:
  DiffWriter(TolRegOutput& out, const TolHive& right) : out_(out), right_(right) {}

  void entry(const TolDiffEntry& e) {
    switch (e.kind) {
      case TolDiffKind::key_only_left:
        close();
        if (has_line_break(e.path)) return skipped_key();
        out_.append("[-");
        out_.append(e.path);
        out_.append("]\n\n");
        return;
      case TolDiffKind::key_only_right:
        close();
        tol_export_tree(out_, right_, e.right_key, e.path, depth_of(e.path));
        return;
      case TolDiffKind::value_only_left:
        if (!open(e.path)) return;
        if (has_line_break(e.value)) {
          out_.append("; pominieto wartosc - nazwa zawiera znak konca wiersza\n");
          return;
        }
        if (e.value.empty())
          out_.append('@');
        else
          tol_reg_append_quoted(out_, e.value);
        out_.append("=-\n");
        return;
      case TolDiffKind::value_only_right:
      case TolDiffKind::value_changed:
        if (!open(e.path)) return;
        set_value(e);
        return;
      case TolDiffKind::class_changed:
      case TolDiffKind::security_changed:
      case TolDiffKind::time_changed:
        return;  // a .reg file cannot say these
    }
  }

  void close() {
    if (section_ && !skipping_) out_.append('\n');
    section_.reset();
    skipping_ = false;
  }

 private:
  void skipped_key() { out_.append("; pominieto klucz - nazwa zawiera znak konca wiersza\n"); }

  // Opens the section of the key unless it is open already; false when the
  // key's path cannot be written and its values are left out.
  bool open(const std::string& path) {
    if (section_ && *section_ == path) return !skipping_;
    close();
    section_ = path;
    if (has_line_break(path)) {
      skipped_key();
      skipping_ = true;
      return false;
    }
    out_.append('[');
    out_.append(path);
    out_.append("]\n");
    return true;
  }

  // The right side's type and data under the name the left side uses, so
  // that the import replaces the left value rather than adding a second one
  // whose name Windows would take for the same.
  void set_value(const TolDiffEntry& e) {
    const auto vk = tol_hive_vk(right_, e.right_value);
    if (!vk) return;
    value_.name = e.value;
    value_.type = vk->u32(TOL_VK_TYPE);
    tol_hive_value_data_into(right_, vk->u32(TOL_VK_DATA_LENGTH), vk->u32(TOL_VK_DATA_OFFSET),
                             value_.data);
    tol_reg_append_value(out_, value_, text_);
  }

  TolRegOutput& out_;
  const TolHive& right_;
  std::optional<std::string> section_;  // the path of the open [section]
  bool skipping_ = false;
  TolHiveValue value_;
  std::string text_;
};

}  // namespace

// The paths and names the lines need are in the diff, spelled as the left
// side spells them; only the right side's data are read.
bool tol_reg_diff(TolRegOutput& out, [[maybe_unused]] const TolHive& left, const TolHive& right,
                  const TolDiff& diff) {
  out.append(TOL_REG_HEADER);
  out.append("\n\n");
  DiffWriter writer(out, right);
  for (const TolDiffEntry& e : diff.entries) {
    if (!out.ok()) break;
    writer.entry(e);
  }
  writer.close();
  return out.finish();
}

std::string tol_reg_diff_text(const TolHive& left, const TolHive& right, const TolDiff& diff) {
  TolRegOutput out;
  tol_reg_diff(out, left, right, diff);
  return out.take();
}

bool tol_reg_diff_file(const TolHive& left, const TolHive& right, const TolDiff& diff,
                       const std::string& path, GError** error) {
  return tol_reg_write_file(
      path, [&](TolRegOutput& out) { return tol_reg_diff(out, left, right, diff); }, error);
}
