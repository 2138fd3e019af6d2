// A pane's tabs: the tab records and the tab bar, opening, switching, closing,
// loading a tab's hive into the tree and the status page that stands in for
// the tree while no hive is shown.
#include <glib/gi18n-lib.h>

#include "hive/logs.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/key_tree.h"
#include "ui/pane_private.h"

namespace {

const char* const kIndexKey = "tol-tab-index";

bool valid_index(TolPane* self, int index) {
  return index >= 0 && index < static_cast<int>(self->d->tabs.size());
}

TolTab* tab_at(TolPane* self, int index) {
  return valid_index(self, index) ? self->d->tabs[static_cast<std::size_t>(index)].get() : nullptr;
}

void refresh_other(TolPane* self) {
  if (self->other != nullptr)
    tol_pane_refresh_values(self->other);
}

void show_no_hive_label(TolPane* self) {
  gtk_label_set_text(GTK_LABEL(self->path_label), _("(no hive loaded)"));
  gtk_widget_set_tooltip_text(self->path_label, nullptr);
}

// Closes the hive and empties the views that showed it.
void drop_hive(TolPane* self) {
  tol_key_tree_set_hive(self, nullptr);
  if (self->d->hive != nullptr && tol_drag_record.hive == self->d->hive.get())
    tol_drag_record = TolDragRecord{};
  tol_hive_close(std::move(self->d->hive));
  tol_pane_value_list_clear(self);
  show_no_hive_label(self);
}

void show_empty(TolPane* self) {
  tol_pane_show_status(self, TOL_STATUS_EMPTY, "drive-harddisk-symbolic", _("Empty pane"),
                       _("Open a SYSTEM, SOFTWARE, SAM, SECURITY or NTUSER.DAT file"));
}

void show_error(TolPane* self, const char* title, const char* description) {
  tol_pane_show_status(self, TOL_STATUS_ERROR, "dialog-error-symbolic", title, description);
}

// Windows keeps recent changes in the .LOG1/.LOG2 files until it merges
// them. Opening applies them as Windows would, and says so once; a hive whose
// logs could not be applied is shown as the primary file has it, which is
// older, and the warning says why.
void announce_logs(TolPane* self, const TolHive& hive, const char* path) {
  const TolLogReport& logs = hive.logs;
  g_autofree char* message = nullptr;
  if (tol_hive_has_pending_log(hive)) {
    const std::string reason = logs.examined ? logs.problem : std::string();
    g_autofree char* tooltip = g_strdup_printf(
        "%s\n\n%s", path,
        tol_format(_("Warning: this hive has changes recorded only in its transaction logs "
                     "(.LOG1/.LOG2) that could not be applied (%s). They are not shown, and "
                     "saving would discard them."),
                   reason.c_str())
            .c_str());
    gtk_widget_set_tooltip_text(self->path_label, tooltip);
    tol_pane_toast(self, tol_format(_("This hive has changes recorded only in its transaction "
                                      "logs that could not be applied (%s); they are not shown, "
                                      "and saving would discard them"),
                                    reason.c_str())
                             .c_str());
    return;
  }
  if (logs.applied == 0 && !logs.base_from_log) return;
  message = g_strdup_printf(ngettext("Applied %u change from the transaction logs",
                                     "Applied %u changes from the transaction logs", logs.applied),
                            logs.applied);
  g_autofree char* tooltip =
      g_strdup_printf("%s\n\n%s (%s)", path, message, tol_log_summary(logs).c_str());
  gtk_widget_set_tooltip_text(self->path_label, tooltip);
  tol_pane_toast(self, message);
}

int tab_index_of(GtkWidget* button) {
  return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), kIndexKey));
}

void on_tab_clicked(GtkButton* button, gpointer pane) {
  auto* self = TOL_PANE(pane);
  int index = tab_index_of(GTK_WIDGET(button));
  if (index != self->d->active_tab && valid_index(self, index))
    tol_pane_switch_tab(self, index);
}

void on_tab_close_clicked(GtkButton* button, gpointer pane) {
  tol_pane_close_tab(TOL_PANE(pane), tab_index_of(GTK_WIDGET(button)));
}

void on_new_tab_clicked(GtkButton*, gpointer pane) { tol_pane_open_file_dialog(TOL_PANE(pane)); }

