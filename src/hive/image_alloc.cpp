#include "hive/image_alloc.h"

#include <sys/mman.h>

#include <cstdlib>

namespace tol {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* image_allocate(std::size_t bytes) {
  if (bytes < kHugePage) {
    if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
    throw std::bad_alloc();
  }
  const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p == nullptr) throw std::bad_alloc();
  // Only advice: without transparent huge pages the buffer works as usual.
  (void)madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

void image_deallocate(void* p, std::size_t) noexcept { std::free(p); }

}  // namespace tol
