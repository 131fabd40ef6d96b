#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zemlix {

// A team of threads kept for the life of the object, so that work split many times a second
// (a tick of a large world) does not pay for starting threads each time. The calling thread
// is member 0 and takes its share itself; members 1 .. Size() - 1 wait between runs, spinning
// for a fraction of a millisecond first (the gap between two ticks' runs) and then asleep. A
// team larger than the machine's cores does not spin: a spinning member would hold the core
// another one needs.
class TWorkerThreads {
 public:
  // One member is the caller alone: no thread is started.
  explicit TWorkerThreads(int32_t members);
  ~TWorkerThreads();
  TWorkerThreads(const TWorkerThreads&) = delete;
  TWorkerThreads& operator=(const TWorkerThreads&) = delete;

  int32_t Size() const { return static_cast<int32_t>(workers_.size()) + 1; }

  // Calls work(m) once for every member m, each on its own thread, and returns when all
  // have returned. The first exception thrown by any of them is rethrown here, after all
  // have finished. Not reentrant: work must not call Run. Takes the callable by reference,
  // without copying or allocating.
  template <typename TWork>
  void Run(const TWork& work) {
    RunErased(&work, [](const void* context, int32_t member) { (*static_cast<const TWork*>(context))(member); });
  }

  // Inside a run, every member calls Sync once at the same point: the last to arrive calls
  // last() (which must not throw), and none goes on before it has returned. Waiting members
  // spin a while first, as between runs, so a short wait costs no sleep and wake-up. All
  // members must reach it (work that throws must do so after the last Sync).
  template <typename TLast>
  void Sync(TLast&& last) {
    const uint64_t phase = phase_.load(std::memory_order_acquire);
    if (Arrive()) {
      last();
      Release();
    } else {
      AwaitPhase(phase);
    }
  }

 private:
  using TErasedWork = void (*)(const void* context, int32_t member);
  void RunErased(const void* context, TErasedWork work);
  void Serve(int32_t member);
  void Work(int32_t member);
  bool Arrive();  // whether the caller is the last to arrive at the Sync
  void Release();
  void AwaitPhase(uint64_t phase);

  const void* context_ = nullptr;
  TErasedWork work_ = nullptr;
  std::atomic<int32_t> arrived_{0};  // members at the current Sync
  std::atomic<uint64_t> phase_{0};   // counts the Syncs passed
  std::atomic<uint64_t> run_{0};          // counts runs, so that each member takes each run once
  std::atomic<int32_t> unfinished_{0};    // members of the current run still working
  std::atomic<bool> stopping_{false};
  const bool spin_;
  std::mutex failureMutex_;
  std::exception_ptr failure_;
  std::vector<std::thread> workers_;
};

}  // namespace zemlix
