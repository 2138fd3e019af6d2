// The value list: rows of a key's values with their difference from the
// other pane's key, row cells, the context menu and row activation.
#include "ui/value_list.h"

#include <glib/gi18n-lib.h>

#include <unordered_map>
#include <vector>

#include "ui/menus.h"
#include "ui/widget_util.h"
#include "ui/compat.h"
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
      const TypeIcon icon = tol_value_item_is_deleted(item) ? TypeIcon{"user-trash-symbolic", nullptr}
                                                            : type_icon(tol_value_item_get_value_type(item));
      gtk_image_set_from_icon_name(GTK_IMAGE(image), icon.icon);
      for (const char* css_class : kIconClasses)
        gtk_widget_remove_css_class(image, css_class);
      if (icon.css_class != nullptr) gtk_widget_add_css_class(image, icon.css_class);
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
  if (tol_value_item_is_deleted(item))
    gtk_widget_add_css_class(box, "tol-deleted");
  else
    gtk_widget_remove_css_class(box, "tol-deleted");
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

}  // namespace

struct _TolValueList {
  GtkWidget parent_instance;
  GtkWidget* scrolled;  // the only child
  GtkWidget* view;
  GListStore* store;              // owned
  GtkSingleSelection* selection;  // owned
  GtkWidget* menu;
  bool shown;  // a key's values are shown (the menu has something to act on)
};

G_DEFINE_FINAL_TYPE(TolValueList, tol_value_list, GTK_TYPE_WIDGET)

namespace {

// Double click or Enter on a row edits it.
void on_row_activated(GtkColumnView*, guint position, gpointer list) {
  auto* self = TOL_VALUE_LIST(list);
  gtk_single_selection_set_selected(self->selection, position);
  gtk_widget_activate_action(GTK_WIDGET(self), "pane.value-modify", nullptr);
}

// The menu acts on the selected value, so the press leaves the selection alone.
void on_secondary_press(GtkGestureClick* gesture, int, double x, double y, gpointer list) {
  auto* self = TOL_VALUE_LIST(list);
  if (!self->shown) return;
  tol_popup_menu_at(self->view, self->menu, gesture, x, y);
}

}  // namespace

static void tol_value_list_dispose(GObject* object) {
  TolValueList* self = TOL_VALUE_LIST(object);
  if (self->menu != nullptr) {
    gtk_widget_unparent(self->menu);
    self->menu = nullptr;
  }
  g_clear_pointer(&self->scrolled, gtk_widget_unparent);
  self->view = nullptr;
  g_clear_object(&self->selection);
  g_clear_object(&self->store);
  G_OBJECT_CLASS(tol_value_list_parent_class)->dispose(object);
}

static void tol_value_list_class_init(TolValueListClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = tol_value_list_dispose;
  gtk_widget_class_set_layout_manager_type(GTK_WIDGET_CLASS(klass), GTK_TYPE_BIN_LAYOUT);
}

static void tol_value_list_init(TolValueList* self) {
  self->store = g_list_store_new(TOL_TYPE_VALUE_ITEM);
  self->selection = gtk_single_selection_new(G_LIST_MODEL(g_object_ref(self->store)));
  // A destructive key must never hit a value the user did not pick.
  gtk_single_selection_set_autoselect(self->selection, FALSE);

  self->view = gtk_column_view_new(GTK_SELECTION_MODEL(g_object_ref(self->selection)));
  g_signal_connect(self->view, "activate", G_CALLBACK(on_row_activated), self);

  g_autoptr(GMenuModel) model = tol_menu_value_list();
  self->menu = gtk_popover_menu_new_from_model(model);
  gtk_widget_set_parent(self->menu, self->view);
  gtk_popover_set_has_arrow(GTK_POPOVER(self->menu), FALSE);
  gtk_widget_set_halign(self->menu, GTK_ALIGN_START);
  GtkGesture* press = gtk_gesture_click_new();
  gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(press), GDK_BUTTON_SECONDARY);
  g_signal_connect(press, "pressed", G_CALLBACK(on_secondary_press), self);
  gtk_widget_add_controller(self->view, GTK_EVENT_CONTROLLER(press));

  auto* columns = GTK_COLUMN_VIEW(self->view);
  append_column(columns, _("Name"), kColumnName, true);
  append_column(columns, _("Type"), kColumnType, false);
  append_column(columns, _("Data"), kColumnData, true);

  self->scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(self->scrolled), self->view);
  gtk_widget_set_hexpand(self->scrolled, TRUE);
  gtk_widget_set_vexpand(self->scrolled, TRUE);
  gtk_widget_set_parent(self->scrolled, GTK_WIDGET(self));
}

TolValueList* tol_value_list_new() { return TOL_VALUE_LIST(g_object_new(TOL_TYPE_VALUE_LIST, nullptr)); }

