// The value list on the end side of a pane: the values of the key selected in
// the pane's key tree, tinted against the key selected in the other pane.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "hive/hive.h"
#include "ui/commands.h"
#include "ui/pane_private.h"
#include "ui/value_item.h"
#include "value/codec.h"

namespace {

enum Column : int { kColumnName = 0, kColumnType = 1, kColumnData = 2 };

constexpr const char* kIconClasses[] = {"tol-icon-string", "tol-icon-number", "tol-icon-binary"};
constexpr const char* kDiffClasses[] = {"tol-diff-only", "tol-diff-changed"};

struct TypeIcon {
  const char* icon;
  const char* css_class;
};

TypeIcon type_icon(std::uint32_t type) {
  switch (type) {
    case TOL_REG_SZ:
    case TOL_REG_EXPAND_SZ:
      return {"insert-text-symbolic", "tol-icon-string"};
    case TOL_REG_MULTI_SZ:
      return {"view-list-symbolic", "tol-icon-string"};
    case TOL_REG_DWORD:
    case TOL_REG_QWORD:
      return {"accessories-calculator-symbolic", "tol-icon-number"};
    default:
      // Big-endian DWORDs too: only the two everyday number types get the
      // number icon.
      return {"media-flash-symbolic", "tol-icon-binary"};
  }
}

// The other pane's values by name, each name standing for the first value
// that has it (names compare ASCII case-insensitively). Looking each row up
// here instead of scanning the other list keeps the rebuild of both lists
// linear: a key may hold thousands of values.
class Namesakes {
 public:
  explicit Namesakes(const std::vector<TolHiveValue>& values) {
    first_.reserve(values.size());
    for (const TolHiveValue& value : values)
      first_.try_emplace(fold(value.name), &value);
  }

  const TolHiveValue* find(const std::string& name) const {
    auto it = first_.find(fold(name));
    return it != first_.end() ? it->second : nullptr;
  }

 private:
  // A to Z become a to z; every other byte stays, as tol_name_equal compares.
  static std::string fold(std::string name) {
    for (char& c : name)
      c = g_ascii_tolower(c);
    return name;
  }

  std::unordered_map<std::string, const TolHiveValue*> first_;
};

// How `value` compares with the other pane's key; `others` is null when that
// pane shows no selected key.
TolDiffMark diff_mark(const TolHiveValue& value, const Namesakes* others) {
  if (others == nullptr)
    return TOL_DIFF_NONE;
  const TolHiveValue* match = others->find(value.name);
  if (match == nullptr)
    return TOL_DIFF_ONLY;
  if (match->type != value.type || match->data != value.data)
    return TOL_DIFF_CHANGED;
  return TOL_DIFF_NONE;
}

std::vector<TolHiveValue> read_values(const TolHive& hive, std::uint32_t key) {
  std::vector<TolHiveValue> values;
  const std::uint32_t count = tol_hive_value_count(hive, key);
  for (std::uint32_t i = 0; i < count; ++i) {
    TolHiveValue value;
    if (tol_hive_read_value(hive, key, i, value))
      values.push_back(std::move(value));
  }
  return values;
}

// ---- Row cells --------------------------------------------------------------

void cell_setup(GtkSignalListItemFactory*, GtkListItem* list_item, gpointer) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
  GtkWidget* image = gtk_image_new();
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_widget_set_halign(label, GTK_ALIGN_START);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
  gtk_box_append(GTK_BOX(box), image);
  gtk_box_append(GTK_BOX(box), label);
  gtk_list_item_set_child(list_item, box);
}

void cell_bind(GtkSignalListItemFactory*, GtkListItem* list_item, gpointer column_data) {
  auto* item = TOL_VALUE_ITEM(gtk_list_item_get_item(list_item));
  GtkWidget* box = gtk_list_item_get_child(list_item);
  GtkWidget* image = gtk_widget_get_first_child(box);
  GtkWidget* label = gtk_widget_get_next_sibling(image);

  switch (GPOINTER_TO_INT(column_data)) {
    case kColumnName: {
      const std::string name = tol_value_item_get_display_name(item);
      gtk_label_set_text(GTK_LABEL(label), name.c_str());
      const TypeIcon icon = type_icon(tol_value_item_get_value_type(item));
      gtk_image_set_from_icon_name(GTK_IMAGE(image), icon.icon);
      for (const char* css_class : kIconClasses)
        gtk_widget_remove_css_class(image, css_class);
      gtk_widget_add_css_class(image, icon.css_class);
      gtk_widget_set_visible(image, TRUE);
      break;
    }
    case kColumnType:
      gtk_widget_set_visible(image, FALSE);
      gtk_label_set_text(GTK_LABEL(label), tol_value_item_get_type_text(item).c_str());
      break;
    default:
      gtk_widget_set_visible(image, FALSE);
      gtk_label_set_text(GTK_LABEL(label), tol_value_item_get_data_text(item).c_str());
      break;
  }

  for (const char* css_class : kDiffClasses)
    gtk_widget_remove_css_class(box, css_class);
  switch (tol_value_item_get_diff(item)) {
    case TOL_DIFF_ONLY:
      gtk_widget_add_css_class(box, "tol-diff-only");
      break;
    case TOL_DIFF_CHANGED:
      gtk_widget_add_css_class(box, "tol-diff-changed");
      break;
    case TOL_DIFF_NONE:
      break;
  }
}

