// The document: every change saved or not made at all, undo and redo through
// the same save, and one signal that says what changed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "hive/document.h"
#include "hive/edit.h"
#include "hive/save.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

int refuse_rename(const char*, const char*) {
  errno = EACCES;
  return -1;
}

class Document : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    HiveBuilder b;
    b.tree(key("ROOT", {key("A"), key("B")}));
    file_ = write(b.image());
    GError* error = nullptr;
    doc_ = tol_document_open(file_, TolLogPolicy::apply, &error);
    ASSERT_NE(doc_, nullptr) << error->message;
    g_signal_connect(doc_, "changed", G_CALLBACK(+[](TolDocument*, const TolChange* c, gpointer log) {
                       static_cast<std::vector<TolChange>*>(log)->push_back(*c);
                     }),
                     &changes_);
  }
  void TearDown() override {
    tol_hive_save_set_io(nullptr);
    g_clear_object(&doc_);
    HiveTest::TearDown();
  }

  bool add(const char* name, GError** error = nullptr, TolChangeStatus* status = nullptr) {
    TolHive& hive = tol_document_get_hive(doc_);
    const TolChange what{TolChangeKind::subkeys, hive.root_cell};
    return tol_document_change(
        doc_, what,
        [name](TolHive& h, GError** e) { return tol_hive_create_key(h, h.root_cell, name, e).has_value(); },
        error, status);
  }
  // What the file on disk holds now.
  bool on_disk(const char* path) {
    TolHivePtr disk = tol_hive_open(file_, nullptr);
    return disk && tol_hive_find_path(*disk, path).has_value();
  }

  std::string file_;
  TolDocument* doc_ = nullptr;
  std::vector<TolChange> changes_;
};

TEST_F(Document, ChangesAreSavedAndUndoAndRedoGoThroughTheSameSave) {
  TolChangeStatus status = TolChangeStatus::refused;
  ASSERT_TRUE(add("C", nullptr, &status));
  EXPECT_EQ(status, TolChangeStatus::done);
  EXPECT_TRUE(on_disk("C"));
  ASSERT_EQ(changes_.size(), 1u);
  EXPECT_EQ(changes_[0].kind, TolChangeKind::subkeys);
  EXPECT_EQ(changes_[0].key, tol_document_get_hive(doc_).root_cell);

  ASSERT_TRUE(add("D"));
  EXPECT_EQ(tol_document_undo_steps(doc_), 2u);
  ASSERT_TRUE(tol_document_undo(doc_, nullptr));
  EXPECT_EQ(tol_document_undo_steps(doc_), 1u);
  EXPECT_EQ(tol_document_redo_steps(doc_), 1u);
  EXPECT_FALSE(on_disk("D"));
  EXPECT_TRUE(on_disk("C"));
  EXPECT_TRUE(tol_document_can_redo(doc_));
  ASSERT_TRUE(tol_document_redo(doc_, nullptr));
  EXPECT_TRUE(on_disk("D"));
  EXPECT_EQ(changes_.back().kind, TolChangeKind::image);

  // A new change ends the redo list; an existing key changes nothing.
  ASSERT_TRUE(tol_document_undo(doc_, nullptr));
  ASSERT_TRUE(add("E"));
  EXPECT_FALSE(tol_document_can_redo(doc_));
  const std::size_t signals = changes_.size();
  ASSERT_TRUE(add("E", nullptr, &status));
  EXPECT_EQ(status, TolChangeStatus::unchanged);
  EXPECT_EQ(changes_.size(), signals);
  std::size_t undone = 0;
  while (tol_document_undo(doc_, nullptr)) ++undone;
  EXPECT_EQ(undone, 2u) << "C and E; the existing E was no step";
  EXPECT_FALSE(on_disk("C"));
}

TEST_F(Document, AFailedOperationOrSaveLeavesImageFileAndListsAsTheyWere) {
  ASSERT_TRUE(add("C"));
  const Bytes file = file_bytes(file_);
  GError* error = nullptr;
  // Refused by the engine: B exists already. Refusals change nothing first,
  // but the document would put back whatever an operation did.
  const auto rename = [](TolHive& h, GError** e) {
    const auto a = tol_hive_find_path(h, "A");
    return tol_hive_set_value(h, *a, "v", 4, le32(1)) && tol_hive_rename_key(h, *a, "B", e).has_value();
  };
  TolChangeStatus status = TolChangeStatus::done;
  EXPECT_FALSE(tol_document_change(doc_, TolChange{}, rename, &error, &status));
  EXPECT_EQ(status, TolChangeStatus::refused);
  ASSERT_NE(error, nullptr);
  g_clear_error(&error);
  EXPECT_EQ(tol_hive_find_value(tol_document_get_hive(doc_), *tol_hive_find_path(tol_document_get_hive(doc_), "A"), "v"),
            TOL_NO_CELL);

  TolSaveIo io{[](const char* p, int f, mode_t m) { return ::open(p, f, m); },
               [](int fd, const void* b, std::size_t n) { return ::write(fd, b, n); },
               [](int) { return 0; }, [](int fd) { return ::close(fd); }, refuse_rename};
  tol_hive_save_set_io(&io);
  const std::size_t signals = changes_.size();
  EXPECT_FALSE(add("D", &error, &status));
  EXPECT_EQ(status, TolChangeStatus::save_failed);
  ASSERT_NE(error, nullptr);
  g_clear_error(&error);
  EXPECT_FALSE(tol_hive_find_path(tol_document_get_hive(doc_), "D")) << "the image went back";
  EXPECT_FALSE(tol_document_undo(doc_, &error));
  g_clear_error(&error);
  EXPECT_TRUE(tol_hive_find_path(tol_document_get_hive(doc_), "C")) << "an unsaved undo is taken back";
  EXPECT_TRUE(tol_document_can_undo(doc_));
  EXPECT_FALSE(tol_document_can_redo(doc_));
  EXPECT_EQ(changes_.size(), signals);
  EXPECT_EQ(file_bytes(file_), file);

  tol_hive_save_set_io(nullptr);
  ASSERT_TRUE(tol_document_undo(doc_, nullptr));
  EXPECT_FALSE(on_disk("C"));
}

}  // namespace
}  // namespace tol::test
