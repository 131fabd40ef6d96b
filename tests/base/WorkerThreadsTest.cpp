#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/WorkerThreads.h"

namespace zemlix {
namespace {

// Every member takes every run exactly once and on its own thread, across thousands of runs
// back to back (where a lost wake-up would hang and a member taking a run twice would show),
// and with pauses long enough for the members to fall asleep between runs.
TEST(WorkerThreads, EveryMemberTakesEveryRunOnceOnItsOwnThread) {
  for (int32_t members : {1, 2, 3, 5}) {
    TWorkerThreads team(members);
    ASSERT_EQ(team.Size(), members);
    std::vector<std::atomic<int32_t>> calls(members);
    std::vector<std::thread::id> ids(members);
    constexpr int32_t Runs = 3000;
    for (int32_t run = 0; run < Runs; ++run) {
      team.Run([&](int32_t m) {
        calls[m].fetch_add(1);
        ids[m] = std::this_thread::get_id();
      });
      if (run % 1000 == 999) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_EQ(ids[0], std::this_thread::get_id());
    }
    for (int32_t m = 0; m < members; ++m) EXPECT_EQ(calls[m].load(), Runs) << members << " members, member " << m;
    for (int32_t m = 1; m < members; ++m) EXPECT_NE(ids[m], ids[0]);
  }
}

// A member's exception reaches the caller once every member is done, and the team serves
// the next run as before.
TEST(WorkerThreads, AnExceptionReachesTheCallerAfterTheRun) {
  TWorkerThreads team(3);
  std::atomic<int32_t> done{0};
  EXPECT_THROW(team.Run([&](int32_t m) {
    if (m == 2) throw std::runtime_error("member 2");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    done.fetch_add(1);
  }),
               std::runtime_error);
  EXPECT_EQ(done.load(), 2);
  team.Run([&](int32_t) { done.fetch_add(1); });
  EXPECT_EQ(done.load(), 5);
}

// Sync: no member passes it before all have arrived and the last one's step has run, once
// per Sync; several Syncs a run, over many runs, with members that spin and members that
// sleep (more members than cores), and slow arrivals.
TEST(WorkerThreads, NoMemberPassesASyncBeforeTheLastStepHasRun) {
  for (int32_t members : {1, 2, 3, 5}) {
    TWorkerThreads team(members);
    std::vector<std::atomic<int32_t>> stage(members);
    std::atomic<int32_t> steps{0}, early{0};
    constexpr int32_t Runs = 500, Syncs = 3;
    for (int32_t run = 0; run < Runs; ++run) {
      team.Run([&](int32_t m) {
        for (int32_t k = 1; k <= Syncs; ++k) {
          if (m == run % members && run % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          stage[m].store(run * Syncs + k);
          team.Sync([&] {
            for (const auto& s : stage)
              if (s.load() != run * Syncs + k) early.fetch_add(1);
            steps.fetch_add(1);
          });
          // Every member arrived at this Sync, and none has gone on to the next one's stage.
          for (const auto& s : stage)
            if (s.load() < run * Syncs + k) early.fetch_add(1);
          if (steps.load() < run * Syncs + k) early.fetch_add(1);
          team.Sync([] {});
        }
      });
    }
    EXPECT_EQ(early.load(), 0) << members << " members";
    EXPECT_EQ(steps.load(), Runs * Syncs) << members << " members";
  }
}

}  // namespace
}  // namespace zemlix