void append_column(GtkColumnView* view, const char* title, Column index, bool expand) {
  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(cell_setup), nullptr);
  g_signal_connect(factory, "bind", G_CALLBACK(cell_bind), GINT_TO_POINTER(index));
  GtkColumnViewColumn* column = gtk_column_view_column_new(title, factory);  // takes the factory
  gtk_column_view_column_set_expand(column, expand);
  gtk_column_view_column_set_resizable(column, TRUE);
  gtk_column_view_append_column(view, column);
  g_object_unref(column);
}

// ---- Keyboard ---------------------------------------------------------------

bool has_selected_value(TolPane* self) {
  return tol_pane_get_hive(self) != nullptr && tol_pane_get_selected_value(self) != nullptr;
}

gboolean on_rename(GtkWidget*, GVariant*, gpointer data) {
  auto* self = TOL_PANE(data);
  if (!has_selected_value(self))
    return FALSE;
  tol_pane_show_rename_value(self);
  return TRUE;
}

gboolean on_delete(GtkWidget*, GVariant*, gpointer data) {
  auto* self = TOL_PANE(data);
  if (!has_selected_value(self))
    return FALSE;
  tol_pane_confirm_delete_value(self);
  return TRUE;
}

gboolean on_new_key(GtkWidget*, GVariant*, gpointer data) {
  tol_pane_new_key(TOL_PANE(data));
  return TRUE;
}

gboolean on_copy(GtkWidget*, GVariant*, gpointer data) {
  return tol_pane_copy_value(TOL_PANE(data));
}

gboolean on_undo(GtkWidget*, GVariant*, gpointer data) {
  return tol_pane_undo(TOL_PANE(data), false);
}

gboolean on_search(GtkWidget*, GVariant*, gpointer data) {
  tol_pane_show_search(TOL_PANE(data));
  return TRUE;
}

gboolean on_replace(GtkWidget*, GVariant*, gpointer data) {
  tol_pane_show_replace(TOL_PANE(data));
  return TRUE;
}

void add_shortcut(GtkShortcutController* controller, guint key, GdkModifierType modifiers,
                  GtkShortcutFunc run, TolPane* self) {
  GtkShortcut* shortcut = gtk_shortcut_new(gtk_keyval_trigger_new(key, modifiers),
                                           gtk_callback_action_new(run, self, nullptr));
  gtk_shortcut_controller_add_shortcut(controller, shortcut);  // takes the shortcut
}

GtkEventController* shortcut_controller_new(TolPane* self) {
  GtkEventController* controller = gtk_shortcut_controller_new();
  gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
  auto* shortcuts = GTK_SHORTCUT_CONTROLLER(controller);
  const auto none = static_cast<GdkModifierType>(0);
  add_shortcut(shortcuts, GDK_KEY_F2, none, on_rename, self);
  add_shortcut(shortcuts, GDK_KEY_Delete, none, on_delete, self);
  add_shortcut(shortcuts, GDK_KEY_c, GDK_CONTROL_MASK, on_copy, self);
  add_shortcut(shortcuts, GDK_KEY_z, GDK_CONTROL_MASK, on_undo, self);
  add_shortcut(shortcuts, GDK_KEY_f, GDK_CONTROL_MASK, on_search, self);
  add_shortcut(shortcuts, GDK_KEY_h, GDK_CONTROL_MASK, on_replace, self);
  add_shortcut(shortcuts, GDK_KEY_F7, none, on_new_key, self);
  return controller;
}

// ---- Mouse ------------------------------------------------------------------

// Double click or Enter on a row.
void on_row_activated(GtkColumnView*, guint position, gpointer pane) {
  tol_pane_modify_value(TOL_PANE(pane), position);
}

// The menu acts on the selected value, so the press leaves the selection alone.
void on_secondary_press(GtkGestureClick* gesture, int, double x, double y, gpointer data) {
  auto* self = TOL_PANE(data);
  if (tol_pane_get_hive(self) == nullptr)
    return;
  gtk_widget_grab_focus(self->value_list_view);
  const GdkRectangle at = {static_cast<int>(x), static_cast<int>(y), 1, 1};
  gtk_popover_set_pointing_to(GTK_POPOVER(self->value_list_menu), &at);
  gtk_popover_popup(GTK_POPOVER(self->value_list_menu));
  gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
}

}  // namespace

