// One open hive file as an editable document: the hive, its undo and redo
// journal, and the one path every change takes (a journal step, the
// operation, the save; on failure the image goes back as it was).
//
// Every view of the file and every command-line edit works through the same
// document, and learns what a change did from its "changed" signal.
#pragma once

#include <glib-object.h>

#include <cstdint>
#include <functional>
#include <string>

#include "hive/hive.h"
#include "hive/page_journal.h"

// What a change did, for views that update in place instead of reading the
// file again.
enum class TolChangeKind {
  subkeys,  // keys added, removed or renamed below `key`
  values,   // the values of `key`
  subtree,  // anything below and including `key`
  image,    // the whole image (undo, redo)
};

struct TolChange {
  TolChangeKind kind = TolChangeKind::image;
  std::uint32_t key = TOL_NO_CELL;  // nk offset, none for the whole image
};

G_BEGIN_DECLS
#define TOL_TYPE_DOCUMENT (tol_document_get_type())
G_DECLARE_FINAL_TYPE(TolDocument, tol_document, TOL, DOCUMENT, GObject)
G_END_DECLS

// Opens a hive file (its transaction logs applied by the policy). Null with
// the open error on failure.
TolDocument* tol_document_open(const std::string& path, TolLogPolicy logs, GError** error);

TolHive& tol_document_get_hive(TolDocument* self);
const std::string& tol_document_get_path(TolDocument* self);

// How a change ended, for callers that word the two failures differently.
enum class TolChangeStatus {
  done,         // saved, recorded, announced
  unchanged,    // the operation succeeded without changing a byte
  refused,      // the operation failed; the image is as it was
  save_failed,  // the save failed; the image is as it was
};

// Runs one change: `op` works on the image (made writable) and says why it
// failed; then the image is saved. When either fails the image is put back
// as it was, nothing is recorded, and the error says why. On success the
// change becomes the newest undo step, redo is cleared and "changed" is
// emitted with `what`.
bool tol_document_change(TolDocument* self, const TolChange& what,
                         const std::function<bool(TolHive&, GError**)>& op, GError** error,
                         TolChangeStatus* status = nullptr);

bool tol_document_can_undo(TolDocument* self);
bool tol_document_can_redo(TolDocument* self);
// Undo and redo go through the same save: when it fails, the image and both
// lists stay as they were before the call. False with an error then, or
// without one when there was nothing to undo or redo.
bool tol_document_undo(TolDocument* self, GError** error);
bool tol_document_redo(TolDocument* self, GError** error);

// How many steps there are to undo and to redo.
std::size_t tol_document_undo_steps(TolDocument* self);
std::size_t tol_document_redo_steps(TolDocument* self);
// Bytes the undo and redo steps hold.
std::size_t tol_document_journal_cost(TolDocument* self);
