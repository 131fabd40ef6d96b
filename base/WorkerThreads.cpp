#include "base/WorkerThreads.h"

#include <algorithm>
#include <utility>

namespace zemlix {

TWorkerThreads::TWorkerThreads(int32_t members) {
  const int32_t workers = std::max(members, 1) - 1;
  workers_.reserve(workers);
  for (int32_t m = 1; m <= workers; ++m) workers_.emplace_back([this, m] { Serve(m); });
}

TWorkerThreads::~TWorkerThreads() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  started_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void TWorkerThreads::Run(const std::function<void(int32_t)>& work) {
  if (workers_.empty()) {
    work(0);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    work_ = &work;
    unfinished_ = Size();
    failure_ = nullptr;
    ++run_;
  }
  started_.notify_all();
  Serve(0);
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [this] { return unfinished_ == 0; });
  work_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

// Member 0 serves exactly the run it started; the others serve each run once, in turn.
void TWorkerThreads::Serve(int32_t member) {
  uint64_t served = 0;
  for (;;) {
    const std::function<void(int32_t)>* work;
    {
      std::unique_lock lock(mutex_);
      if (member != 0) {
        started_.wait(lock, [&] { return stopping_ || run_ != served; });
        if (stopping_) return;
        served = run_;
      }
      work = work_;
    }
    std::exception_ptr failure;
    try {
      (*work)(member);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      if (failure && !failure_) failure_ = failure;
      if (--unfinished_ == 0) finished_.notify_one();
    }
    if (member == 0) return;
  }
}

}  // namespace zemlix