GtkWidget* tol_pane_value_list_build(TolPane* self) {
  self->value_store = g_list_store_new(TOL_TYPE_VALUE_ITEM);
  self->value_selection = gtk_single_selection_new(G_LIST_MODEL(self->value_store));
  // A destructive key must never hit a value the user did not pick.
  gtk_single_selection_set_autoselect(self->value_selection, FALSE);
  // The view owns the models; these references keep the fields valid until
  // the pane is finalized, since the other pane may refresh this list while
  // the window is being torn down.
  g_object_set_data_full(G_OBJECT(self), "tol-value-store", g_object_ref(self->value_store),
                         g_object_unref);
  g_object_set_data_full(G_OBJECT(self), "tol-value-selection", g_object_ref(self->value_selection),
                         g_object_unref);

  GtkWidget* view = gtk_column_view_new(GTK_SELECTION_MODEL(self->value_selection));
  self->value_list_view = view;
  gtk_widget_add_controller(view, shortcut_controller_new(self));
  g_signal_connect(view, "activate", G_CALLBACK(on_row_activated), self);

  GMenuModel* model = tol_pane_value_list_menu_model();
  self->value_list_menu = gtk_popover_menu_new_from_model(model);
  g_object_unref(model);
  gtk_widget_set_parent(self->value_list_menu, view);
  gtk_popover_set_has_arrow(GTK_POPOVER(self->value_list_menu), FALSE);
  gtk_widget_set_halign(self->value_list_menu, GTK_ALIGN_START);
  GtkGesture* press = gtk_gesture_click_new();
  gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(press), GDK_BUTTON_SECONDARY);
  g_signal_connect(press, "pressed", G_CALLBACK(on_secondary_press), self);
  gtk_widget_add_controller(view, GTK_EVENT_CONTROLLER(press));

  auto* columns = GTK_COLUMN_VIEW(view);
  append_column(columns, _("Name"), kColumnName, true);
  append_column(columns, _("Type"), kColumnType, false);
  append_column(columns, _("Data"), kColumnData, true);

  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
  gtk_widget_set_hexpand(scrolled, TRUE);
  gtk_widget_set_vexpand(scrolled, TRUE);
  return scrolled;
}

void tol_pane_value_list_clear(TolPane* self) {
  if (self->value_store != nullptr)
    g_list_store_remove_all(self->value_store);
}

void tol_pane_refresh_values(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->value_store == nullptr)
    return;
  std::vector<gpointer> items;
  const TolHive* hive = tol_pane_get_hive(self);
  const std::uint32_t key = tol_pane_get_selected_key(self);
  if (hive != nullptr && key != TOL_NO_CELL) {
    std::vector<TolHiveValue> others;
    std::optional<Namesakes> namesakes;
    if (TolPane* other = self->other) {
      const TolHive* other_hive = tol_pane_get_hive(other);
      const std::uint32_t other_key = tol_pane_get_selected_key(other);
      if (other_hive != nullptr && other_key != TOL_NO_CELL) {
        others = read_values(*other_hive, other_key);
        namesakes.emplace(others);
      }
    }
    const std::vector<TolHiveValue> values = read_values(*hive, key);
    items.reserve(values.size());
    for (const TolHiveValue& value : values)
      items.push_back(tol_value_item_new(value, diff_mark(value, namesakes ? &*namesakes : nullptr)));
  }
  // The old rows go and the new ones come in one change of the model.
  const guint old_count = g_list_model_get_n_items(G_LIST_MODEL(self->value_store));
  g_list_store_splice(self->value_store, 0, old_count, items.data(), static_cast<guint>(items.size()));
  for (gpointer item : items)
    g_object_unref(item);
}

TolValueItem* tol_pane_get_selected_value(TolPane* self) {
  if (self->value_selection == nullptr)
    return nullptr;
  gpointer item = gtk_single_selection_get_selected_item(self->value_selection);
  return item != nullptr ? TOL_VALUE_ITEM(item) : nullptr;
}

bool tol_pane_copy_value(TolPane* self) {
  TolValueItem* item = tol_pane_get_selected_value(self);
  if (item == nullptr)
    return false;
  const std::string name = tol_value_item_get_display_name(item);
  g_autofree char* text = g_strdup_printf(_("%s\t%s\t%s"), name.c_str(),
                                          tol_value_item_get_type_text(item).c_str(),
                                          tol_value_item_get_data_text(item).c_str());
  gdk_clipboard_set_text(gtk_widget_get_clipboard(self->value_list_view), text);
  tol_pane_toast(self, _("Value copied to the clipboard"));
  return true;
}
