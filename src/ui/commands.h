// The editing commands of a pane, behind its actions, buttons, menus and
// shortcuts. Each reports its outcome in a toast on the pane.
#pragma once

#include <cstdint>

#include "ui/pane.h"

typedef struct _TolValueItem TolValueItem;

// key_commands.cpp: the New key and Rename key dialogs and the Delete key? alert.
void tol_pane_show_new_key(TolPane* self);
void tol_pane_show_rename_key(TolPane* self);
void tol_pane_confirm_delete_key(TolPane* self);

// value_commands.cpp: the value list's commands. The two `bool` ones report
// whether they were handled (a hive and a selected value row).
bool tol_pane_confirm_delete_value(TolPane* self);
bool tol_pane_show_rename_value(TolPane* self);
// Stores edited data under `name` in the selected key (the value editors' OK).
void tol_pane_apply_value_change(TolPane* self, const char* name, std::uint32_t type,
                                 const std::uint8_t* data, std::uint32_t length);
// The `new-value` action: a value of that type ("REG_DWORD", ...) with a
// fresh name, then the rename dialog for it.
void tol_pane_new_value_quick(TolPane* self, const char* type_name);

// value_editors.cpp: the editor for the value in row `position`, and the New
// value dialog.
void tol_pane_modify_value(TolPane* self, guint position);
void tol_pane_show_new_value(TolPane* self);

// hive_health.cpp: the check of a loaded file, run off the main thread, says
// once per file in a toast and the path label's tooltip when it found damage;
// the full report in a dialog; repair into a new file opened in a new tab
// (false when nothing was written).
void tol_pane_announce_damage(TolPane* self, const char* path);
void tol_pane_show_check_report(TolPane* self);
bool tol_pane_repair_to_new_tab(TolPane* self);

// export.cpp / import.cpp: what the file dialogs do once a file is chosen:
// write the .reg file of the key selected now to `path`; apply the .reg file
// at `path` below the key selected now (the root when none), as one undoable
// change. Tests call them directly.
void tol_pane_export_reg_to(TolPane* self, const char* path);
void tol_pane_import_reg_from(TolPane* self, const char* path);

// security_editor.cpp: the selected key's security descriptor as hex.
void tol_pane_edit_security(TolPane* self);

// deleted_commands.cpp: guards of the editing commands. True, after a toast
// saying why, when the tree's selected row is a deleted key (or the row of
// those whose place is unknown), or when `item` is a deleted value: commands
// that would change or create below them refuse.
bool tol_pane_refuse_deleted_key(TolPane* self);
bool tol_pane_refuse_deleted_value(TolPane* self, TolValueItem* item);

// pane_copy.cpp: copying keys between the panes.
// Drop onto this pane's key tree of the key being dragged from a key tree;
// true when the copy was saved.
bool tol_pane_drop_key(TolPane* self);
// F5 / Shift+F5 and the copy buttons: the key selected in `source` with its
// subtree goes under the key selected in `destination`.
void tol_pane_copy_between(TolPane* source, TolPane* destination, const char* direction);