GtkWidget* tab_widget(TolPane* self, const TolTab& tab, int index) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_add_css_class(box, "linked");
  gtk_widget_add_css_class(box, "tol-tab");
  if (!tab.path)
    gtk_widget_add_css_class(box, "tol-missing");
  if (index == self->d->active_tab)
    gtk_widget_add_css_class(box, "tol-tab-active");

  GtkWidget* select = gtk_button_new_with_label(tab.label.c_str());
  gtk_widget_add_css_class(select, "flat");
  g_object_set_data(G_OBJECT(select), kIndexKey, GINT_TO_POINTER(index));
  g_signal_connect(select, "clicked", G_CALLBACK(on_tab_clicked), self);
  gtk_box_append(GTK_BOX(box), select);

  GtkWidget* close = gtk_button_new_from_icon_name("window-close-symbolic");
  gtk_widget_add_css_class(close, "flat");
  gtk_widget_set_tooltip_text(close, _("Close tab"));
  g_object_set_data(G_OBJECT(close), kIndexKey, GINT_TO_POINTER(index));
  g_signal_connect(close, "clicked", G_CALLBACK(on_tab_close_clicked), self);
  gtk_box_append(GTK_BOX(box), close);
  return box;
}

}  // namespace

// ---- Status page ----------------------------------------------------------------

void tol_pane_show_status(TolPane* self, TolStatusKind kind, const char* icon_name,
                          const char* title, const char* description) {
  g_return_if_fail(TOL_IS_PANE(self));
  static const char* const kClasses[] = {"tol-empty", "tol-missing", "tol-error"};
  for (const char* css : kClasses)
    gtk_widget_remove_css_class(self->status_page, css);
  int k = static_cast<int>(kind);
  if (k >= 0 && k < static_cast<int>(G_N_ELEMENTS(kClasses)))
    gtk_widget_add_css_class(self->status_page, kClasses[k]);
  auto* page = ADW_STATUS_PAGE(self->status_page);
  adw_status_page_set_icon_name(page, icon_name);
  adw_status_page_set_title(page, title);
  adw_status_page_set_description(page, description);
  gtk_stack_set_visible_child_name(GTK_STACK(self->stack), "empty");
}

// ---- Tab bar ------------------------------------------------------------------------

void tol_pane_rebuild_tab_bar(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  while (GtkWidget* child = gtk_widget_get_first_child(self->tab_box))
    gtk_box_remove(GTK_BOX(self->tab_box), child);
  int index = 0;
  for (const auto& tab : self->d->tabs) {
    tab->widget = tab_widget(self, *tab, index++);
    gtk_box_append(GTK_BOX(self->tab_box), tab->widget);
  }
  GtkWidget* add = gtk_button_new_from_icon_name("list-add-symbolic");
  gtk_widget_add_css_class(add, "flat");
  gtk_widget_set_tooltip_text(add, _("New tab — open a file"));
  g_signal_connect(add, "clicked", G_CALLBACK(on_new_tab_clicked), self);
  gtk_box_append(GTK_BOX(self->tab_box), add);
}

// ---- Tabs -----------------------------------------------------------------------------

int tol_pane_add_tab(TolPane* self, const char* label, const char* path, bool is_user) {
  g_return_val_if_fail(TOL_IS_PANE(self), -1);
  if (self->d->tabs.size() >= static_cast<std::size_t>(TOL_MAX_TABS))
    return -1;
  auto tab = std::make_unique<TolTab>();
  tab->label = label != nullptr ? label : "";
  if (path != nullptr)
    tab->path = path;
  tab->is_user = is_user;
  self->d->tabs.push_back(std::move(tab));
  return static_cast<int>(self->d->tabs.size()) - 1;
}

void tol_pane_switch_tab(TolPane* self, int index) {
  g_return_if_fail(TOL_IS_PANE(self));
  g_return_if_fail(valid_index(self, index));

  TolTab* left = tab_at(self, self->d->active_tab);
  std::string selected;
  if (left != nullptr && left->path && tol_pane_get_selected_key_path(self, selected))
    left->last_key = selected;

  self->d->active_tab = index;
  TolTab* tab = tab_at(self, index);
  if (!tab->path) {
    drop_hive(self);
    g_autofree char* description =
        g_strdup_printf(_("File %s was not found in this location"), tab->label.c_str());
    tol_pane_show_status(self, TOL_STATUS_MISSING, "dialog-warning-symbolic", _("File unavailable"),
                         description);
    refresh_other(self);
  } else if (tol_pane_load_hive(self, tab->path->c_str()) && !tab->last_key.empty()) {
    tol_pane_select_path(self, tab->last_key.c_str());
  }
  tol_pane_rebuild_tab_bar(self);
}

void tol_pane_close_tab(TolPane* self, int index) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (!valid_index(self, index))
    return;
  int active = self->d->active_tab;
  self->d->tabs.erase(self->d->tabs.begin() + index);

  int remaining = static_cast<int>(self->d->tabs.size());
  if (remaining > 0) {
    if (index == active) {
      self->d->active_tab = -1;
      tol_pane_switch_tab(self, index < remaining ? index : remaining - 1);
      return;
    }
    if (index < active)
      --self->d->active_tab;
    tol_pane_rebuild_tab_bar(self);
    return;
  }
  self->d->active_tab = -1;
  drop_hive(self);
  show_empty(self);
  tol_pane_rebuild_tab_bar(self);
}