namespace {

// The row of a value like the one selected before: the live value of that
// name, or the deleted value of that record (of that name when the record
// is gone).
std::optional<guint> find_again(GListModel* rows, const std::string& name, bool deleted, std::uint32_t record) {
  std::optional<guint> namesake;
  for (guint i = 0, n = g_list_model_get_n_items(rows); i < n; ++i) {
    g_autoptr(TolValueItem) item = TOL_VALUE_ITEM(g_list_model_get_item(rows, i));
    if (tol_value_item_is_deleted(item) != deleted ||
        g_ascii_strcasecmp(tol_value_item_get_name(item).c_str(), name.c_str()) != 0)
      continue;
    if (!deleted || tol_value_item_get_record(item) == record) return i;
    if (!namesake) namesake = i;
  }
  return namesake;
}

}  // namespace

void tol_value_list_show(TolValueList* self, const TolHive* hive, std::uint32_t key,
                         const TolHive* other, std::uint32_t other_key, const TolDeletedRows& deleted) {
  g_return_if_fail(TOL_IS_VALUE_LIST(self));
  std::string selected_name;
  bool had_selection = false;
  bool selected_deleted = false;
  std::uint32_t selected_record = TOL_NO_CELL;
  if (TolValueItem* item = tol_value_list_get_selected(self)) {
    selected_name = tol_value_item_get_name(item);
    had_selection = true;
    selected_deleted = tol_value_item_is_deleted(item);
    selected_record = tol_value_item_get_record(item);
  }
  std::vector<gpointer> items;
  const bool deleted_shown = hive != nullptr && deleted.scan != nullptr;
  self->shown = hive != nullptr && (key != TOL_NO_CELL || deleted_shown);
  if (hive != nullptr && key != TOL_NO_CELL) {
    std::vector<TolHiveValue> others;
    std::optional<Namesakes> namesakes;
    if (other != nullptr && other_key != TOL_NO_CELL) {
      others = read_values(*other, other_key);
      namesakes.emplace(others);
    }
    const std::vector<TolHiveValue> values = read_values(*hive, key);
    items.reserve(values.size());
    for (const TolHiveValue& value : values)
      items.push_back(tol_value_item_new(value, diff_mark(value, namesakes ? &*namesakes : nullptr)));
  }
  if (deleted_shown) {
    std::vector<std::uint8_t> data;
    for (const std::size_t i : deleted.values) {
      if (i >= deleted.scan->values.size()) continue;
      const TolDeletedValue& value = deleted.scan->values[i];
      const bool intact = tol_deleted_value_data(*hive, *deleted.scan, value, data);
      items.push_back(tol_value_item_new_deleted(value, intact ? &data : nullptr));
    }
  }
  // The old rows go and the new ones come in one change of the model; the
  // keyboard focus, on a row that goes, stays in the list.
  const bool had_focus = tol_focus_inside(self->view);
  const guint old_count = g_list_model_get_n_items(G_LIST_MODEL(self->store));
  g_list_store_splice(self->store, 0, old_count, items.data(), static_cast<guint>(items.size()));
  for (gpointer item : items) g_object_unref(item);
  if (had_selection) {
    if (const std::optional<guint> row =
            find_again(G_LIST_MODEL(self->store), selected_name, selected_deleted, selected_record))
      gtk_single_selection_set_selected(self->selection, *row);
  }
  if (had_focus && !tol_focus_inside(self->view)) gtk_widget_grab_focus(self->view);
}

TolValueItem* tol_value_list_get_selected(TolValueList* self) {
  g_return_val_if_fail(TOL_IS_VALUE_LIST(self), nullptr);
  gpointer item = gtk_single_selection_get_selected_item(self->selection);
  return item != nullptr ? TOL_VALUE_ITEM(item) : nullptr;
}

std::optional<guint> tol_value_list_find(TolValueList* self, const std::string& name) {
  g_return_val_if_fail(TOL_IS_VALUE_LIST(self), std::nullopt);
  GListModel* rows = G_LIST_MODEL(self->store);
  for (guint i = 0, n = g_list_model_get_n_items(rows); i < n; ++i) {
    g_autoptr(TolValueItem) item = TOL_VALUE_ITEM(g_list_model_get_item(rows, i));
    if (!tol_value_item_is_deleted(item) && g_ascii_strcasecmp(tol_value_item_get_name(item).c_str(), name.c_str()) == 0)
      return i;
  }
  return std::nullopt;
}

void tol_value_list_select(TolValueList* self, guint position) {
  g_return_if_fail(TOL_IS_VALUE_LIST(self));
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(self->view), position, true);
  gtk_single_selection_set_selected(self->selection, position);
}

GtkWidget* tol_value_list_get_view(TolValueList* self) { return self->view; }
GListModel* tol_value_list_get_model(TolValueList* self) { return G_LIST_MODEL(self->store); }
GtkSingleSelection* tol_value_list_get_selection(TolValueList* self) { return self->selection; }
GtkWidget* tol_value_list_get_menu(TolValueList* self) { return self->menu; }
