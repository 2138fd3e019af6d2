// The key tree: a lazily filled tree list model over a document's keys, its
// row widgets, in-place updates after changes, selecting a key by path,
// keyboard navigation, type-ahead find and the drag-and-drop wiring; while
// deleted items are shown, their rows from the tree's scan.
#include "ui/key_tree.h"

#include <glib/gi18n-lib.h>

#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ui/compat.h"
#include "ui/deleted_layout.h"
#include "ui/key_item.h"
#include "ui/key_list.h"
#include "ui/menus.h"
#include "ui/widget_util.h"

namespace {

constexpr gint64 kTypeAheadPause = G_USEC_PER_SEC;

// The lists of subkeys the model has asked for, by the key they list. Rows
// of one key may be shown once only, but a damaged hive can list a key under
// two parents, so one key may have several lists.
struct TreeState {
  std::unordered_multimap<std::uint32_t, TolKeyList*> lists;  // weak
  std::string type_ahead;
  gint64 type_ahead_time = 0;
  gint64 type_ahead_pause = kTypeAheadPause;
  std::string selected_path;  // of the selected key, kept to find it again after a change
  bool selected_path_valid = false;
  // Keys drawn with a mark (differences at or below them), and the rows bound
  // now, so a new set of marks reaches the rows on show without a rebind.
  std::unordered_set<std::uint32_t> marks;
  std::unordered_set<GtkListItem*> bound;
  // Deleted items: while shown, the scan of the shown image with where its
  // keys hang, taken again after every change; null otherwise, so that the
  // tree without them does no extra work at all.
  bool show_deleted = false;
  std::unique_ptr<TolDeletedLayout> deleted;
};

// The one drag in progress from any key tree.
struct DragRecord {
  TolDocument* document = nullptr;  // owned reference while a drag is prepared
  std::uint32_t key = TOL_NO_CELL;
};
DragRecord g_drag;

enum { kSelectionChanged, kKeyDropped, kSignals };
guint g_signals[kSignals];

}  // namespace

struct _TolKeyTree {
  GtkWidget parent_instance;
  GtkWidget* scrolled;  // the only child
  GtkWidget* view;      // inside `scrolled`
  GtkSingleSelection* selection;  // owned by the view
  GtkWidget* menu;
  TolDocument* document;  // owned
  TreeState* state;
};

G_DEFINE_FINAL_TYPE(TolKeyTree, tol_key_tree, GTK_TYPE_WIDGET)

