// Undo and redo by pages (see page_journal.h).
#include "hive/page_journal.h"

#include <algorithm>

#include "hive/edit.h"

namespace {

constexpr std::uint32_t kPage = 4096;

// Copies page p of the bins, as far as `length` reaches, into the step.
void keep_page(TolPageStep& step, const TolHive& hive, std::uint32_t p, std::uint64_t length) {
  const auto bins = hive.bins().span();
  const std::uint64_t start = std::uint64_t{p} * kPage;
  const std::uint64_t end = std::min<std::uint64_t>({start + kPage, length, bins.size()});
  if (start >= end) return;
  step.pages.push_back(p);
  step.starts.push_back(static_cast<std::uint32_t>(step.bytes.size()));
  step.bytes.insert(step.bytes.end(), bins.begin() + static_cast<std::ptrdiff_t>(start),
                    bins.begin() + static_cast<std::ptrdiff_t>(end));
}

std::uint32_t pages_in(std::uint64_t length) {
  return static_cast<std::uint32_t>((length + kPage - 1) / kPage);
}

}  // namespace

void tol_hive_note_write(TolHive& hive, std::uint64_t off, std::uint64_t n) {
  TolPageRecording* recording = hive.recording;
  if (recording == nullptr || n == 0) return;
  // Bytes past the step's image length are new: undo cuts them off.
  const std::uint64_t end = std::min<std::uint64_t>(off + n, recording->step.bins_length);
  for (std::uint64_t p = off / kPage; p * kPage < end; ++p) {
    if (recording->noted[p]) continue;
    recording->noted[p] = true;
    keep_page(recording->step, hive, static_cast<std::uint32_t>(p), recording->step.bins_length);
  }
}

TolPageStep tol_page_step_apply(TolHive& hive, const TolPageStep& step) {
  tol_hive_make_writable(hive);
  TolPageStep inverse;
  const auto base = hive.base().span();
  inverse.base.assign(base.begin(), base.end());
  const std::uint32_t length = hive.bins_length;
  inverse.bins_length = length;
  // The pages the step puts back, and those it cuts off, as they are now.
  std::vector<std::uint32_t> kept(step.pages);
  std::sort(kept.begin(), kept.end());
  for (const std::uint32_t p : kept) keep_page(inverse, hive, p, length);
  for (std::uint32_t p = step.bins_length / kPage; p < pages_in(length); ++p)
    if (!std::binary_search(kept.begin(), kept.end(), p)) keep_page(inverse, hive, p, length);

  hive.base_copy.assign(step.base.begin(), step.base.end());
  hive.heap_bins.resize(step.bins_length);
  hive.bins_length = step.bins_length;
  tol::MutByteView bins = tol_hive_bins_mut(hive);
  for (std::size_t i = 0; i < step.pages.size(); ++i) {
    const std::size_t from = step.starts[i];
    const std::size_t to = i + 1 < step.pages.size() ? step.starts[i + 1] : step.bytes.size();
    bins.put_bytes(std::size_t{step.pages[i]} * kPage,
                   std::span<const std::uint8_t>(step.bytes).subspan(from, to - from));
  }
  tol_hive_image_replaced(hive);
  return inverse;
}

TolPageJournal::~TolPageJournal() {
  // A step left open must not leave the hive writing into freed memory.
  if (open_ && hive_ != nullptr) hive_->recording = nullptr;
}

void TolPageJournal::begin(TolHive& hive) {
  if (open_) commit(*hive_);
  tol_hive_make_writable(hive);
  open_ = std::make_unique<TolPageRecording>();
  const auto base = hive.base().span();
  open_->step.base.assign(base.begin(), base.end());
  open_->step.bins_length = hive.bins_length;
  open_->noted.assign(pages_in(hive.bins_length), false);
  hive.recording = open_.get();
  hive_ = &hive;
}

void TolPageJournal::commit(TolHive& hive) {
  if (!open_) return;
  hive.recording = nullptr;
  undo_.push_back(std::move(open_->step));
  while (undo_.size() > kMaxSteps) undo_.pop_front();
  redo_.clear();
  open_.reset();
  hive_ = nullptr;
}

void TolPageJournal::rollback(TolHive& hive) {
  if (!open_) return;
  hive.recording = nullptr;
  // An operation refused before it wrote anything leaves nothing to put back;
  // applying the step anyway would throw away the census and the name cache.
  const TolPageStep& step = open_->step;
  const auto base = hive.base().span();
  const bool untouched = step.pages.empty() && hive.bins_length == step.bins_length &&
                         std::equal(base.begin(), base.end(), step.base.begin(), step.base.end());
  if (!untouched) (void)tol_page_step_apply(hive, step);
  open_.reset();
  hive_ = nullptr;
}

bool TolPageJournal::undo(TolHive& hive) {
  if (undo_.empty()) return false;
  redo_.push_back(tol_page_step_apply(hive, undo_.back()));
  undo_.pop_back();
  return true;
}

bool TolPageJournal::redo(TolHive& hive) {
  if (redo_.empty()) return false;
  undo_.push_back(tol_page_step_apply(hive, redo_.back()));
  redo_.pop_back();
  return true;
}

std::size_t TolPageJournal::cost() const {
  std::size_t total = 0;
  for (const TolPageStep& s : undo_) total += s.cost();
  for (const TolPageStep& s : redo_) total += s.cost();
  return total;
}
