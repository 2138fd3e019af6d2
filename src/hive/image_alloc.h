// Allocator for the writable hive image.
//
// Saving hands the whole image to one write(); with ordinary 4 KiB pages the
// kernel's copy out of a 100 MB buffer spends most of its time on TLB misses
// and takes several times as long as copying the same file inside the kernel.
// Large images are therefore placed on 2 MiB boundaries and offered to the
// kernel for transparent huge pages. Small ones (tests, new hives) use the
// ordinary heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace tol {

void* image_allocate(std::size_t bytes);
void image_deallocate(void* p, std::size_t bytes) noexcept;

template <typename T>
struct ImageAllocator {
  using value_type = T;
  ImageAllocator() = default;
  template <typename U>
  ImageAllocator(const ImageAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(image_allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { image_deallocate(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const ImageAllocator<U>&) const noexcept { return true; }
};

using ImageBytes = std::vector<std::uint8_t, ImageAllocator<std::uint8_t>>;

}  // namespace tol