namespace {

TolHive* shown_hive(TolKeyTree* self) {
  return self->document != nullptr ? &tol_document_get_hive(self->document) : nullptr;
}

void forget_list(gpointer tree, GObject* gone) {
  auto* self = static_cast<TolKeyTree*>(tree);
  auto& lists = self->state->lists;
  for (auto it = lists.begin(); it != lists.end(); ++it) {
    if (reinterpret_cast<GObject*>(it->second) == gone) {
      lists.erase(it);
      return;
    }
  }
}

void drop_lists(TolKeyTree* self) {
  for (auto& [key, list] : self->state->lists) g_object_weak_unref(G_OBJECT(list), forget_list, self);
  self->state->lists.clear();
}

// Rows of these deleted keys; null for none.
GListModel* deleted_rows(TolHive* hive, const TolDeletedLayout& layout, const std::vector<std::size_t>& keys) {
  if (keys.empty()) return nullptr;
  std::vector<gpointer> items;
  items.reserve(keys.size());
  for (const std::size_t i : keys) {
    const TolDeletedKey& key = layout.scan.keys[i];
    items.push_back(tol_key_item_new_deleted(hive, i, key.record, key.name.c_str()));
  }
  GListStore* store = g_list_store_new(TOL_TYPE_KEY_ITEM);
  g_list_store_splice(store, 0, 0, items.data(), static_cast<guint>(items.size()));
  for (gpointer item : items) g_object_unref(item);
  return G_LIST_MODEL(store);
}

// Children are read when the tree asks for them: on expansion, or when an
// expander needs to know whether its row can be expanded.
GListModel* create_child_model(gpointer item, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  auto* key = TOL_KEY_ITEM(item);
  TolHive* hive = tol_key_item_get_hive(key);
  // Rows of a document that is no longer shown have nothing to read from.
  if (hive == nullptr || hive != shown_hive(self)) return nullptr;
  const TolDeletedLayout* deleted = self->state->deleted.get();
  static const std::vector<std::size_t> kNone;
  switch (tol_key_item_get_kind(key)) {
    case TolKeyItemKind::deleted: {
      const std::size_t index = tol_key_item_get_deleted_index(key);
      if (deleted == nullptr || index >= deleted->children.size()) return nullptr;
      return deleted_rows(hive, *deleted, deleted->children[index]);
    }
    case TolKeyItemKind::unknown:
      return deleted != nullptr ? deleted_rows(hive, *deleted, deleted->unknown_keys) : nullptr;
    case TolKeyItemKind::live:
      break;
  }
  const std::uint32_t offset = tol_key_item_get_offset(key);
  GListModel* gone = nullptr;
  if (deleted != nullptr) {
    const auto it = deleted->below_live.find(offset);
    gone = deleted_rows(hive, *deleted, it != deleted->below_live.end() ? it->second : kNone);
  }
  TolKeyList* list = tol_key_list_new(hive, offset);
  if (g_list_model_get_n_items(G_LIST_MODEL(list)) == 0) {
    g_object_unref(list);
    return gone;
  }
  self->state->lists.emplace(offset, list);
  g_object_weak_ref(G_OBJECT(list), forget_list, self);
  if (gone == nullptr) return G_LIST_MODEL(list);
  // The live subkeys stay a list of their own, which in-place updates can
  // refresh; the deleted ones follow them.
  GListStore* parts = g_list_store_new(G_TYPE_LIST_MODEL);
  g_list_store_append(parts, list);
  g_list_store_append(parts, gone);
  g_object_unref(list);
  g_object_unref(gone);
  return G_LIST_MODEL(gtk_flatten_list_model_new(G_LIST_MODEL(parts)));
}

GtkTreeListModel* tree_model(TolKeyTree* self) {
  GListModel* model = gtk_single_selection_get_model(self->selection);
  return GTK_IS_TREE_LIST_MODEL(model) ? GTK_TREE_LIST_MODEL(model) : nullptr;
}

GListStore* roots(TolKeyTree* self) {
  GtkTreeListModel* model = tree_model(self);
  return model != nullptr ? G_LIST_STORE(gtk_tree_list_model_get_model(model)) : nullptr;
}

TolKeyItem* row_key(GtkTreeListRow* row) {
  g_autoptr(GObject) item = static_cast<GObject*>(gtk_tree_list_row_get_item(row));
  // The row keeps its item alive.
  return TOL_IS_KEY_ITEM(item) ? TOL_KEY_ITEM(item) : nullptr;
}

GtkTreeListRow* selected_row(TolKeyTree* self) {
  gpointer item = gtk_single_selection_get_selected_item(self->selection);
  return GTK_IS_TREE_LIST_ROW(item) ? GTK_TREE_LIST_ROW(item) : nullptr;
}

bool focus_in_tree(TolKeyTree* self) { return tol_focus_inside(self->view); }

void remember_selection(TolKeyTree* self) {
  const std::uint32_t key = tol_key_tree_get_selected_key(self);
  self->state->selected_path_valid = key != TOL_NO_CELL;
  self->state->selected_path =
      key != TOL_NO_CELL ? tol_hive_key_path(*shown_hive(self), key) : std::string();
}

void on_selection_changed(GtkSingleSelection*, GParamSpec*, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  remember_selection(self);
  g_signal_emit(self, g_signals[kSelectionChanged], 0);
}

// The row widget showing `position`, or null while it is not laid out.
GtkWidget* row_widget(TolKeyTree* self, guint position) {
  GtkWidget* found = nullptr;
  std::vector<GtkWidget*> pending = {self->view};
  while (!pending.empty() && found == nullptr) {
    GtkWidget* widget = pending.back();
    pending.pop_back();
    if (GTK_IS_TREE_EXPANDER(widget)) {
      GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(widget));
      if (row != nullptr && gtk_tree_list_row_get_position(row) == position) found = widget;
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

// The view scrolls to a row that takes the focus, placing it from estimated
// heights while the row is not laid out yet; far down a long list that can
// leave it just out of sight. Scrolling once more, after the focus moved, puts
// it where the selection asked.
void focus_row(TolKeyTree* self, GtkWidget* row, guint position) {
  gtk_widget_grab_focus(row);
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(self->view), position, false);
}

gboolean focus_selected_row(GtkWidget*, GdkFrameClock*, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  const guint position = gtk_single_selection_get_selected(self->selection);
  if (position != GTK_INVALID_LIST_POSITION && focus_in_tree(self)) {
    if (GtkWidget* row = row_widget(self, position)) focus_row(self, row, position);
  }
  return G_SOURCE_REMOVE;
}

// Selects a row and brings it into view. While the tree has the keyboard
// focus, the focus moves to the row too, so that the view's own arrow keys go
// on from there rather than from the row focused before.
void select_row(TolKeyTree* self, guint position) {
  gtk_single_selection_set_selected(self->selection, position);
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(self->view), position, true);
  if (!focus_in_tree(self)) return;
  if (GtkWidget* row = row_widget(self, position))
    focus_row(self, row, position);
  else  // the row is laid out with the next frame
    gtk_widget_add_tick_callback(self->view, focus_selected_row, self, nullptr);
}

// The row of the key at `path`, expanding the rows on the way; with `nearest`
// the deepest row found when a component is missing. Null when nothing fits.
GtkTreeListRow* row_at_path(TolKeyTree* self, const char* path, bool nearest) {
  GtkTreeListModel* model = tree_model(self);
  if (model == nullptr) return nullptr;
  g_autoptr(GtkTreeListRow) row = gtk_tree_list_model_get_row(model, 0);
  if (row == nullptr) return nullptr;
  gtk_tree_list_row_set_expanded(row, TRUE);

  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    const std::size_t cut = rest.find('\\');
    const std::string component(rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    const bool trailing = cut != std::string_view::npos && rest.empty();

    GListModel* children = gtk_tree_list_row_get_children(row);  // the row keeps it
    const guint n = children != nullptr ? g_list_model_get_n_items(children) : 0;
    guint match = n;
    for (guint i = 0; i < n && !component.empty(); ++i) {
      g_autoptr(TolKeyItem) key = TOL_KEY_ITEM(g_list_model_get_item(children, i));
      // A path names live keys only, never a deleted namesake.
      if (tol_key_item_get_kind(key) == TolKeyItemKind::live &&
          g_ascii_strcasecmp(tol_key_item_get_name(key), component.c_str()) == 0) {
        match = i;
        break;
      }
    }
    g_autoptr(GtkTreeListRow) child = match < n ? gtk_tree_list_row_get_child_row(row, match) : nullptr;
    // "A\" names an empty last component, which no key has.
    if (child == nullptr || trailing) return nearest ? static_cast<GtkTreeListRow*>(g_steal_pointer(&row)) : nullptr;
    gtk_tree_list_row_set_expanded(child, TRUE);
    g_set_object(&row, child);
  }
  return static_cast<GtkTreeListRow*>(g_steal_pointer(&row));
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

void show_mark(TolKeyTree* self, GtkListItem* item) {
  GtkWidget* expander = gtk_list_item_get_child(item);
  auto* row = GTK_TREE_LIST_ROW(gtk_list_item_get_item(item));
  TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
  const bool marked = key != nullptr && self->state->marks.contains(tol_key_item_get_offset(key));
  GtkWidget* box = gtk_tree_expander_get_child(GTK_TREE_EXPANDER(expander));
  if (marked)
    gtk_widget_add_css_class(box, "tol-diff-below");
  else
    gtk_widget_remove_css_class(box, "tol-diff-below");
}

void row_bind(GtkSignalListItemFactory*, GtkListItem* item, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  GtkWidget* expander = gtk_list_item_get_child(item);
  auto* row = GTK_TREE_LIST_ROW(gtk_list_item_get_item(item));
  gtk_tree_expander_set_list_row(GTK_TREE_EXPANDER(expander), row);
  GtkWidget* box = gtk_tree_expander_get_child(GTK_TREE_EXPANDER(expander));
  GtkWidget* label = gtk_widget_get_last_child(box);
  GtkWidget* icon = gtk_widget_get_first_child(box);
  TolKeyItem* key = row_key(row);
  gtk_label_set_text(GTK_LABEL(label), key != nullptr ? tol_key_item_get_name(key) : "");
  const TolKeyItemKind kind = key != nullptr ? tol_key_item_get_kind(key) : TolKeyItemKind::live;
  // Rows are reused for any kind of item.
  if (kind == TolKeyItemKind::live) {
    gtk_image_set_from_icon_name(GTK_IMAGE(icon), "folder-symbolic");
    gtk_widget_add_css_class(icon, "tol-icon-folder");
    gtk_widget_remove_css_class(box, "tol-deleted");
  } else {
    gtk_image_set_from_icon_name(GTK_IMAGE(icon), kind == TolKeyItemKind::deleted ? "user-trash-symbolic"
                                                                                   : "dialog-question-symbolic");
    gtk_widget_remove_css_class(icon, "tol-icon-folder");
    gtk_widget_add_css_class(box, "tol-deleted");
  }
  self->state->bound.insert(item);
  show_mark(self, item);
}

void row_unbind(GtkSignalListItemFactory*, GtkListItem* item, gpointer tree) {
  TOL_KEY_TREE(tree)->state->bound.erase(item);
  gtk_tree_expander_set_list_row(GTK_TREE_EXPANDER(gtk_list_item_get_child(item)), nullptr);
}

// ---- Type-ahead ----------------------------------------------------------------------

// Looks at the rows after the selected one, wrapping around; the selected row
// itself comes last, so a repeated prefix moves on to the next match.
bool type_ahead_search(TolKeyTree* self, const std::string& prefix) {
  GListModel* rows = G_LIST_MODEL(self->selection);
  const guint n = g_list_model_get_n_items(rows);
  if (n == 0) return false;
  const guint selected = gtk_single_selection_get_selected(self->selection);
  const guint start = selected < n ? selected : n - 1;  // no selection: row 0 first
  g_autofree char* folded_prefix = g_utf8_casefold(prefix.c_str(), -1);
  for (guint i = 1; i <= n; ++i) {
    const guint position = (start + i) % n;
    g_autoptr(GtkTreeListRow) row = GTK_TREE_LIST_ROW(g_list_model_get_item(rows, position));
    TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
    if (key != nullptr && g_str_has_prefix(tol_key_item_get_folded_name(key), folded_prefix)) {
      select_row(self, position);
      return true;
    }
  }
  return false;
}

gboolean on_type_ahead(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  if ((state & (GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK)) != 0) return FALSE;
  if (keyval == GDK_KEY_KP_Multiply || keyval == GDK_KEY_KP_Add || keyval == GDK_KEY_KP_Subtract)
    return FALSE;
  const gunichar ch = gdk_keyval_to_unicode(keyval);
  if (ch == 0 || !g_unichar_isprint(ch) || g_unichar_isspace(ch)) return FALSE;
  char utf8[8] = {};
  g_unichar_to_utf8(ch, utf8);

  TreeState& s = *self->state;
  const gint64 now = g_get_monotonic_time();
  if (now - s.type_ahead_time > s.type_ahead_pause) {
    s.type_ahead = utf8;
  } else {
    // The same letter again keeps the one-letter prefix, so that the search
    // moves on to the next key starting with it.
    const bool same_letter =
        g_utf8_strlen(s.type_ahead.c_str(), -1) == 1 && g_utf8_collate(s.type_ahead.c_str(), utf8) == 0;
    if (!same_letter) s.type_ahead += utf8;
  }
  s.type_ahead_time = now;

  if (!type_ahead_search(self, s.type_ahead) && g_utf8_strlen(s.type_ahead.c_str(), -1) > 1) {
    s.type_ahead = utf8;
    type_ahead_search(self, s.type_ahead);
  }
  return TRUE;
}

// ---- Drag and drop -------------------------------------------------------------------

void clear_drag() {
  g_clear_object(&g_drag.document);
  g_drag.key = TOL_NO_CELL;
}

GdkContentProvider* on_drag_prepare(GtkDragSource*, double, double, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  const std::uint32_t key = tol_key_tree_get_selected_key(self);
  if (key == TOL_NO_CELL) return nullptr;
  tol_key_tree_set_dragged_key(self->document, key);
  const std::string path = tol_hive_key_path(*shown_hive(self), key);
  return gdk_content_provider_new_typed(G_TYPE_STRING, path.c_str());
}

void on_drag_end(GtkDragSource*, GdkDrag*, gboolean, gpointer) { clear_drag(); }

// The dropped string (a path) is not used: the source is the drag record's
// key, the destination the key selected here.
gboolean on_drop(GtkDropTarget*, const GValue*, double, double, gpointer tree) {
  gboolean copied = FALSE;
  g_signal_emit(tree, g_signals[kKeyDropped], 0, &copied);
  return copied;
}

// ---- Context menu ---------------------------------------------------------------------

void on_secondary_press(GtkGestureClick* gesture, int, double x, double y, gpointer tree) {
  auto* self = TOL_KEY_TREE(tree);
  if (self->document == nullptr) return;  // nothing to act on: leave the press to others
  tol_popup_menu_at(self->view, self->menu, gesture, x, y);
}

// ---- In-place updates -----------------------------------------------------------------

// Brings the lists of `parent` up to date, and with `deep` every list below
// it that is still shown.
void refresh_lists(TolKeyTree* self, std::uint32_t parent, bool deep) {
  std::vector<std::uint32_t> pending = {parent};
  std::unordered_map<std::uint32_t, bool> seen;  // a damaged hive may loop
  while (!pending.empty()) {
    const std::uint32_t key = pending.back();
    pending.pop_back();
    if (!seen.emplace(key, true).second) continue;
    std::vector<TolKeyList*> lists;
    auto [begin, end] = self->state->lists.equal_range(key);
    for (auto it = begin; it != end; ++it) lists.push_back(it->second);
    for (TolKeyList* list : lists) {
      g_autoptr(TolKeyList) hold = TOL_KEY_LIST(g_object_ref(list));
      std::vector<std::uint32_t> kept = tol_key_list_refresh(list);
      if (deep) pending.insert(pending.end(), kept.begin(), kept.end());
    }
  }
}

void reset_model(TolKeyTree* self);

// Whether the root row still shows the hive's root key, under its name.
bool root_current(TolKeyTree* self) {
  GListStore* store = roots(self);
  if (store == nullptr || g_list_model_get_n_items(G_LIST_MODEL(store)) != 1) return false;
  g_autoptr(TolKeyItem) root = TOL_KEY_ITEM(g_list_model_get_item(G_LIST_MODEL(store), 0));
  return tol_key_item_get_offset(root) == shown_hive(self)->root_cell && tol_key_item_is_current(root);
}

}  // namespace

// ---- Type ---------------------------------------------------------------------------------

static void tol_key_tree_dispose(GObject* object) {
  TolKeyTree* self = TOL_KEY_TREE(object);
  if (self->state != nullptr) drop_lists(self);
  if (self->menu != nullptr) {
    gtk_widget_unparent(self->menu);
    self->menu = nullptr;
  }
  g_clear_pointer(&self->scrolled, gtk_widget_unparent);
  self->view = nullptr;
  self->selection = nullptr;
  if (g_drag.document != nullptr && g_drag.document == self->document) clear_drag();
  g_clear_object(&self->document);
  G_OBJECT_CLASS(tol_key_tree_parent_class)->dispose(object);
}

static void tol_key_tree_finalize(GObject* object) {
  delete TOL_KEY_TREE(object)->state;
  G_OBJECT_CLASS(tol_key_tree_parent_class)->finalize(object);
}

static void tol_key_tree_class_init(TolKeyTreeClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  object_class->dispose = tol_key_tree_dispose;
  object_class->finalize = tol_key_tree_finalize;
  gtk_widget_class_set_layout_manager_type(widget_class, GTK_TYPE_BIN_LAYOUT);
  g_signals[kSelectionChanged] = g_signal_new("selection-changed", G_TYPE_FROM_CLASS(klass),
                                              G_SIGNAL_RUN_LAST, 0, nullptr, nullptr, nullptr,
                                              G_TYPE_NONE, 0);
  g_signals[kKeyDropped] = g_signal_new("key-dropped", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0,
                                        g_signal_accumulator_true_handled, nullptr, nullptr,
                                        G_TYPE_BOOLEAN, 0);
  gtk_widget_class_install_action(widget_class, "tree.collapse", nullptr,
                                  [](GtkWidget* w, const char*, GVariant*) {
                                    tol_key_tree_collapse_or_parent(TOL_KEY_TREE(w));
                                  });
  gtk_widget_class_install_action(widget_class, "tree.expand", nullptr,
                                  [](GtkWidget* w, const char*, GVariant*) {
                                    tol_key_tree_expand_or_child(TOL_KEY_TREE(w));
                                  });
  gtk_widget_class_install_action(widget_class, "tree.expand-all", nullptr,
                                  [](GtkWidget* w, const char*, GVariant*) {
                                    tol_key_tree_expand_subtree(TOL_KEY_TREE(w));
                                  });
}

static void tol_key_tree_init(TolKeyTree* self) {
  self->state = new TreeState();

  GListStore* empty = g_list_store_new(TOL_TYPE_KEY_ITEM);
  GtkTreeListModel* model =
      gtk_tree_list_model_new(G_LIST_MODEL(empty), FALSE, FALSE, create_child_model, self, nullptr);
  self->selection = gtk_single_selection_new(G_LIST_MODEL(model));
  g_signal_connect(self->selection, "notify::selected-item", G_CALLBACK(on_selection_changed), self);

  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(row_setup), nullptr);
  g_signal_connect(factory, "bind", G_CALLBACK(row_bind), self);
  g_signal_connect(factory, "unbind", G_CALLBACK(row_unbind), self);
  GtkColumnViewColumn* column = gtk_column_view_column_new(_("Key"), factory);
  gtk_column_view_column_set_expand(column, TRUE);
  gtk_column_view_column_set_resizable(column, TRUE);

