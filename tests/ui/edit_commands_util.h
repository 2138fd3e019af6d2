// Helpers of the editing command tests: the dialogs and alerts the commands
// open, the hive file read back from disk, a save that fails on purpose.
#pragma once

#include <adwaita.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive/save.h"
#include "two_pane_fixture.h"
#include "ui/commands.h"
#include "ui/compat.h"
#include "ui/pane.h"
#include "ui/key_tree.h"
#include "ui/replace_popover.h"
#include "ui/search_popover.h"
#include "ui/tab_bar.h"
#include "ui/value_list.h"
#include "ui_test_util.h"

namespace tol_test {

// The shown toplevel titled `title`, or null.
inline GtkWindow* shown_dialog(const std::string& title) {
  for (GtkWindow* window : toplevels()) {
    const char* t = gtk_window_get_title(window);
    if (gtk_widget_get_visible(GTK_WIDGET(window)) && t != nullptr && title == t)
      return window;
  }
  return nullptr;
}

inline GtkWindow* wait_for_dialog(const std::string& title) {
  GtkWindow* found = nullptr;
  iterate_until([&] { return (found = shown_dialog(title)) != nullptr; });
  return found;
}

inline GtkWidget* dialog_entry(GtkWindow* dialog) { return find_first(GTK_WIDGET(dialog), GTK_TYPE_ENTRY); }

inline GtkWidget* dialog_button(GtkWindow* dialog, const std::string& label) {
  for (GtkWidget* button : find_all(GTK_WIDGET(dialog), GTK_TYPE_BUTTON)) {
    const char* l = gtk_button_get_label(GTK_BUTTON(button));
    if (l != nullptr && label == l)
      return button;
  }
  return nullptr;
}

// Types `text` into the dialog's entry and presses its OK button.
inline void answer_dialog(GtkWindow* dialog, const std::string& text) {
  gtk_editable_set_text(GTK_EDITABLE(dialog_entry(dialog)), text.c_str());
  g_signal_emit_by_name(dialog_button(dialog, "OK"), "clicked");
  drain_main_loop();
}

// The shown alert (a window of its own with this libadwaita), or null.
inline GtkWidget* shown_alert() {
  for (GtkWindow* window : toplevels())
    if (ADW_IS_MESSAGE_DIALOG(window) && gtk_widget_get_visible(GTK_WIDGET(window)))
      return GTK_WIDGET(window);
  return nullptr;
}

inline GtkWidget* wait_for_alert() {
  GtkWidget* found = nullptr;
  iterate_until([&] { return (found = shown_alert()) != nullptr; });
  return found;
}

inline std::vector<std::string> label_texts(GtkWidget* root) {
  std::vector<std::string> texts;
  for (GtkWidget* label : find_all(root, GTK_TYPE_LABEL))
    texts.emplace_back(gtk_label_get_text(GTK_LABEL(label)));
  return texts;
}

// Waits for the toast whose title starts with `prefix` (the whole text when
// `whole`), closes it with its close button so that the toasts queued behind
// it come up, and returns its text; empty when none appeared.
inline std::string take_toast(AdwToastOverlay* overlay, const std::string& prefix, bool whole = false) {
  GType toast_type = g_type_from_name("AdwToastWidget");
  std::string found;
  GtkWidget* toast = nullptr;
  iterate_until([&] {
    for (GtkWidget* label : find_all(GTK_WIDGET(overlay), GTK_TYPE_LABEL)) {
      std::string text = gtk_label_get_text(GTK_LABEL(label));
      if (!gtk_widget_is_visible(label) || (whole ? text != prefix : text.rfind(prefix, 0) != 0))
        continue;
      found = text;
      toast = toast_type != 0 ? gtk_widget_get_ancestor(label, toast_type) : nullptr;
      return true;
    }
    return false;
  });
  if (toast != nullptr) {
    // Not before its show animation has ended: libadwaita 1.2 reads freed
    // memory when a toast is dismissed while still coming up.
    const gint64 shown = g_get_monotonic_time() + 600 * 1000;
    iterate_until([&] { return g_get_monotonic_time() > shown; });
    for (GtkWidget* button : find_all(toast, GTK_TYPE_BUTTON)) {
      if (g_strcmp0(gtk_button_get_icon_name(GTK_BUTTON(button)), "window-close-symbolic") == 0) {
        // Until its hide animation has finished: a window destroyed
        // while it runs trips over the toast.
        g_object_add_weak_pointer(G_OBJECT(toast), reinterpret_cast<gpointer*>(&toast));
        g_signal_emit_by_name(button, "clicked");
        iterate_until([&] { return toast == nullptr; });
        if (toast != nullptr)
          g_object_remove_weak_pointer(G_OBJECT(toast), reinterpret_cast<gpointer*>(&toast));
        break;
      }
    }
    drain_main_loop();
  }
  return found;
}

inline bool toast_taken(AdwToastOverlay* overlay, const std::string& text) {
  return take_toast(overlay, text, true) == text;
}

inline tol::test::Bytes read_file(const std::string& path) {
  gchar* contents = nullptr;
  gsize length = 0;
  tol::test::Bytes bytes;
  if (g_file_get_contents(path.c_str(), &contents, &length, nullptr))
    bytes.assign(contents, contents + length);
  g_free(contents);
  return bytes;
}

// The steps the pane's document can undo.
inline std::size_t snapshots(TolPane* pane) {
  TolDocument* document = tol_pane_get_document(pane);
  return document != nullptr ? tol_document_undo_steps(document) : 0;
}

// The hive file as it is on disk now.
inline TolHivePtr read_back(const std::string& path) {
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(path, &error);
  EXPECT_NE(hive, nullptr) << (error != nullptr ? error->message : "");
  g_clear_error(&error);
  return hive;
}

inline bool key_on_disk(const std::string& path, const std::string& key_path) {
  TolHivePtr hive = read_back(path);
  return hive != nullptr && tol_hive_find_path(*hive, key_path).has_value();
}

// While it exists, every save fails to create its temporary file.
class FailingSave {
 public:
  FailingSave() {
    static const TolSaveIo io = {
        [](const char*, int, mode_t) {
          errno = EACCES;
          return -1;
        },
        [](int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); },
        [](int fd) { return ::fsync(fd); },
        [](int fd) { return ::close(fd); },
        [](const char* from, const char* to) { return std::rename(from, to); },
    };
    tol_hive_save_set_io(&io);
  }
  ~FailingSave() { tol_hive_save_set_io(nullptr); }
  FailingSave(const FailingSave&) = delete;
  FailingSave& operator=(const FailingSave&) = delete;
};

}  // namespace tol_test
