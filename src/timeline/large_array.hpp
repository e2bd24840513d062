#pragma once

// Arrays of a timeline's size: the days of seventy years and more, a few
// MiB each, written in full as soon as they are made. Asking for huge pages
// lets the kernel back such an array with one fault per 2 MiB instead of one
// per 4 KiB page; on a virtual machine a fault can cost microseconds, and the
// faults were most of the time a timeline took to make.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace sunindex::timeline {

/// std::allocator, but blocks of a huge page and more are aligned to huge
/// pages and advised to be backed by them. The advice is only that: without
/// it the memory behaves as any other.
template <class T>
struct LargeArrayAllocator {
  using value_type = T;
  static constexpr std::size_t huge_page = std::size_t{2} << 20;

  LargeArrayAllocator() noexcept = default;
  template <class U>
  LargeArrayAllocator(const LargeArrayAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < huge_page) return static_cast<T*>(::operator new(bytes, std::align_val_t{alignof(T)}));
    const std::size_t whole_pages = (bytes + huge_page - 1) / huge_page * huge_page;
    void* block = std::aligned_alloc(huge_page, whole_pages);
    if (block == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    madvise(block, whole_pages, MADV_HUGEPAGE);
#endif
    return static_cast<T*>(block);
  }

  void deallocate(T* block, std::size_t n) noexcept {
    if (n * sizeof(T) < huge_page) {
      ::operator delete(block, std::align_val_t{alignof(T)});
    } else {
      std::free(block);
    }
  }

  template <class U>
  bool operator==(const LargeArrayAllocator<U>&) const noexcept {
    return true;
  }
};

/// A vector whose blocks of a huge page and more may be backed by huge pages.
template <class T>
using LargeArray = std::vector<T, LargeArrayAllocator<T>>;

}  // namespace sunindex::timeline