  self->view = gtk_column_view_new(GTK_SELECTION_MODEL(self->selection));
  gtk_column_view_append_column(GTK_COLUMN_VIEW(self->view), column);
  g_object_unref(column);

  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(on_type_ahead), self);
  gtk_widget_add_controller(self->view, keys);

  GtkDragSource* drag = gtk_drag_source_new();
  gtk_drag_source_set_actions(drag, GDK_ACTION_COPY);
  g_signal_connect(drag, "prepare", G_CALLBACK(on_drag_prepare), self);
  g_signal_connect(drag, "drag-end", G_CALLBACK(on_drag_end), self);
  gtk_widget_add_controller(self->view, GTK_EVENT_CONTROLLER(drag));

  GtkDropTarget* drop = gtk_drop_target_new(G_TYPE_STRING, GDK_ACTION_COPY);
  g_signal_connect(drop, "drop", G_CALLBACK(on_drop), self);
  gtk_widget_add_controller(self->view, GTK_EVENT_CONTROLLER(drop));

  g_autoptr(GMenuModel) menu = tol_menu_key_tree();
  self->menu = gtk_popover_menu_new_from_model(menu);
  gtk_widget_set_parent(self->menu, self->view);
  gtk_popover_set_has_arrow(GTK_POPOVER(self->menu), FALSE);
  gtk_widget_set_halign(self->menu, GTK_ALIGN_START);
  GtkGesture* click = gtk_gesture_click_new();
  gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), GDK_BUTTON_SECONDARY);
  g_signal_connect(click, "pressed", G_CALLBACK(on_secondary_press), self);
  gtk_widget_add_controller(self->view, GTK_EVENT_CONTROLLER(click));

  self->scrolled = gtk_scrolled_window_new();
  gtk_widget_set_hexpand(self->scrolled, TRUE);
  gtk_widget_set_vexpand(self->scrolled, TRUE);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(self->scrolled), self->view);
  gtk_widget_set_parent(self->scrolled, GTK_WIDGET(self));
}

