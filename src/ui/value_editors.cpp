// The value editor dialogs, one per kind of data, and the New value dialog.
#include <glib/gi18n-lib.h>

#include <memory>
#include <optional>
#include <string>

#include "hive/bytes.h"
#include "hive/hive.h"
#include "hive/names.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/dialog.h"
#include "ui/pane_private.h"
#include "ui/value_dialogs.h"
#include "ui/value_item.h"
#include "value/codec.h"

namespace {

enum class EditorKind { kString, kDword, kQword, kMultiString, kHex };

// One open editor. The value is found again by its name when OK is pressed.
struct ValueEditor {
  explicit ValueEditor(TolPane* pane) : pane(pane) {}
  TolPaneRef pane;
  GtkWidget* window = nullptr;
  GtkWidget* entry = nullptr;
  GtkTextBuffer* buffer = nullptr;
  std::string name;  // "" for the default value
  std::uint32_t type = 0;
  EditorKind kind = EditorKind::kHex;
};

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

void apply_edit(GtkWidget*, gpointer window_ptr) {
  GtkWidget* window = GTK_WIDGET(window_ptr);
  auto* editor = tol_dialog_get_context<ValueEditor>(window);
  TolPane* pane = editor->pane.get();
  if (pane == nullptr) {
    gtk_window_destroy(GTK_WINDOW(window));
    return;
  }
  const std::optional<TolBytes> data =
      parse_text(pane, editor->kind, tol_dialog_get_text(editor->entry, editor->buffer));
  if (!data)
    return;
  tol_pane_apply_value_change(pane, editor->name.c_str(), editor->type, data->data(),
                              static_cast<std::uint32_t>(data->size()));
  gtk_window_destroy(GTK_WINDOW(window));
}

void apply_new_value(GtkWidget*, gpointer window) {
  tol_pane_apply_new_value(tol_dialog_get_context<TolNewValueDialog>(GTK_WIDGET(window)));
}

}  // namespace

void tol_pane_modify_value(TolPane* self, guint position) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (!self->d->hive)
    return;
  auto* item = static_cast<TolValueItem*>(g_list_model_get_item(G_LIST_MODEL(self->value_store), position));
  if (item == nullptr)
    return;
  auto editor = std::make_unique<ValueEditor>(self);
  editor->name = tol_value_item_get_name(item);
  editor->type = tol_value_item_get_value_type(item);
  editor->kind = editor_kind(editor->type);
  const auto [title, text] = editor_texts(editor->kind, editor->type, tol_value_item_get_data(item));
  g_object_unref(item);

  const bool multiline = editor->kind == EditorKind::kMultiString || editor->kind == EditorKind::kHex;
  TolDialog dialog = tol_dialog_new(self, title.c_str(), text.c_str(), multiline);
  if (editor->kind == EditorKind::kHex)
    tol_dialog_wrap_hex(dialog.window);
  editor->window = dialog.window;
  editor->entry = dialog.entry;
  editor->buffer = dialog.buffer;
  tol_dialog_set_context(dialog.window, std::move(editor));
  g_signal_connect(dialog.ok, "clicked", G_CALLBACK(apply_edit), dialog.window);
  // In the multi-line editors Enter starts a new line.
  if (dialog.entry != nullptr)
    g_signal_connect(dialog.entry, "activate", G_CALLBACK(apply_edit), dialog.window);
}

void tol_pane_show_new_value(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (!self->d->hive) {
    tol_pane_toast(self, _("Open a hive file in this pane first"));
    return;
  }
  GtkWidget* window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(window), _("New value"));
  gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(self));
  if (GTK_IS_WINDOW(root))
    gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(root));
  gtk_window_set_default_size(GTK_WINDOW(window), 360, -1);

  // Escape leaves it as Cancel does, like the other edit dialogs.
  GtkEventController* keys = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(keys),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                       gtk_named_action_new("window.close")));
  gtk_widget_add_controller(window, keys);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_widget_set_margin_start(box, 12);
  gtk_widget_set_margin_end(box, 12);
  gtk_widget_set_margin_top(box, 12);
  gtk_widget_set_margin_bottom(box, 12);
  gtk_window_set_child(GTK_WINDOW(window), box);

  GtkWidget* entry = gtk_entry_new();
  gtk_editable_set_text(GTK_EDITABLE(entry), _("NewValue"));
  gtk_box_append(GTK_BOX(box), entry);

  const char* type_names[G_N_ELEMENTS(TOL_NEW_VALUE_TYPES) + 1] = {};
  for (std::size_t i = 0; i < G_N_ELEMENTS(TOL_NEW_VALUE_TYPES); ++i)
    type_names[i] = tol_value_type_name(TOL_NEW_VALUE_TYPES[i]);
  GtkWidget* types = gtk_drop_down_new_from_strings(type_names);
  gtk_drop_down_set_selected(GTK_DROP_DOWN(types), 0);
  gtk_box_append(GTK_BOX(box), types);

  GtkWidget* ok = nullptr;
  gtk_box_append(GTK_BOX(box), tol_dialog_button_row(window, &ok));

  auto context = std::make_unique<TolNewValueDialog>(self);
  context->window = window;
  context->entry = entry;
  context->type_drop_down = types;
  tol_dialog_set_context(window, std::move(context));
  g_signal_connect(ok, "clicked", G_CALLBACK(apply_new_value), window);
  g_signal_connect(entry, "activate", G_CALLBACK(apply_new_value), window);

  gtk_window_present(GTK_WINDOW(window));
  gtk_widget_grab_focus(entry);
  gtk_editable_select_region(GTK_EDITABLE(entry), 0, -1);
}
