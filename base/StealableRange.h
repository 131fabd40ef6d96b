#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace zemlix {

// Items first .. end - 1 that their owner works through from the front while threads done
// with their own take pieces from the back. Both ends live in one atomic word, so every item
// is taken exactly once, without a lock, for one compare-and-swap a piece. A thread held up
// (by the system, or by slower items) then delays the others by its current piece at most,
// not by all it has left.
class TStealableRange {
 public:
  struct TPiece {
    int32_t First = 0, End = 0;
    bool Empty() const { return First >= End; }
  };

  TStealableRange() = default;
  // Copies are for vectors of ranges, made while no one takes from either.
  TStealableRange(const TStealableRange& other) : bounds_(other.bounds_.load(std::memory_order_relaxed)) {}
  TStealableRange& operator=(const TStealableRange& other) {
    bounds_.store(other.bounds_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
  }

  // Not while anyone takes.
  void Reset(int32_t first, int32_t end) { bounds_.store(Pack(first, std::max(first, end)), std::memory_order_relaxed); }

  // The owner's next piece: from the front to cut(front, back), held within front + 1 ..
  // back; empty once nothing is left.
  template <typename TCut>
  TPiece TakeFront(const TCut& cut) {
    uint64_t now = bounds_.load(std::memory_order_acquire);
    for (;;) {
      const int32_t front = Front(now), back = Back(now);
      if (front >= back) return {};
      const int32_t end = std::clamp<int32_t>(cut(front, back), front + 1, back);
      if (bounds_.compare_exchange_weak(now, Pack(end, back), std::memory_order_acq_rel)) return {front, end};
    }
  }

  // Another thread's piece: the back half of what is left, cut at a multiple of `align`
  // (the front must lie on one), when both halves hold at least `least` items; else empty.
  TPiece TakeBack(int32_t least, int32_t align) {
    uint64_t now = bounds_.load(std::memory_order_acquire);
    for (;;) {
      const int32_t front = Front(now), back = Back(now);
      const int32_t cut = front + ((back - front) / 2 + align - 1) / align * align;
      if (cut - front < least || back - cut < least) return {};
      if (bounds_.compare_exchange_weak(now, Pack(front, cut), std::memory_order_acq_rel)) return {cut, back};
    }
  }

 private:
  static uint64_t Pack(int32_t front, int32_t back) {
    return static_cast<uint64_t>(static_cast<uint32_t>(back)) << 32 | static_cast<uint32_t>(front);
  }
  static int32_t Front(uint64_t bounds) { return static_cast<int32_t>(static_cast<uint32_t>(bounds)); }
  static int32_t Back(uint64_t bounds) { return static_cast<int32_t>(static_cast<uint32_t>(bounds >> 32)); }

  std::atomic<uint64_t> bounds_{0};
};

}  // namespace zemlix
