// The key tree: a lazily filled tree list model over the hive's keys, its row
// widgets, selecting a key by path, keyboard navigation, type-ahead find and
// the drag-and-drop wiring.
#include "ui/key_tree.h"

#include <glib/gi18n-lib.h>

#include <string>
#include <string_view>
#include <vector>

#include "ui/compat.h"
#include "ui/key_item.h"
#include "ui/key_list.h"
#include "ui/commands.h"
#include "ui/pane_private.h"

namespace {

constexpr gint64 kTypeAheadPause = G_USEC_PER_SEC;

// ---- Model -----------------------------------------------------------------------

// Children are read when the tree asks for them: on expansion, or when an
// expander needs to know whether its row can be expanded.
GListModel* create_child_model(gpointer item, gpointer pane) {
  auto* self = TOL_PANE(pane);
  auto* key = TOL_KEY_ITEM(item);
  TolHive* hive = tol_key_item_get_hive(key);
  // Rows of a hive that is no longer shown have nothing to read from.
  if (hive == nullptr || hive != self->d->hive.get())
    return nullptr;
  std::vector<std::uint32_t> subkeys = tol_hive_subkeys(*hive, tol_key_item_get_offset(key));
  if (subkeys.empty())
    return nullptr;
  // The names are read as rows ask for them: the expander of every drawn row
  // asks for its children, and one of them may have tens of thousands.
  return G_LIST_MODEL(tol_key_list_new(hive, std::move(subkeys)));
}

GtkTreeListModel* tree_model(TolPane* self) {
  GListModel* model = gtk_single_selection_get_model(self->key_tree_selection);
  return GTK_IS_TREE_LIST_MODEL(model) ? GTK_TREE_LIST_MODEL(model) : nullptr;
}

// Takes over `roots`.
GtkTreeListModel* new_tree_model(TolPane* self, GListStore* roots) {
  return gtk_tree_list_model_new(G_LIST_MODEL(roots), FALSE, FALSE, create_child_model, self,
                                 nullptr);
}

void on_selection_changed(GtkSingleSelection*, GParamSpec*, gpointer pane) {
  auto* self = TOL_PANE(pane);
  tol_pane_refresh_values(self);
  if (self->other != nullptr)
    tol_pane_refresh_values(self->other);
}

TolKeyItem* row_key(GtkTreeListRow* row) {
  auto* item = static_cast<GObject*>(gtk_tree_list_row_get_item(row));
  auto* key = TOL_IS_KEY_ITEM(item) ? TOL_KEY_ITEM(item) : nullptr;
  if (item != nullptr)
    g_object_unref(item);  // the row keeps its item alive
  return key;
}

// The row widget showing `position`, or null while it is not laid out.
GtkWidget* row_widget(TolPane* self, guint position) {
  GtkWidget* found = nullptr;
  std::vector<GtkWidget*> pending = {self->key_tree_view};
  while (!pending.empty() && found == nullptr) {
    GtkWidget* widget = pending.back();
    pending.pop_back();
    if (GTK_IS_TREE_EXPANDER(widget)) {
      GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(widget));
      if (row != nullptr && gtk_tree_list_row_get_position(row) == position)
        found = widget;
      continue;
    }
    for (GtkWidget* c = gtk_widget_get_first_child(widget); c != nullptr; c = gtk_widget_get_next_sibling(c))
      pending.push_back(c);
  }
  // The focusable row is the list view's child that holds the expander.
  while (found != nullptr && !GTK_IS_LIST_VIEW(gtk_widget_get_parent(found)))
    found = gtk_widget_get_parent(found);
  return found;
}

bool focus_in_tree(TolPane* self) { return tol_focus_inside(self->key_tree_view); }

// The view scrolls to a row that takes the focus, placing it from estimated
// heights while the row is not laid out yet; far down a long list that can
// leave it just out of sight. Scrolling once more, after the focus moved, puts
// it where the selection asked.
void focus_row(TolPane* self, GtkWidget* row, guint position) {
  gtk_widget_grab_focus(row);
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(self->key_tree_view), position, false);
}

gboolean focus_selected_row(GtkWidget*, GdkFrameClock*, gpointer pane) {
  auto* self = TOL_PANE(pane);
  guint position = gtk_single_selection_get_selected(self->key_tree_selection);
  if (position != GTK_INVALID_LIST_POSITION && focus_in_tree(self)) {
    if (GtkWidget* row = row_widget(self, position))
      focus_row(self, row, position);
  }
  return G_SOURCE_REMOVE;
}