void tol_pane_open_file(TolPane* self, GFile* file) {
  g_return_if_fail(TOL_IS_PANE(self));
  g_return_if_fail(G_IS_FILE(file));
  g_autofree char* path = g_file_get_path(file);
  if (path == nullptr) {
    show_error(self, _("Unsupported location"), _("Tolvane supports local files only."));
    return;
  }
  g_autofree char* base = g_path_get_basename(path);
  int index = tol_pane_add_tab(self, base, path, false);
  if (index < 0) {
    show_error(self, _("Too many tabs"), _("This pane has reached the 16-tab limit — close a tab."));
    return;
  }
  tol_pane_switch_tab(self, index);
}

// ---- Loading ------------------------------------------------------------------------------

bool tol_pane_load_hive(TolPane* self, const char* path) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  g_return_val_if_fail(path != nullptr, false);
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(path, &error);
  if (!hive) {
    show_error(self, _("Failed to open the file"), error != nullptr ? error->message : nullptr);
    g_clear_error(&error);
    return false;
  }
  // The tree reads only the hive the pane holds, and the old hive goes only
  // once the new tree has replaced the rows that name it.
  TolHivePtr old = std::move(self->d->hive);
  self->d->hive = std::move(hive);
  tol_key_tree_set_hive(self, self->d->hive.get());
  if (old != nullptr && tol_drag_record.hive == old.get())
    tol_drag_record = TolDragRecord{};
  tol_hive_close(std::move(old));

  gtk_label_set_text(GTK_LABEL(self->path_label), path);
  gtk_widget_set_tooltip_text(self->path_label, path);
  announce_logs(self, *self->d->hive, path);
  tol_pane_announce_damage(self, path);

  gtk_single_selection_set_selected(self->key_tree_selection, 0);
  tol_pane_refresh_values(self);
  refresh_other(self);
  gtk_stack_set_visible_child_name(GTK_STACK(self->stack), "loaded");
  return true;
}

void tol_pane_reload(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  std::string selected;
  if (tol_pane_get_selected_key_path(self, selected))
    tol_pane_reload_and_select(self, selected.c_str());
  else
    tol_pane_reload_and_select(self, nullptr);
}

void tol_pane_reload_and_select(TolPane* self, const char* key_path) {
  g_return_if_fail(TOL_IS_PANE(self));
  TolTab* tab = tab_at(self, self->d->active_tab);
  if (tab == nullptr || !tab->path)
    return;
  std::string path = *tab->path;
  std::string select = key_path != nullptr ? key_path : "";
  // The rows that held the focus are replaced; without it back in the same
  // view the next key press would land in the other pane or nowhere.
  GtkWidget* focused_view = tol_pane_focus_in_value_list(self) ? self->value_list_view
                            : tol_focus_inside(self->key_tree_view) ? self->key_tree_view
                                                                      : nullptr;
  // A reload reads what this pane or its twin saved: images that edits made
  // from the same file, and edits never add or remove the damaged cells the
  // census lists. It is kept rather than taken again at the next edit.
  std::optional<TolCensus> census;
  if (self->d->hive && self->d->hive->path == path)
    census = std::move(self->d->hive->census);
  if (tol_pane_load_hive(self, path.c_str())) {
    self->d->hive->census = std::move(census);
    if (key_path != nullptr)
      tol_pane_select_path(self, select.c_str());
  }
  if (focused_view != nullptr && !tol_focus_inside(focused_view))
    gtk_widget_grab_focus(focused_view);
}

// ---- Tab fields -------------------------------------------------------------------------

TolTab* tol_pane_active_tab(TolPane* self) { return tab_at(self, self->d->active_tab); }

int tol_pane_get_tab_count(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), 0);
  return static_cast<int>(self->d->tabs.size());
}

int tol_pane_get_active_tab(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), -1);
  return self->d->active_tab;
}

const char* tol_pane_get_tab_label(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr ? tab->label.c_str() : nullptr;
}

const char* tol_pane_get_tab_path(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr && tab->path ? tab->path->c_str() : nullptr;
}

const char* tol_pane_get_tab_last_key(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr ? tab->last_key.c_str() : nullptr;
}

bool tol_pane_get_tab_is_user(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr && tab->is_user;
}

void tol_pane_set_tab_last_key(TolPane* self, int index, const char* key_path) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (TolTab* tab = tab_at(self, index))
    tab->last_key = key_path != nullptr ? key_path : "";
}
