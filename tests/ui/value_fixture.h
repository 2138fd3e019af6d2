// Shared pieces of the value command, value editor and security editor
// tests: the dialogs' texts, the value list's rows, and the values in the
// hive file read back from disk.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "../hive/peer_tools.h"
#include "hive/hive.h"
#include "edit_commands_util.h"
#include "two_pane_fixture.h"
#include "ui/value_item.h"

namespace tol_test {

class ValueTest : public TwoPaneTest {
 protected:
  // The shown edit dialog titled `title`, or null when none appears.
  static GtkWidget* dialog_titled(const std::string& title) {
    return GTK_WIDGET(wait_for_dialog(title));
  }

  // Whether a window titled `title` is shown now (no waiting).
  static bool dialog_open(const std::string& title) { return shown_dialog(title) != nullptr; }

  // The delete-value alert: the widget carrying the value's name.
  static GtkWidget* value_alert() {
    GtkWidget* found = nullptr;
    iterate_until([&] {
      for (GtkWindow* window : toplevels())
        if (ADW_IS_MESSAGE_DIALOG(window) && gtk_widget_get_visible(GTK_WIDGET(window)))
          found = GTK_WIDGET(window);
      return found != nullptr;
    });
    return found;
  }

  static GtkWidget* entry_of(GtkWidget* dialog) { return find_first(dialog, GTK_TYPE_ENTRY); }

  static GtkTextBuffer* buffer_of(GtkWidget* dialog) {
    GtkWidget* view = find_first(dialog, GTK_TYPE_TEXT_VIEW);
    return view != nullptr ? gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)) : nullptr;
  }

  static std::string text_of(GtkWidget* dialog) {
    if (GtkTextBuffer* buffer = buffer_of(dialog)) {
      GtkTextIter start, end;
      gtk_text_buffer_get_bounds(buffer, &start, &end);
      char* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
      std::string out = text;
      g_free(text);
      return out;
    }
    GtkWidget* entry = entry_of(dialog);
    return entry != nullptr ? gtk_editable_get_text(GTK_EDITABLE(entry)) : "<no text>";
  }

  static void set_text(GtkWidget* dialog, const std::string& text) {
    if (GtkTextBuffer* buffer = buffer_of(dialog))
      gtk_text_buffer_set_text(buffer, text.c_str(), -1);
    else
      gtk_editable_set_text(GTK_EDITABLE(entry_of(dialog)), text.c_str());
  }

  static GtkWidget* button_labelled(GtkWidget* dialog, const char* label) {
    return dialog_button(GTK_WINDOW(dialog), label);
  }

  // Presses the dialog's OK button and lets what follows happen.
  static void click_ok(GtkWidget* dialog) {
    GtkWidget* ok = button_labelled(dialog, "OK");
    ASSERT_NE(ok, nullptr);
    g_signal_emit_by_name(ok, "clicked");
    drain_main_loop();
  }

  // The row names of the pane's value list ("" for the default value).
  static std::vector<std::string> row_names(TolPane* pane) {
    std::vector<std::string> names;
    GListModel* model = G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(pane)));
    for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
      auto* item = TOL_VALUE_ITEM(g_list_model_get_item(model, i));
      names.push_back(tol_value_item_get_name(item));
      g_object_unref(item);
    }
    return names;
  }

  static TolValueItem* row(TolPane* pane, const std::string& name) {
    GListModel* model = G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(pane)));
    for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
      auto* item = TOL_VALUE_ITEM(g_list_model_get_item(model, i));
      g_object_unref(item);  // the store keeps it
      if (tol_value_item_get_name(item) == name)
        return item;
    }
    return nullptr;
  }

  static guint row_position(TolPane* pane, const std::string& name) {
    std::vector<std::string> names = row_names(pane);
    for (guint i = 0; i < names.size(); ++i)
      if (names[i] == name)
        return i;
    return GTK_INVALID_LIST_POSITION;
  }

  static void select_value(TolPane* pane, const std::string& name) {
    guint position = row_position(pane, name);
    ASSERT_NE(position, GTK_INVALID_LIST_POSITION) << "no row " << name;
    gtk_single_selection_set_selected(tol_value_list_get_selection(tol_pane_get_value_list(pane)), position);
    drain_main_loop();
  }

  // The values of the key at `key_path` in the file as it is on disk now.
  static std::vector<TolHiveValue> values_on_disk(const std::string& file, const char* key_path) {
    std::vector<TolHiveValue> values;
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file, &error);
    EXPECT_NE(hive, nullptr) << (error != nullptr ? error->message : "");
    g_clear_error(&error);
    if (!hive)
      return values;
    std::optional<std::uint32_t> key = tol_hive_find_path(*hive, key_path);
    EXPECT_TRUE(key.has_value()) << key_path;
    if (!key)
      return values;
    for (std::uint32_t i = 0; i < tol_hive_value_count(*hive, *key); ++i) {
      TolHiveValue value;
      if (tol_hive_read_value(*hive, *key, i, value))
        values.push_back(std::move(value));
    }
    return values;
  }

  static std::optional<TolHiveValue> value_on_disk(const std::string& file, const char* key_path,
                                                   const std::string& name) {
    for (TolHiveValue& value : values_on_disk(file, key_path))
      if (value.name == name)
        return std::move(value);
    return std::nullopt;
  }

  static std::vector<std::string> names_on_disk(const std::string& file, const char* key_path) {
    std::vector<std::string> names;
    for (const TolHiveValue& value : values_on_disk(file, key_path))
      names.push_back(value.name);
    return names;
  }

  // hivexregedit's export of the whole hive; empty when the tool is missing.
  static std::string hivex_export(const std::string& file) {
    if (!tol::test::installed("hivexregedit"))
      return {};
    tol::test::Outcome out = tol::test::run({"hivexregedit", "--export", file, "\\"});
    EXPECT_EQ(out.status, 0) << out.err;
    return out.out;
  }
};

}  // namespace tol_test
