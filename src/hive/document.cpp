// One open hive file as an editable document (see document.h).
#include "hive/document.h"

#include "hive/edit.h"
#include "hive/save.h"

namespace {

// The C++ half of the object, made in init and destroyed in finalize. The
// journal goes first: a step still open points into the hive.
struct DocumentState {
  TolHivePtr hive;
  TolPageJournal journal;
};

enum { kChanged, kSignals };
guint g_signals[kSignals];

}  // namespace

struct _TolDocument {
  GObject parent_instance;
  DocumentState* state;
};

G_DEFINE_FINAL_TYPE(TolDocument, tol_document, G_TYPE_OBJECT)

static void tol_document_finalize(GObject* object) {
  delete TOL_DOCUMENT(object)->state;
  G_OBJECT_CLASS(tol_document_parent_class)->finalize(object);
}

static void tol_document_class_init(TolDocumentClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_document_finalize;
  // The argument is the const TolChange* of the change just saved.
  g_signals[kChanged] = g_signal_new("changed", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0,
                                     nullptr, nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_POINTER);
}

static void tol_document_init(TolDocument* self) { self->state = new DocumentState(); }

TolDocument* tol_document_open(const std::string& path, TolLogPolicy logs, GError** error) {
  TolHivePtr hive = tol_hive_open(path, error, logs);
  if (!hive) return nullptr;
  auto* self = static_cast<TolDocument*>(g_object_new(TOL_TYPE_DOCUMENT, nullptr));
  self->state->hive = std::move(hive);
  return self;
}

TolHive& tol_document_get_hive(TolDocument* self) { return *self->state->hive; }

const std::string& tol_document_get_path(TolDocument* self) { return self->state->hive->path; }

bool tol_document_change(TolDocument* self, const TolChange& what,
                         const std::function<bool(TolHive&, GError**)>& op, GError** error,
                         TolChangeStatus* status) {
  TolChangeStatus ignored;
  TolChangeStatus& outcome = status != nullptr ? *status : ignored;
  TolHive& hive = *self->state->hive;
  TolPageJournal& journal = self->state->journal;
  journal.begin(hive);
  GError* local = nullptr;
  const bool done = op(hive, &local);
  if (done && !hive.dirty) {
    // Nothing changed (a key that existed already): nothing to save or undo.
    journal.rollback(hive);
    hive.dirty = false;
    outcome = TolChangeStatus::unchanged;
    return true;
  }
  outcome = done ? TolChangeStatus::save_failed : TolChangeStatus::refused;
  if (!done || !tol_hive_save(hive, &local)) {
    // The file still holds the image as it was before the step.
    journal.rollback(hive);
    hive.dirty = false;
    if (local != nullptr) g_propagate_error(error, local);
    return false;
  }
  journal.commit(hive);
  outcome = TolChangeStatus::done;
  g_signal_emit(self, g_signals[kChanged], 0, &what);
  return true;
}

bool tol_document_can_undo(TolDocument* self) { return self->state->journal.can_undo(); }
bool tol_document_can_redo(TolDocument* self) { return self->state->journal.can_redo(); }

namespace {

// Undo or redo, saved; a failed save takes the step back the other way.
bool travel(TolDocument* self, bool back, GError** error) {
  TolHive& hive = *self->state->hive;
  TolPageJournal& journal = self->state->journal;
  if (!(back ? journal.undo(hive) : journal.redo(hive))) return false;
  if (!tol_hive_save(hive, error)) {
    (void)(back ? journal.redo(hive) : journal.undo(hive));
    hive.dirty = false;
    return false;
  }
  const TolChange whole{TolChangeKind::image, TOL_NO_CELL};
  g_signal_emit(self, g_signals[kChanged], 0, &whole);
  return true;
}

}  // namespace

bool tol_document_undo(TolDocument* self, GError** error) { return travel(self, true, error); }
bool tol_document_redo(TolDocument* self, GError** error) { return travel(self, false, error); }

std::size_t tol_document_undo_steps(TolDocument* self) { return self->state->journal.undo_steps(); }
std::size_t tol_document_redo_steps(TolDocument* self) { return self->state->journal.redo_steps(); }

std::size_t tol_document_journal_cost(TolDocument* self) { return self->state->journal.cost(); }
