#pragma once

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstddef>
#include <cstdlib>
#include <new>

namespace trislip {

// Memory for a long array, not cleared, to be given back with std::free:
// on Linux in 2 MiB pages where the kernel gives them on request (from
// 4 MiB on), which spares the faults of thousands of 4 KiB pages and the
// misses in the page tables of far-apart accesses. Throws std::bad_alloc.
inline void* allocate_in_huge_pages(std::size_t bytes) {
  void* p = nullptr;
#if defined(__linux__)
  constexpr std::size_t huge = std::size_t{1} << 21;
  const std::size_t rounded = (bytes + huge - 1) / huge * huge;
  if (bytes >= 2 * huge && posix_memalign(&p, huge, rounded) == 0) {
    madvise(p, rounded, MADV_HUGEPAGE);
  } else {
    p = nullptr;
  }
#endif
  if (p == nullptr) p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace trislip
