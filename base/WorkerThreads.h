#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zemlix {

// A team of threads kept for the life of the object, so that work split many times a second
// (a tick of a large world) does not pay for starting threads each time. The calling thread
// is member 0 and takes its share itself; members 1 .. Size() - 1 wait between runs.
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
  // have finished. Not reentrant: work must not call Run.
  void Run(const std::function<void(int32_t member)>& work);

 private:
  void Serve(int32_t member);

  std::mutex mutex_;
  std::condition_variable started_;   // a new run, or the end
  std::condition_variable finished_;  // the last member of a run is done
  const std::function<void(int32_t)>* work_ = nullptr;
  uint64_t run_ = 0;         // counts runs, so that each member takes each run once
  int32_t unfinished_ = 0;   // members of the current run still working
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> workers_;
};

}  // namespace zemlix