TolKeyTree* tol_key_tree_new() { return TOL_KEY_TREE(g_object_new(TOL_TYPE_KEY_TREE, nullptr)); }

namespace {

void reset_model(TolKeyTree* self) {
  drop_lists(self);
  self->state->marks.clear();
  GListStore* store = g_list_store_new(TOL_TYPE_KEY_ITEM);
  if (TolHive* hive = shown_hive(self)) {
    const std::string name = tol_hive_key_name(*hive, hive->root_cell);
    g_autoptr(TolKeyItem) root = tol_key_item_new(hive, hive->root_cell, name.c_str());
    g_list_store_append(store, root);
    const TolDeletedLayout* deleted = self->state->deleted.get();
    if (deleted != nullptr && (!deleted->unknown_keys.empty() || !deleted->unknown_values.empty())) {
      g_autoptr(TolKeyItem) unknown = tol_key_item_new_unknown(hive, _("Deleted, location unknown"));
      g_list_store_append(store, unknown);
    }
  }
  // Takes over the store.
  g_autoptr(GtkTreeListModel) model =
      gtk_tree_list_model_new(G_LIST_MODEL(store), FALSE, FALSE, create_child_model, self, nullptr);
  // The focused row goes with the old rows; the keyboard stays in the tree.
  const bool had_focus = focus_in_tree(self);
  g_signal_handlers_block_by_func(self->selection, (gpointer)on_selection_changed, self);
  gtk_single_selection_set_model(self->selection, G_LIST_MODEL(model));
  if (g_autoptr(GtkTreeListRow) root = gtk_tree_list_model_get_row(model, 0))
    gtk_tree_list_row_set_expanded(root, TRUE);
  gtk_single_selection_set_selected(self->selection, shown_hive(self) != nullptr ? 0 : GTK_INVALID_LIST_POSITION);
  g_signal_handlers_unblock_by_func(self->selection, (gpointer)on_selection_changed, self);
  if (had_focus && !focus_in_tree(self)) gtk_widget_grab_focus(self->view);
  remember_selection(self);
}

// What a row shows, to find the same row again among the rows of a new
// model: the item's kind and name (and record, for a deleted key), the row
// above it and where it was among its siblings.
struct RowPlace {
  TolKeyItemKind kind = TolKeyItemKind::live;
  std::string name;
  std::uint32_t record = TOL_NO_CELL;
  std::size_t parent = SIZE_MAX;  // index of the row above among the places kept
  guint index = 0;                // among the children of that row
};

bool same_item(GListModel* items, guint position, const RowPlace& place) {
  g_autoptr(GObject) item = static_cast<GObject*>(g_list_model_get_item(items, position));
  if (!TOL_IS_KEY_ITEM(item)) return false;
  auto* key = TOL_KEY_ITEM(item);
  return tol_key_item_get_kind(key) == place.kind && place.name == tol_key_item_get_name(key) &&
         (place.kind != TolKeyItemKind::deleted || tol_key_item_get_record(key) == place.record);
}

// The position of the place's item in `items`: where it was when that still
// fits, else the first item of that kind and name (for a deleted key, the
// same record first).
std::optional<guint> find_place(GListModel* items, const RowPlace& place) {
  if (place.index < g_list_model_get_n_items(items) && same_item(items, place.index, place)) return place.index;
  std::optional<guint> namesake;
  for (guint i = 0, n = g_list_model_get_n_items(items); i < n; ++i) {
    g_autoptr(GObject) item = static_cast<GObject*>(g_list_model_get_item(items, i));
    if (!TOL_IS_KEY_ITEM(item)) continue;
    auto* key = TOL_KEY_ITEM(item);
    if (tol_key_item_get_kind(key) != place.kind || place.name != tol_key_item_get_name(key)) continue;
    if (place.kind != TolKeyItemKind::deleted || tol_key_item_get_record(key) == place.record) return i;
    if (!namesake) namesake = i;
  }
  return namesake;
}

// The expanded rows in display order (each one's parent before it) and the
// selected row, read in one pass over the shown rows.
struct TreePlaces {
  std::vector<RowPlace> expanded;
  std::optional<RowPlace> selected;
};

TreePlaces read_places(TolKeyTree* self) {
  TreePlaces places;
  GtkTreeListModel* model = tree_model(self);
  if (model == nullptr) return places;
  const guint selected = gtk_single_selection_get_selected(self->selection);
  std::vector<guint> siblings;          // rows seen so far per depth, below the last row above
  std::vector<std::size_t> expanded_at;  // per depth, the last row's index in `expanded`
  for (guint i = 0, n = g_list_model_get_n_items(G_LIST_MODEL(model)); i < n; ++i) {
    g_autoptr(GtkTreeListRow) row = gtk_tree_list_model_get_row(model, i);
    TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
    if (key == nullptr) continue;
    const guint depth = gtk_tree_list_row_get_depth(row);
    siblings.resize(depth + 1, 0);
    expanded_at.resize(depth + 1, SIZE_MAX);
    RowPlace place{tol_key_item_get_kind(key), tol_key_item_get_name(key), tol_key_item_get_record(key),
                   depth > 0 ? expanded_at[depth - 1] : SIZE_MAX, siblings[depth]++};
    expanded_at[depth] = SIZE_MAX;
    if (i == selected) places.selected = place;
    if (gtk_tree_list_row_get_expanded(row)) {
      expanded_at[depth] = places.expanded.size();
      places.expanded.push_back(std::move(place));
    }
  }
  return places;
}

// The row of `place` in the new model below `parent` (null: at the top).
GtkTreeListRow* row_of_place(TolKeyTree* self, GtkTreeListRow* parent, const RowPlace& place) {
  GtkTreeListModel* model = tree_model(self);
  GListModel* items = parent == nullptr ? gtk_tree_list_model_get_model(model) : gtk_tree_list_row_get_children(parent);
  const std::optional<guint> at = items != nullptr ? find_place(items, place) : std::nullopt;
  if (!at) return nullptr;
  return parent == nullptr ? gtk_tree_list_model_get_child_row(model, *at) : gtk_tree_list_row_get_child_row(parent, *at);
}

// Expands the rows found again and selects the selected one, or the nearest
// row above it that is still there.
void restore_places(TolKeyTree* self, const TreePlaces& places) {
  std::vector<GtkTreeListRow*> rows(places.expanded.size(), nullptr);  // owned
  const auto parent_row = [&](const RowPlace& place, bool& lost) -> GtkTreeListRow* {
    lost = place.parent != SIZE_MAX && (place.parent >= rows.size() || rows[place.parent] == nullptr);
    return place.parent != SIZE_MAX && !lost ? rows[place.parent] : nullptr;
  };
  for (std::size_t i = 0; i < places.expanded.size(); ++i) {
    bool lost = false;
    GtkTreeListRow* parent = parent_row(places.expanded[i], lost);
    if (lost) continue;
    rows[i] = row_of_place(self, parent, places.expanded[i]);
    if (rows[i] != nullptr) gtk_tree_list_row_set_expanded(rows[i], TRUE);
  }
  if (places.selected) {
    bool lost = false;
    GtkTreeListRow* parent = parent_row(*places.selected, lost);
    GtkTreeListRow* row = lost ? nullptr : row_of_place(self, parent, *places.selected);
    // Where the row went, the nearest row above it that is still there.
    for (std::size_t up = places.selected->parent; row == nullptr && up != SIZE_MAX && up < rows.size();
         up = places.expanded[up].parent)
      if (rows[up] != nullptr) row = GTK_TREE_LIST_ROW(g_object_ref(rows[up]));
    if (row != nullptr) {
      select_row(self, gtk_tree_list_row_get_position(row));
      g_object_unref(row);
    }
  }
  for (GtkTreeListRow* row : rows)
    if (row != nullptr) g_object_unref(row);
}

// Scans the shown image again when deleted items are shown.
void rescan(TolKeyTree* self) {
  TolHive* hive = shown_hive(self);
  if (self->state->show_deleted && hive != nullptr)
    self->state->deleted = std::make_unique<TolDeletedLayout>(tol_deleted_layout_new(tol_deleted_scan(*hive)));
  else
    self->state->deleted.reset();
}

// A new scan and new rows, the expanded rows and the selected one found
// again where they still are (the selection's nearest remaining ancestor
// otherwise). Deleted rows hold indices into the scan, so rows of an old
// scan cannot be kept.
void rebuild(TolKeyTree* self) {
  const TreePlaces places = read_places(self);
  rescan(self);
  std::unordered_set<std::uint32_t> marks = std::move(self->state->marks);
  g_signal_handlers_block_by_func(self->selection, (gpointer)on_selection_changed, self);
  reset_model(self);
  self->state->marks = std::move(marks);
  restore_places(self, places);
  g_signal_handlers_unblock_by_func(self->selection, (gpointer)on_selection_changed, self);
  remember_selection(self);
  g_signal_emit(self, g_signals[kSelectionChanged], 0);
}

TolKeyItem* selected_item(TolKeyTree* self) {
  GtkTreeListRow* row = shown_hive(self) != nullptr ? selected_row(self) : nullptr;
  return row != nullptr ? row_key(row) : nullptr;
}

}  // namespace

