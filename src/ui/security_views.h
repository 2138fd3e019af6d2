// The readable views of a security descriptor beside its hex bytes: the
// owner, the group and a list of the DACL's entries (principal, allow or
// deny, rights in words, what it applies to, inherited or not), and the SDDL
// text. All three follow whichever one the user edits: valid SDDL rewrites
// the hex, hex that decodes rewrites the SDDL, and both redraw the list.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <string>
#include <vector>

G_BEGIN_DECLS
#define TOL_TYPE_SECURITY_VIEWS (tol_security_views_get_type())
G_DECLARE_FINAL_TYPE(TolSecurityViews, tol_security_views, TOL, SECURITY_VIEWS, GtkBox)
G_END_DECLS

// Follows and edits `hex` (a buffer of "xx,xx,..." descriptor bytes).
TolSecurityViews* tol_security_views_new(GtkTextBuffer* hex);

GtkWidget* tol_security_views_get_sddl_entry(TolSecurityViews* self);
// The SDDL's parse error as shown beside the field, or "".
std::string tol_security_views_get_sddl_error(TolSecurityViews* self);
// Whether the SDDL field was edited last and does not parse: the hex is then
// not what the user typed, and nothing should be stored.
bool tol_security_views_sddl_pending(TolSecurityViews* self);
// The entries as the list shows them: principal, access, rights, applies to,
// inherited.
std::vector<std::array<std::string, 5>> tol_security_views_get_rows(TolSecurityViews* self);
// "Owner: … · Group: …", or why the bytes do not decode.
std::string tol_security_views_get_summary(TolSecurityViews* self);
