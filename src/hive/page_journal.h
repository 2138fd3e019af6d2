// Undo and redo by pages: a step keeps the 4 KiB pages of the image that it
// changed, as they were before, plus the base block and the image length.
//
// While a step is open, the engine's writable accessors note each page before
// its first change in the step (copy on write), so a step costs what it
// touches: a new value a few pages, a subtree copy the bins it fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "hive/hive.h"

// The pages of one step: page numbers in ascending order and their bytes
// (a page that ran past the image's end is kept as far as the image went).
struct TolPageStep {
  std::vector<std::uint8_t> base;  // the whole base block
  std::uint32_t bins_length = 0;
  std::vector<std::uint32_t> pages;
  std::vector<std::uint32_t> starts;  // where each page's bytes begin in `bytes`
  std::vector<std::uint8_t> bytes;
  std::size_t cost() const { return base.size() + bytes.size() + pages.size() * 8; }
};

// What the accessors write into while a step is open (see tol_hive_note_write).
struct TolPageRecording {
  TolPageStep step;
  std::vector<bool> noted;  // by page number, below the step's image length
};

class TolPageJournal {
 public:
  static constexpr std::size_t kMaxSteps = 10;

  TolPageJournal() = default;
  TolPageJournal(const TolPageJournal&) = delete;
  TolPageJournal& operator=(const TolPageJournal&) = delete;
  ~TolPageJournal();

  // Opens a step on the hive (made writable first); one at a time.
  void begin(TolHive& hive);
  // Closes the open step as the newest undo step; any redo steps are gone.
  void commit(TolHive& hive);
  // Puts back what the open step changed (the operation failed) and drops it.
  void rollback(TolHive& hive);

  bool can_undo() const { return !undo_.empty(); }
  std::size_t undo_steps() const { return undo_.size(); }
  std::size_t redo_steps() const { return redo_.size(); }
  bool can_redo() const { return !redo_.empty(); }
  // The image as before the newest step; the step moves to the redo list.
  // Nothing is saved. False when there is nothing to undo.
  bool undo(TolHive& hive);
  // The reverse of the newest undo.
  bool redo(TolHive& hive);
  // Bytes held by all steps.
  std::size_t cost() const;

 private:
  std::deque<TolPageStep> undo_;
  std::deque<TolPageStep> redo_;
  std::unique_ptr<TolPageRecording> open_;
  TolHive* hive_ = nullptr;  // the hive the open step records
};

// Puts a step's pages, base block and length into the hive and returns the
// step that reverses it (the pages as they were just before).
TolPageStep tol_page_step_apply(TolHive& hive, const TolPageStep& step);
