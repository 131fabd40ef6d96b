#include "base/WorkerThreads.h"

#include <algorithm>
#include <chrono>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace zemlix {
namespace {

// Waits until `value` is no longer `old` and returns what it became: busy for a while, since
// the next run or the last member usually comes within microseconds, then asleep.
template <typename T>
T AwaitChange(const std::atomic<T>& value, T old, bool spin) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(250);
  for (int32_t round = 1; spin; ++round) {
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
    if (round % 64 == 0 && std::chrono::steady_clock::now() > deadline) break;
  }
  for (;;) {
    value.wait(old, std::memory_order_acquire);
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
  }
}

}  // namespace

TWorkerThreads::TWorkerThreads(int32_t members)
    : spin_(members <= static_cast<int32_t>(std::thread::hardware_concurrency())) {
  const int32_t workers = std::max(members, 1) - 1;
  workers_.reserve(workers);
  for (int32_t m = 1; m <= workers; ++m) workers_.emplace_back([this, m] { Serve(m); });
}

TWorkerThreads::~TWorkerThreads() {
  stopping_.store(true, std::memory_order_relaxed);
  run_.fetch_add(1, std::memory_order_release);
  run_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void TWorkerThreads::RunErased(const void* context, TErasedWork work) {
  if (workers_.empty()) {
    work(context, 0);
    return;
  }
  context_ = context;
  work_ = work;
  failure_ = nullptr;
  unfinished_.store(Size(), std::memory_order_relaxed);
  run_.fetch_add(1, std::memory_order_release);  // publishes the two above
  run_.notify_all();
  Work(0);
  for (int32_t left = unfinished_.load(std::memory_order_acquire); left != 0;) left = AwaitChange(unfinished_, left, spin_);
  work_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void TWorkerThreads::Serve(int32_t member) {
  for (uint64_t served = 0;;) {
    served = AwaitChange(run_, served, spin_);
    if (stopping_.load(std::memory_order_relaxed)) return;
    Work(member);
  }
}

void TWorkerThreads::Work(int32_t member) {
  try {
    work_(context_, member);
  } catch (...) {
    std::lock_guard lock(failureMutex_);
    if (!failure_) failure_ = std::current_exception();
  }
  if (unfinished_.fetch_sub(1, std::memory_order_acq_rel) == 1) unfinished_.notify_one();
}

bool TWorkerThreads::Arrive() { return arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == Size(); }

void TWorkerThreads::Release() {
  arrived_.store(0, std::memory_order_relaxed);  // before any member can arrive at the next
  phase_.fetch_add(1, std::memory_order_release);
  phase_.notify_all();
}

void TWorkerThreads::AwaitPhase(uint64_t phase) { AwaitChange(phase_, phase, spin_); }

}  // namespace zemlix
