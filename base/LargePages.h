#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace zemlix {

// Memory for the arrays of a large world (its pellets, the pellet grid, its bugs), which a
// tick reads at random over tens of megabytes: with 4 KB pages nearly every such read also
// misses the address translation cache. A block of at least LargePageBytes / 2 is taken
// directly from the system, aligned to 2 MB, and the system is asked (on Linux, where
// transparent huge pages may be set to "madvise") to back it with 2 MB pages; smaller blocks,
// and every block elsewhere, come from operator new. Contents and addresses' meaning do not
// change either way: only the speed does.
constexpr size_t LargePageBytes = size_t{2} << 20;

// Whether a block of `bytes` is taken from the system with large pages asked for.
constexpr bool UsesLargePages(size_t bytes) { return bytes >= LargePageBytes / 2; }

// Returns memory for `bytes` (throws std::bad_alloc). Release it with ReleaseLarge and the
// same size.
void* AllocateLarge(size_t bytes);
void ReleaseLarge(void* block, size_t bytes) noexcept;

// An allocator for std::vector over AllocateLarge. With Uninitialised, the elements a
// resize adds are left uninitialised: a fresh array's memory is then first touched (and
// faulted in, which is slow on virtual machines) by whoever fills it, for instance the
// threads that each load their part, not all by the one that sizes it.
template <typename T, bool Uninitialised = false>
struct TLargePageAllocator {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = TLargePageAllocator<U, Uninitialised>;
  };
  TLargePageAllocator() = default;
  template <typename U>
  TLargePageAllocator(const TLargePageAllocator<U, Uninitialised>&) noexcept {}

  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateLarge(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { ReleaseLarge(p, n * sizeof(T)); }

  template <typename U, typename... TArgs>
  void construct(U* at, TArgs&&... args) {
    if constexpr (Uninitialised && sizeof...(TArgs) == 0) ::new (static_cast<void*>(at)) U;
    else ::new (static_cast<void*>(at)) U(std::forward<TArgs>(args)...);
  }

  template <typename U>
  bool operator==(const TLargePageAllocator<U, Uninitialised>&) const noexcept {
    return true;
  }
};

template <typename T>
using TLargeVector = std::vector<T, TLargePageAllocator<T>>;
template <typename T>
using TUninitialisedVector = std::vector<T, TLargePageAllocator<T, true>>;

}  // namespace zemlix