void tol_key_tree_set_document(TolKeyTree* self, TolDocument* document) {
  g_return_if_fail(TOL_IS_KEY_TREE(self));
  if (document == self->document) return;
  if (g_drag.document != nullptr && g_drag.document == self->document) clear_drag();
  // The rows of the old document go before its reference does.
  g_autoptr(TolDocument) old = self->document;
  self->document = document != nullptr ? TOL_DOCUMENT(g_object_ref(document)) : nullptr;
  rescan(self);
  reset_model(self);
  g_signal_emit(self, g_signals[kSelectionChanged], 0);
}

TolDocument* tol_key_tree_get_document(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), nullptr);
  return self->document;
}

void tol_key_tree_apply_change(TolKeyTree* self, const TolChange& change) {
  g_return_if_fail(TOL_IS_KEY_TREE(self));
  TolHive* hive = shown_hive(self);
  if (hive == nullptr) return;
  // Any change may free cells or reuse them, values' changes too.
  if (self->state->show_deleted) {
    rebuild(self);
    return;
  }
  if (change.kind == TolChangeKind::values) return;
  const std::uint32_t before = tol_key_tree_get_selected_key(self);
  const std::string before_path = self->state->selected_path;
  const bool had_selection = self->state->selected_path_valid;
  const bool had_focus = focus_in_tree(self);

  g_signal_handlers_block_by_func(self->selection, (gpointer)on_selection_changed, self);
  if (!root_current(self)) {
    reset_model(self);
  } else {
    switch (change.kind) {
      case TolChangeKind::subkeys: {
        refresh_lists(self, change.key, false);
        // The parent's own row may have gained its first subkey or lost its last.
        const std::optional<std::uint32_t> up = tol_hive_key_parent(*hive, change.key);
        if (up) refresh_lists(self, *up, false);
        break;
      }
      case TolChangeKind::subtree: {
        refresh_lists(self, change.key, true);
        const std::optional<std::uint32_t> up = tol_hive_key_parent(*hive, change.key);
        if (up) refresh_lists(self, *up, false);
        break;
      }
      default:
        refresh_lists(self, hive->root_cell, true);
        break;
    }
  }
  // The selected key, or what is left of its path when it went.
  const std::uint32_t now = tol_key_tree_get_selected_key(self);
  std::string now_path;
  if (now != TOL_NO_CELL) now_path = tol_hive_key_path(*hive, now);
  if (had_selection && (now == TOL_NO_CELL || now_path != before_path)) {
    if (g_autoptr(GtkTreeListRow) row = row_at_path(self, before_path.c_str(), true))
      select_row(self, gtk_tree_list_row_get_position(row));
  }
  g_signal_handlers_unblock_by_func(self->selection, (gpointer)on_selection_changed, self);
  if (had_focus && !focus_in_tree(self)) {
    const guint position = gtk_single_selection_get_selected(self->selection);
    if (GtkWidget* row = position != GTK_INVALID_LIST_POSITION ? row_widget(self, position) : nullptr)
      gtk_widget_grab_focus(row);
    else
      gtk_widget_grab_focus(self->view);
  }
  const std::uint32_t after = tol_key_tree_get_selected_key(self);
  remember_selection(self);
  if (after != before || change.kind == TolChangeKind::image) g_signal_emit(self, g_signals[kSelectionChanged], 0);
}

