#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "world/TickProfile.h"

namespace zemlix {

// "[#########...........]  12/50 generations  48211 ticks/s  0:07 left": the bar and the
// count follow generations when the run is measured in them, ticks otherwise; the time
// left comes from the ticks still to run at the rate so far.
std::string FormatProgress(uint64_t ticksDone, uint64_t ticksTotal, uint64_t generationsDone,
                           uint64_t generationsTotal, double seconds);

// "  7/48 worlds, 2/3 grid points": a sweep's finished items and the grid points whose
// seeds have all finished, to follow a progress line.
std::string FormatGridProgress(uint64_t worldsDone, uint64_t worlds, uint64_t pointsDone, uint64_t points);

// "100000 ticks in 2.04 s, 49020 ticks/s (4 worlds on 2 threads)"; the MPI
// runner counts ranks instead of threads.
std::string FormatSummary(uint64_t ticks, double seconds, uint64_t worlds, unsigned threads,
                          const std::string& worker = "thread");

// "12/64 items, 3.2 items/s, 0:17 left": `done` counts every finished item,
// the rate only the `doneHere` finished in the `seconds` this run has taken.
// The --profile table: per tick, the serial sections and each thread's work and waits, the
// bugs threads done early took over from others, the serial share of all the work, and the speed-up Amdahl's law predicts on `cores` cores
// with the threads' mean wait per tick added to every tick.
std::string FormatTickProfile(const TTickProfile& profile, int32_t cores = 64);

std::string FormatItemProgress(uint64_t done, uint64_t total, uint64_t doneHere, double seconds);

// Counts the work done by any number of running worlds and, when enabled, redraws a
// progress line on `out` (a terminal) from its own thread a few times a second. Nothing
// else may write to `out` until the bar is destroyed, which erases the line.
class TProgressBar {
 public:
  // generationsTotal 0: the run is measured in ticks.
  TProgressBar(std::ostream& out, bool enabled, uint64_t ticksTotal, uint64_t generationsTotal);
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;
  ~TProgressBar();

  // Writes a whole line on `out` (which may share the terminal with the bar): the bar is
  // erased first and drawn again at its next turn. Safe from any thread.
  void WriteLine(std::ostream& out, const std::string& line);

  // Safe from any thread.
  void AddTick() { Ticks_.fetch_add(1, std::memory_order_relaxed); }
  void AddGeneration() { Generations_.fetch_add(1, std::memory_order_relaxed); }
  uint64_t Ticks() const { return Ticks_.load(std::memory_order_relaxed); }
  // A sweep's worlds and grid points to show beside the ticks (FormatGridProgress).
  void CountWorlds(uint64_t worlds, uint64_t points) {
    Worlds_ = worlds;
    Points_ = points;
  }
  // `worlds` more are done, and `pointsDone` grid points in all.
  void WorldsDone(uint64_t worlds, uint64_t pointsDone) {
    WorldsDone_.fetch_add(worlds, std::memory_order_relaxed);
    PointsDone_.store(pointsDone, std::memory_order_relaxed);
  }

 private:
  void Draw();

  std::ostream& Out_;
  const uint64_t TicksTotal_;
  const uint64_t GenerationsTotal_;
  std::atomic<uint64_t> Ticks_{0};
  std::atomic<uint64_t> Generations_{0};
  std::atomic<uint64_t> Worlds_{0}, Points_{0}, WorldsDone_{0}, PointsDone_{0};
  const std::chrono::steady_clock::time_point Start_ = std::chrono::steady_clock::now();
  std::mutex Mutex_;
  std::condition_variable Wake_;
  bool Stopping_ = false;
  std::thread Thread_;  // last: starts after everything it reads is ready
};

}  // namespace zemlix
