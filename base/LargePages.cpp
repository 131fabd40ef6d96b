#include "base/LargePages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zemlix {
namespace {

// A large block's mapping: its size rounded up to whole large pages.
size_t MappedBytes(size_t bytes) { return (bytes + LargePageBytes - 1) / LargePageBytes * LargePageBytes; }

}  // namespace

#if defined(__linux__)

void* AllocateLarge(size_t bytes) {
  if (!UsesLargePages(bytes)) return ::operator new(bytes);
  const size_t size = MappedBytes(bytes);
  // Mapped with a large page to spare, so that an aligned run of `size` lies inside; the
  // parts before and after it go back at once.
  void* mapped = mmap(nullptr, size + LargePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + LargePageBytes - 1) & ~(uintptr_t{LargePageBytes} - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const size_t tail = start + size + LargePageBytes - (aligned + size);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  // A refusal (no transparent huge pages in this kernel) leaves ordinary pages: still correct.
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void ReleaseLarge(void* block, size_t bytes) noexcept {
  if (!block) return;
  if (!UsesLargePages(bytes)) {
    ::operator delete(block);
    return;
  }
  munmap(block, MappedBytes(bytes));
}

#else

void* AllocateLarge(size_t bytes) { return ::operator new(bytes); }
void ReleaseLarge(void* block, size_t) noexcept { ::operator delete(block); }

#endif

}  // namespace zemlix
