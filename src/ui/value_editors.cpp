// The value editor dialogs, one per kind of data, and the New value dialog.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "hive/bytes.h"
#include "hive/hive.h"
#include "hive/names.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/dialog.h"
#include "ui/value_dialogs.h"
#include "ui/value_item.h"
#include "ui/value_list.h"
#include "value/codec.h"

namespace {

enum class EditorKind { kString, kDword, kQword, kMultiString, kHex };

EditorKind editor_kind(std::uint32_t type) {
  switch (type) {
    case TOL_REG_SZ:
    case TOL_REG_EXPAND_SZ:
      return EditorKind::kString;
    case TOL_REG_DWORD:
      return EditorKind::kDword;
    case TOL_REG_QWORD:
      return EditorKind::kQword;
    case TOL_REG_MULTI_SZ:
      return EditorKind::kMultiString;
    default:
      return EditorKind::kHex;
  }
}

// Title and initial text of the editor for that data.
std::pair<std::string, std::string> editor_texts(EditorKind kind, std::uint32_t type,
                                                 std::span<const std::uint8_t> data) {
  const tol::ByteView view(data);
  switch (kind) {
    case EditorKind::kString:
      return {type == TOL_REG_SZ ? _("Edit REG_SZ") : _("Edit REG_EXPAND_SZ"),
              data.empty() ? std::string() : tol_utf16_to_utf8(data)};
    case EditorKind::kDword:
      // Data of another length than the number's are shown as 0 and
      // replaced by four bytes on OK.
      return {_("Edit REG_DWORD (hex 0x… or decimal)"),
              tol_format(_("0x%08x"), data.size() == 4 ? view.u32(0) : 0u)};
    case EditorKind::kQword:
      return {_("Edit REG_QWORD (hex 0x… or decimal)"),
              tol_format(_("0x%016lx"),
                         static_cast<unsigned long>(data.size() == 8 ? view.u64(0) : 0u))};
    case EditorKind::kMultiString:
      return {_("Edit REG_MULTI_SZ (one value per line)"), tol_value_multi_sz_decode(data)};
    case EditorKind::kHex:
      break;
  }
  return {tol_format(_("Edit %s (comma-separated hex bytes)"), tol_value_type_name(type)),
          tol_value_hex_format(data)};
}

template <typename Number>
TolBytes little_endian(Number value) {
  TolBytes out(sizeof(Number));
  for (std::size_t i = 0; i < sizeof(Number); ++i)
    out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return out;
}

// The data the edited text stands for, or nothing after telling the user
// what is wrong with it.
std::optional<TolBytes> parse_text(TolPane* pane, EditorKind kind, const std::string& text) {
  switch (kind) {
    case EditorKind::kString:
      return tol_value_sz_encode(text);
    case EditorKind::kMultiString:
      return tol_value_multi_sz_encode(text);
    case EditorKind::kDword:
      if (const auto number = tol_value_parse_dword_text(text))
        return little_endian(*number);
      tol_pane_toast(pane, _("Invalid number — enter e.g. 0x1A2B or 12345"));
      return std::nullopt;
    case EditorKind::kQword:
      if (const auto number = tol_value_parse_qword_text(text))
        return little_endian(*number);
      tol_pane_toast(pane, _("Invalid number — enter e.g. 0x1A2B3C4D or 12345"));
      return std::nullopt;
    case EditorKind::kHex:
      break;
  }
  return tol_pane_parse_hex(pane, text);
}

}  // namespace

// The editor for the value in row `position`. The value is found again by its
// name when OK is pressed.
void tol_pane_modify_value(TolPane* self, guint position) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_get_hive(self) == nullptr)
    return;
  g_autoptr(TolValueItem) item = static_cast<TolValueItem*>(
      g_list_model_get_item(tol_value_list_get_model(tol_pane_get_value_list(self)), position));
  if (item == nullptr || tol_pane_refuse_deleted_value(self, item))
    return;
  const std::string name = tol_value_item_get_name(item);
  const std::uint32_t type = tol_value_item_get_value_type(item);
  const EditorKind kind = editor_kind(type);
  const auto [title, text] = editor_texts(kind, type, tol_value_item_get_data(item));

  const bool multiline = kind == EditorKind::kMultiString || kind == EditorKind::kHex;
  TolEditDialog* dialog = tol_edit_dialog_new(self, title.c_str(), text.c_str(), multiline);
  if (kind == EditorKind::kHex)
    tol_edit_dialog_wrap_anywhere(dialog);
  tol_edit_dialog_set_apply(dialog, [name, type, kind](TolPane* pane, TolEditDialog* d) {
    const std::optional<TolBytes> data = parse_text(pane, kind, tol_edit_dialog_get_text(d));
    if (!data)
      return false;
    tol_pane_apply_value_change(pane, name.c_str(), type, data->data(),
                                static_cast<std::uint32_t>(data->size()));
    return true;
  });
  tol_edit_dialog_present(dialog);
}

void tol_pane_show_new_value(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_get_hive(self) == nullptr) {
    tol_pane_toast(self, _("Open a hive file in this pane first"));
    return;
  }
  TolEditDialog* dialog = tol_edit_dialog_new(self, _("New value"), _("NewValue"), false);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 360, -1);
  const char* type_names[G_N_ELEMENTS(TOL_NEW_VALUE_TYPES) + 1] = {};
  for (std::size_t i = 0; i < G_N_ELEMENTS(TOL_NEW_VALUE_TYPES); ++i)
    type_names[i] = tol_value_type_name(TOL_NEW_VALUE_TYPES[i]);
  GtkWidget* types = gtk_drop_down_new_from_strings(type_names);
  gtk_drop_down_set_selected(GTK_DROP_DOWN(types), 0);
  tol_edit_dialog_add(dialog, types);
  tol_edit_dialog_set_apply(dialog, [types](TolPane* pane, TolEditDialog* d) {
    const guint position = gtk_drop_down_get_selected(GTK_DROP_DOWN(types));
    const std::uint32_t type =
        position < G_N_ELEMENTS(TOL_NEW_VALUE_TYPES) ? TOL_NEW_VALUE_TYPES[position] : TOL_REG_SZ;
    tol_pane_apply_new_value(pane, tol_edit_dialog_get_text(d), type);
    return true;
  });
  tol_edit_dialog_present(dialog);
}