// Selects a row and brings it into view. While the tree has the keyboard
// focus, the focus moves to the row too, so that the view's own arrow keys go
// on from there rather than from the row focused before.
void select_row(TolPane* self, guint position) {
  gtk_single_selection_set_selected(self->key_tree_selection, position);
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(self->key_tree_view), position, true);
  if (!focus_in_tree(self))
    return;
  if (GtkWidget* row = row_widget(self, position))
    focus_row(self, row, position);
  else  // the row is laid out with the next frame
    gtk_widget_add_tick_callback(self->key_tree_view, focus_selected_row, self, nullptr);
}

// ---- Row widgets -------------------------------------------------------------------

void row_setup(GtkSignalListItemFactory*, GtkListItem* item, gpointer) {
  GtkWidget* expander = gtk_tree_expander_new();
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* icon = gtk_image_new_from_icon_name("folder-symbolic");
  gtk_widget_add_css_class(icon, "tol-icon-folder");
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_box_append(GTK_BOX(box), icon);
  gtk_box_append(GTK_BOX(box), label);
  gtk_tree_expander_set_child(GTK_TREE_EXPANDER(expander), box);
  gtk_list_item_set_child(item, expander);
}

void row_bind(GtkSignalListItemFactory*, GtkListItem* item, gpointer) {
  GtkWidget* expander = gtk_list_item_get_child(item);
  auto* row = GTK_TREE_LIST_ROW(gtk_list_item_get_item(item));
  gtk_tree_expander_set_list_row(GTK_TREE_EXPANDER(expander), row);
  GtkWidget* box = gtk_tree_expander_get_child(GTK_TREE_EXPANDER(expander));
  GtkWidget* label = gtk_widget_get_last_child(box);
  TolKeyItem* key = row_key(row);
  gtk_label_set_text(GTK_LABEL(label), key != nullptr ? tol_key_item_get_name(key) : "");
}

void row_unbind(GtkSignalListItemFactory*, GtkListItem* item, gpointer) {
  GtkWidget* expander = gtk_list_item_get_child(item);
  gtk_tree_expander_set_list_row(GTK_TREE_EXPANDER(expander), nullptr);
}

// ---- Type-ahead ----------------------------------------------------------------------

// Looks at the rows after the selected one, wrapping around; the selected row
// itself comes last, so a repeated prefix moves on to the next match.
bool type_ahead_search(TolPane* self, const std::string& prefix) {
  GListModel* rows = G_LIST_MODEL(self->key_tree_selection);
  guint n = g_list_model_get_n_items(rows);
  if (n == 0)
    return false;
  guint selected = gtk_single_selection_get_selected(self->key_tree_selection);
  guint start = selected < n ? selected : n - 1;  // no selection: row 0 first
  char* folded_prefix = g_utf8_casefold(prefix.c_str(), -1);
  bool found = false;
  for (guint i = 1; i <= n && !found; ++i) {
    guint position = (start + i) % n;
    auto* row = GTK_TREE_LIST_ROW(g_list_model_get_item(rows, position));
    TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
    if (key != nullptr && g_str_has_prefix(tol_key_item_get_folded_name(key), folded_prefix)) {
      select_row(self, position);
      found = true;
    }
    if (row != nullptr)
      g_object_unref(row);
  }
  g_free(folded_prefix);
  return found;
}

gboolean on_type_ahead(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                       gpointer pane) {
  auto* self = TOL_PANE(pane);
  if ((state & (GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK)) != 0)
    return FALSE;
  if (keyval == GDK_KEY_KP_Multiply || keyval == GDK_KEY_KP_Add || keyval == GDK_KEY_KP_Subtract)
    return FALSE;
  gunichar ch = gdk_keyval_to_unicode(keyval);
  if (ch == 0 || !g_unichar_isprint(ch) || g_unichar_isspace(ch))
    return FALSE;
  char utf8[8] = {};
  g_unichar_to_utf8(ch, utf8);

  std::string& buffer = self->d->type_ahead;
  gint64 now = g_get_monotonic_time();
  if (now - self->d->type_ahead_time > kTypeAheadPause) {
    buffer = utf8;
  } else {
    // The same letter again keeps the one-letter prefix, so that the search
    // moves on to the next key starting with it.
    bool same_letter = g_utf8_strlen(buffer.c_str(), -1) == 1 &&
                       g_utf8_collate(buffer.c_str(), utf8) == 0;
    if (!same_letter)
      buffer += utf8;
  }
  self->d->type_ahead_time = now;

  if (!type_ahead_search(self, buffer) && g_utf8_strlen(buffer.c_str(), -1) > 1) {
    buffer = utf8;
    type_ahead_search(self, buffer);
  }
  return TRUE;
}

// ---- Drag and drop -------------------------------------------------------------------