std::uint32_t tol_key_tree_get_selected_key(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), TOL_NO_CELL);
  TolHive* hive = shown_hive(self);
  GtkTreeListRow* row = hive != nullptr ? selected_row(self) : nullptr;
  TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
  if (key == nullptr || tol_key_item_get_hive(key) != hive || tol_key_item_get_kind(key) != TolKeyItemKind::live)
    return TOL_NO_CELL;
  return tol_key_item_get_offset(key);
}

bool tol_key_tree_get_selected_path(TolKeyTree* self, std::string& out) {
  const std::uint32_t key = tol_key_tree_get_selected_key(self);
  if (key == TOL_NO_CELL) return false;
  out = tol_hive_key_path(*shown_hive(self), key);
  return true;
}

std::string tol_key_tree_get_selected_name(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), std::string());
  GtkTreeListRow* row = selected_row(self);
  TolKeyItem* key = row != nullptr ? row_key(row) : nullptr;
  return key != nullptr ? tol_key_item_get_name(key) : "";
}

bool tol_key_tree_select_path(TolKeyTree* self, const char* path) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), false);
  if (shown_hive(self) == nullptr) return false;
  g_autoptr(GtkTreeListRow) row = row_at_path(self, path, false);
  if (row == nullptr) return false;
  select_row(self, gtk_tree_list_row_get_position(row));
  return true;
}

