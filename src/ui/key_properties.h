// A key's properties window ("Properties", Alt+Enter): the last-write time in
// local time (UTC in its tooltip), class name, flags, counts, the largest-
// length fields and the security record, read from the key record as it is
// when the window opens.
#pragma once

#include <adwaita.h>

#include <cstdint>
#include <string>

#include "hive/hive.h"

typedef struct _TolPane TolPane;

G_BEGIN_DECLS
#define TOL_TYPE_KEY_PROPERTIES (tol_key_properties_get_type())
G_DECLARE_FINAL_TYPE(TolKeyProperties, tol_key_properties, TOL, KEY_PROPERTIES, AdwWindow)
G_END_DECLS

// The window for the key at nk, transient for `parent` (may be null). Null
// with the reason when the offset holds no readable key record.
TolKeyProperties* tol_key_properties_new(GtkWindow* parent, const TolHive& hive, std::uint32_t nk,
                                         GError** error);
// The text a row shows, and its tooltip ("" when there is no such row).
std::string tol_key_properties_get_text(TolKeyProperties* self, const char* title);
std::string tol_key_properties_get_tooltip(TolKeyProperties* self, const char* title);

// FILETIME as local time, "2024-03-01 13:34:56" ("" for a zero time).
std::string tol_filetime_local_text(std::uint64_t filetime);

// The pane's "Properties" command: the window for the selected key.
void tol_pane_show_key_properties(TolPane* self);