GdkContentProvider* on_drag_prepare(GtkDragSource*, double, double, gpointer pane) {
  auto* self = TOL_PANE(pane);
  std::uint32_t key = tol_pane_get_selected_key(self);
  if (key == TOL_NO_CELL)
    return nullptr;
  tol_drag_record.hive = self->d->hive.get();
  tol_drag_record.key = key;
  std::string path = tol_hive_key_path(*self->d->hive, key);
  return gdk_content_provider_new_typed(G_TYPE_STRING, path.c_str());
}

void on_drag_end(GtkDragSource*, GdkDrag*, gboolean, gpointer) { tol_drag_record = TolDragRecord{}; }

// The dropped string (a path) is not used: the source is the drag record's
// key, the destination the key selected here.
gboolean on_drop(GtkDropTarget*, const GValue*, double, double, gpointer pane) {
  return tol_pane_drop_key(TOL_PANE(pane));
}

}  // namespace

GtkWidget* tol_pane_key_tree_build(TolPane* self) {
  GListStore* roots = g_list_store_new(TOL_TYPE_KEY_ITEM);
  GtkTreeListModel* model = new_tree_model(self, roots);
  self->key_tree_selection = gtk_single_selection_new(G_LIST_MODEL(model));
  g_signal_connect(self->key_tree_selection, "notify::selected-item",
                   G_CALLBACK(on_selection_changed), self);

  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(row_setup), nullptr);
  g_signal_connect(factory, "bind", G_CALLBACK(row_bind), nullptr);
  g_signal_connect(factory, "unbind", G_CALLBACK(row_unbind), nullptr);
  GtkColumnViewColumn* column = gtk_column_view_column_new(_("Key"), factory);
  gtk_column_view_column_set_expand(column, TRUE);
  gtk_column_view_column_set_resizable(column, TRUE);

  self->key_tree_view = gtk_column_view_new(GTK_SELECTION_MODEL(self->key_tree_selection));
  gtk_column_view_append_column(GTK_COLUMN_VIEW(self->key_tree_view), column);
  g_object_unref(column);

  gtk_widget_add_controller(self->key_tree_view, tol_pane_key_tree_shortcuts());
  tol_pane_key_tree_menu_attach(self);

  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(on_type_ahead), self);
  gtk_widget_add_controller(self->key_tree_view, keys);

  GtkDragSource* drag = gtk_drag_source_new();
  gtk_drag_source_set_actions(drag, GDK_ACTION_COPY);
  g_signal_connect(drag, "prepare", G_CALLBACK(on_drag_prepare), self);
  g_signal_connect(drag, "drag-end", G_CALLBACK(on_drag_end), self);
  gtk_widget_add_controller(self->key_tree_view, GTK_EVENT_CONTROLLER(drag));

  GtkDropTarget* drop = gtk_drop_target_new(G_TYPE_STRING, GDK_ACTION_COPY);
  g_signal_connect(drop, "drop", G_CALLBACK(on_drop), self);
  gtk_widget_add_controller(self->key_tree_view, GTK_EVENT_CONTROLLER(drop));

  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_widget_set_hexpand(scrolled, TRUE);
  gtk_widget_set_vexpand(scrolled, TRUE);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), self->key_tree_view);
  return scrolled;
}

void tol_key_tree_set_hive(TolPane* self, TolHive* hive) {
  GListStore* roots = g_list_store_new(TOL_TYPE_KEY_ITEM);
  if (hive != nullptr) {
    std::string name = tol_hive_key_name(*hive, hive->root_cell);
    TolKeyItem* root = tol_key_item_new(hive, hive->root_cell, name.c_str());
    g_list_store_append(roots, root);
    g_object_unref(root);
  }
  GtkTreeListModel* model = new_tree_model(self, roots);
  // The caller refreshes the value lists once the new hive is in place; the
  // selection moving to the new model must not read it half-way.
  g_signal_handlers_block_by_func(self->key_tree_selection, (gpointer)on_selection_changed, self);
  // The focused row goes with the old rows; a reload after an edit keeps the
  // keyboard in the tree.
  bool had_focus = focus_in_tree(self);
  gtk_single_selection_set_model(self->key_tree_selection, G_LIST_MODEL(model));
  g_object_unref(model);
  if (had_focus && !focus_in_tree(self))
    gtk_widget_grab_focus(self->key_tree_view);
  if (hive != nullptr) {
    GtkTreeListRow* root_row = gtk_tree_list_model_get_row(model, 0);
    if (root_row != nullptr) {
      gtk_tree_list_row_set_expanded(root_row, TRUE);
      g_object_unref(root_row);
    }
  }
  g_signal_handlers_unblock_by_func(self->key_tree_selection, (gpointer)on_selection_changed, self);
}