bool tol_key_tree_collapse_or_parent(TolKeyTree* self) {
  GtkTreeListRow* row = selected_row(self);
  if (row == nullptr) return false;
  if (gtk_tree_list_row_get_expanded(row)) {
    gtk_tree_list_row_set_expanded(row, FALSE);
  } else if (g_autoptr(GtkTreeListRow) parent = gtk_tree_list_row_get_parent(row)) {
    select_row(self, gtk_tree_list_row_get_position(parent));
  }
  return true;
}

bool tol_key_tree_expand_or_child(TolKeyTree* self) {
  GtkTreeListRow* row = selected_row(self);
  if (row == nullptr) return false;
  if (gtk_tree_list_row_is_expandable(row) && !gtk_tree_list_row_get_expanded(row)) {
    gtk_tree_list_row_set_expanded(row, TRUE);
  } else if (gtk_tree_list_row_get_expanded(row)) {
    const guint next = gtk_tree_list_row_get_position(row) + 1;
    if (next < g_list_model_get_n_items(G_LIST_MODEL(self->selection))) select_row(self, next);
  }
  return true;
}

bool tol_key_tree_expand_subtree(TolKeyTree* self) {
  GtkTreeListRow* row = selected_row(self);
  if (row == nullptr) return false;
  GtkTreeListModel* model = tree_model(self);
  const guint depth = gtk_tree_list_row_get_depth(row);
  const guint position = gtk_tree_list_row_get_position(row);
  gtk_tree_list_row_set_expanded(row, TRUE);
  // Expanding a row inserts its children right after it, so one pass in
  // display order reaches every key of the subtree.
  for (guint i = position + 1;; ++i) {
    g_autoptr(GtkTreeListRow) next = gtk_tree_list_model_get_row(model, i);
    if (next == nullptr) break;
    const bool inside = gtk_tree_list_row_get_depth(next) > depth;
    if (!inside) break;
    if (gtk_tree_list_row_is_expandable(next)) gtk_tree_list_row_set_expanded(next, TRUE);
  }
  return true;
}