GtkTreeListRow* tol_key_tree_selected_row(TolPane* self) {
  gpointer item = gtk_single_selection_get_selected_item(self->key_tree_selection);
  return GTK_IS_TREE_LIST_ROW(item) ? GTK_TREE_LIST_ROW(item) : nullptr;
}

std::uint32_t tol_pane_get_selected_key(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), TOL_NO_CELL);
  if (!self->d->hive)
    return TOL_NO_CELL;
  GtkTreeListRow* row = tol_key_tree_selected_row(self);
  TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
  if (key == nullptr || tol_key_item_get_hive(key) != self->d->hive.get())
    return TOL_NO_CELL;
  return tol_key_item_get_offset(key);
}

bool tol_pane_get_selected_key_path(TolPane* self, std::string& out) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  std::uint32_t key = tol_pane_get_selected_key(self);
  if (key == TOL_NO_CELL)
    return false;
  out = tol_hive_key_path(*self->d->hive, key);
  return true;
}

void tol_pane_select_path(TolPane* self, const char* path) {
  g_return_if_fail(TOL_IS_PANE(self));
  GtkTreeListModel* model = self->d->hive ? tree_model(self) : nullptr;
  if (model == nullptr)
    return;
  GtkTreeListRow* row = gtk_tree_list_model_get_row(model, 0);
  if (row == nullptr)
    return;
  gtk_tree_list_row_set_expanded(row, TRUE);

  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    std::size_t cut = rest.find('\\');
    std::string component(rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    bool trailing = cut != std::string_view::npos && rest.empty();

    GListModel* children = gtk_tree_list_row_get_children(row);
    guint n = children != nullptr ? g_list_model_get_n_items(children) : 0;
    guint match = n;
    for (guint i = 0; i < n && !component.empty(); ++i) {
      auto* key = TOL_KEY_ITEM(g_list_model_get_item(children, i));
      bool equal = g_ascii_strcasecmp(tol_key_item_get_name(key), component.c_str()) == 0;
      g_object_unref(key);
      if (equal) {
        match = i;
        break;
      }
    }
    if (match == n) {
      g_object_unref(row);
      return;
    }
    GtkTreeListRow* child = gtk_tree_list_row_get_child_row(row, match);
    g_object_unref(row);
    if (child == nullptr)
      return;
    gtk_tree_list_row_set_expanded(child, TRUE);
    row = child;
    if (trailing) {  // "A\" names an empty last component, which no key has
      g_object_unref(row);
      return;
    }
  }
  guint position = gtk_tree_list_row_get_position(row);
  g_object_unref(row);
  select_row(self, position);
}

bool tol_key_tree_collapse_or_parent(TolPane* self) {
  GtkTreeListRow* row = tol_key_tree_selected_row(self);
  if (row == nullptr)
    return false;
  if (gtk_tree_list_row_get_expanded(row)) {
    gtk_tree_list_row_set_expanded(row, FALSE);
  } else if (GtkTreeListRow* parent = gtk_tree_list_row_get_parent(row)) {
    select_row(self, gtk_tree_list_row_get_position(parent));
    g_object_unref(parent);
  }
  return true;
}

bool tol_key_tree_expand_or_child(TolPane* self) {
  GtkTreeListRow* row = tol_key_tree_selected_row(self);
  if (row == nullptr)
    return false;
  if (gtk_tree_list_row_is_expandable(row) && !gtk_tree_list_row_get_expanded(row)) {
    gtk_tree_list_row_set_expanded(row, TRUE);
  } else if (gtk_tree_list_row_get_expanded(row)) {
    guint next = gtk_tree_list_row_get_position(row) + 1;
    if (next < g_list_model_get_n_items(G_LIST_MODEL(self->key_tree_selection)))
      select_row(self, next);
  }
  return true;
}

bool tol_key_tree_expand_subtree(TolPane* self) {
  GtkTreeListRow* row = tol_key_tree_selected_row(self);
  if (row == nullptr)
    return false;
  GtkTreeListModel* model = tree_model(self);
  guint depth = gtk_tree_list_row_get_depth(row);
  guint position = gtk_tree_list_row_get_position(row);
  gtk_tree_list_row_set_expanded(row, TRUE);
  // Expanding a row inserts its children right after it, so one pass in
  // display order reaches every key of the subtree.
  for (guint i = position + 1;; ++i) {
    GtkTreeListRow* next = gtk_tree_list_model_get_row(model, i);
    if (next == nullptr)
      break;
    bool inside = gtk_tree_list_row_get_depth(next) > depth;
    if (inside && gtk_tree_list_row_is_expandable(next))
      gtk_tree_list_row_set_expanded(next, TRUE);
    g_object_unref(next);
    if (!inside)
      break;
  }
  return true;
}