const std::string& tol_key_tree_get_type_ahead(TolKeyTree* self) { return self->state->type_ahead; }

void tol_key_tree_set_type_ahead(TolKeyTree* self, const std::string& prefix) {
  g_return_if_fail(TOL_IS_KEY_TREE(self));
  self->state->type_ahead = prefix;
  self->state->type_ahead_time = g_get_monotonic_time();
}

void tol_key_tree_set_type_ahead_pause(TolKeyTree* self, gint64 microseconds) {
  g_return_if_fail(TOL_IS_KEY_TREE(self));
  self->state->type_ahead_pause = microseconds;
}

GtkWidget* tol_key_tree_get_view(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), nullptr);
  return self->view;
}

GtkSingleSelection* tol_key_tree_get_selection(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), nullptr);
  return self->selection;
}

GtkWidget* tol_key_tree_get_menu(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), nullptr);
  return self->menu;
}

TolDocument* tol_key_tree_dragged_key(std::uint32_t* key) {
  if (g_drag.document == nullptr) return nullptr;
  if (key != nullptr) *key = g_drag.key;
  return TOL_DOCUMENT(g_object_ref(g_drag.document));
}

void tol_key_tree_set_dragged_key(TolDocument* document, std::uint32_t key) {
  clear_drag();
  if (document == nullptr) return;
  g_drag.document = TOL_DOCUMENT(g_object_ref(document));
  g_drag.key = key;
}

void tol_key_tree_set_marks(TolKeyTree* self, TolDocument* document, std::unordered_set<std::uint32_t> keys) {
  g_return_if_fail(TOL_IS_KEY_TREE(self));
  if (document != self->document) keys.clear();
  self->state->marks = std::move(keys);
  for (GtkListItem* item : self->state->bound) show_mark(self, item);
}

bool tol_key_tree_is_marked(TolKeyTree* self, std::uint32_t key) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), false);
  return self->state->marks.contains(key);
}

void tol_key_tree_set_show_deleted(TolKeyTree* self, bool show) {
  g_return_if_fail(TOL_IS_KEY_TREE(self));
  if (self->state->show_deleted == show) return;
  self->state->show_deleted = show;
  rebuild(self);
}

bool tol_key_tree_get_show_deleted(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), false);
  return self->state->show_deleted;
}

const TolDeletedScan* tol_key_tree_get_deleted_scan(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), nullptr);
  return self->state->deleted != nullptr ? &self->state->deleted->scan : nullptr;
}

std::optional<std::size_t> tol_key_tree_get_selected_deleted_key(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), std::nullopt);
  TolKeyItem* key = selected_item(self);
  const TolDeletedLayout* deleted = self->state->deleted.get();
  if (key == nullptr || deleted == nullptr || tol_key_item_get_kind(key) != TolKeyItemKind::deleted)
    return std::nullopt;
  const std::size_t index = tol_key_item_get_deleted_index(key);
  if (index >= deleted->scan.keys.size()) return std::nullopt;
  return index;
}

bool tol_key_tree_deleted_selected(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), false);
  TolKeyItem* key = selected_item(self);
  return key != nullptr && tol_key_item_get_kind(key) != TolKeyItemKind::live;
}

std::vector<std::size_t> tol_key_tree_get_selected_deleted_values(TolKeyTree* self) {
  g_return_val_if_fail(TOL_IS_KEY_TREE(self), std::vector<std::size_t>());
  const TolDeletedLayout* deleted = self->state->deleted.get();
  TolKeyItem* key = selected_item(self);
  if (deleted == nullptr || key == nullptr) return {};
  switch (tol_key_item_get_kind(key)) {
    case TolKeyItemKind::live:
      return tol_deleted_values_of(deleted->scan, tol_key_item_get_offset(key));
    case TolKeyItemKind::deleted:
      if (const auto index = tol_key_tree_get_selected_deleted_key(self)) return deleted->scan.keys[*index].values;
      return {};
    case TolKeyItemKind::unknown:
      break;
  }
  return deleted->unknown_values;
}
