#include "display/FrameTimer.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "display/HandlerErrors.h"

namespace zemlix {
namespace {

class FakeIdleSlot : public IdleSlot {
 public:
  void Fill(std::function<void()> handler) override {
    handler_ = std::move(handler);
    ++fills;
  }
  void Empty() override { handler_ = nullptr; }
  bool Filled() const { return static_cast<bool>(handler_); }
  // One pass of the event loop with nothing else to do.
  void Pass() {
    const auto handler = handler_;
    if (handler) handler();
  }
  int fills = 0;

 private:
  std::function<void()> handler_;
};

class FakeWakeUp : public WakeUp {
 public:
  void Schedule(int milliseconds, std::function<void()> handler) override {
    delay = milliseconds;
    handler_ = std::move(handler);
  }
  void Cancel() override { handler_ = nullptr; }
  bool Pending() const { return static_cast<bool>(handler_); }
  void Fire() {
    const auto handler = std::move(handler_);
    handler_ = nullptr;
    if (handler) handler();
  }
  int delay = -1;

 private:
  std::function<void()> handler_;
};

class FrameTimerTest : public testing::Test {
 protected:
  void TearDown() override { SetErrorReporter(nullptr); }

  std::unique_ptr<TFrameTimer> MakeTimer(int interval, bool activeOnly = false) {
    TCustomFrameTimer::Platform platform;
    platform.clock = [this] { return now; };
    platform.idleSlot = &slot;
    platform.isApplicationActive = [this] { return active; };
    platform.wakeUp = wakeUpPlatform;
    auto timer = std::make_unique<TFrameTimer>(platform);
    timer->SetActiveOnly(activeOnly);
    timer->SetInterval(interval);
    timer->OnTimer = [this](TCustomFrameTimer&, int lag) { lags.push_back(lag); };
    return timer;
  }

  // Advances the clock and runs one idle pass.
  void PassAt(std::uint32_t time) {
    now = time;
    slot.Pass();
  }

  std::uint32_t now = 0;
  bool active = true;
  FakeIdleSlot slot;
  WakeUp* wakeUpPlatform = nullptr;  // timers made after setting it may sleep
  std::vector<int> lags;
};

TEST_F(FrameTimerTest, ConstructionSetsDefaultsAndDoesNotStart) {
  TCustomFrameTimer::Platform platform;
  platform.clock = [this] { return now; };
  platform.idleSlot = &slot;
  TFrameTimer timer(platform);
  EXPECT_TRUE(timer.ActiveOnly());
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_EQ(timer.FrameRate(), 0);
  EXPECT_FALSE(timer.Initialized());
  EXPECT_FALSE(slot.Filled());

  timer.Loaded();  // Enabled is True: loading starts it
  EXPECT_TRUE(timer.Initialized());
  EXPECT_TRUE(slot.Filled());
}

TEST_F(FrameTimerTest, DisabledAtLoadDoesNotStartUntilEnabled) {
  auto timer = MakeTimer(10);
  timer->SetEnabled(false);
  timer->Loaded();
  EXPECT_FALSE(slot.Filled());
  PassAt(100);
  EXPECT_TRUE(lags.empty());

  timer->SetEnabled(true);
  EXPECT_TRUE(slot.Filled());
  timer->SetEnabled(false);
  EXPECT_FALSE(slot.Filled());
  EXPECT_FALSE(timer->Initialized());
}

TEST_F(FrameTimerTest, FiresOncePerIntervalWithWholeIntervalsAsLag) {
  auto timer = MakeTimer(10);
  timer->Loaded();  // time references at 0
  PassAt(9);
  EXPECT_TRUE(lags.empty());
  PassAt(10);
  PassAt(35);  // 25 ms after the previous frame
  PassAt(44);  // 9 ms: too early, and the late frame is not made up
  PassAt(45);
  EXPECT_EQ(lags, (std::vector<int>{1, 2, 1}));
}

TEST_F(FrameTimerTest, IntervalZeroFiresOnEveryPassWithLagAtLeastOne) {
  auto timer = MakeTimer(0);
  timer->Loaded();
  PassAt(0);
  PassAt(0);
  PassAt(3);
  EXPECT_EQ(lags, (std::vector<int>{1, 1, 3}));
}

TEST_F(FrameTimerTest, NegativeIntervalIsStoredAsZeroWithLagInMilliseconds) {
  auto timer = MakeTimer(10);
  timer->SetInterval(-25);
  EXPECT_EQ(timer->Interval(), 0);
  timer->Loaded();
  PassAt(7);
  EXPECT_EQ(lags, (std::vector<int>{7}));
}

TEST_F(FrameTimerTest, ElapsedTimeSurvivesClockWrap) {
  now = 0xFFFFFFF0u;
  auto timer = MakeTimer(10);
  timer->Loaded();
  PassAt(0x00000010u);  // 32 ms later
  EXPECT_EQ(lags, (std::vector<int>{3}));
}

TEST_F(FrameTimerTest, FrameRateIsMeasuredOnceASecondAndRoundedTiesToEven) {
  auto timer = MakeTimer(0);
  timer->Loaded();
  // 100 frames, the last at 1002 ms: 100000 / 1002 = 99.8.
  for (int frame = 1; frame < 100; ++frame) PassAt(static_cast<std::uint32_t>(frame * 10));
  EXPECT_EQ(timer->FrameRate(), 0);
  PassAt(1002);
  EXPECT_EQ(timer->FrameRate(), 100);

  // Five frames in the next 2000 ms: 2.5 rounds to 2.
  for (std::uint32_t time : {1100u, 1300u, 1600u, 1900u}) PassAt(time);
  EXPECT_EQ(timer->FrameRate(), 100);
  PassAt(3002);
  EXPECT_EQ(timer->FrameRate(), 2);

  // Three frames in 2000 ms: 1.5 rounds to 2 as well.
  PassAt(3500);
  PassAt(4000);
  PassAt(5002);
  EXPECT_EQ(timer->FrameRate(), 2);
}

TEST_F(FrameTimerTest, EnablingTwiceKeepsTheTimeReferences) {
  auto timer = MakeTimer(10);
  timer->Loaded();
  now = 6;
  timer->SetEnabled(true);  // already enabled: no reset to 6
  PassAt(10);
  EXPECT_EQ(lags, (std::vector<int>{1}));
  EXPECT_EQ(slot.fills, 1);
}

TEST_F(FrameTimerTest, PauseAndResumeCountLagFromTheResume) {
  auto timer = MakeTimer(10);
  timer->Loaded();
  PassAt(5);  // frame not yet due: counted time is lost at the pause
  timer->SetEnabled(false);
  PassAt(500);
  EXPECT_TRUE(lags.empty());
  timer->SetEnabled(true);
  PassAt(509);
  PassAt(510);
  EXPECT_EQ(lags, (std::vector<int>{1}));
}

TEST_F(FrameTimerTest, IntervalChangeTakesEffectAtTheNextPass) {
  auto timer = MakeTimer(100);
  timer->Loaded();
  PassAt(50);
  timer->SetInterval(20);
  PassAt(60);
  EXPECT_EQ(lags, (std::vector<int>{3}));  // counted in the new unit, from the old reference
}

TEST_F(FrameTimerTest, HandlerErrorIsReportedOnceAndTheTimerKeepsRunning) {
  std::vector<std::string> reports;
  SetErrorReporter([&](const std::string& message) { reports.push_back(message); });
  auto timer = MakeTimer(10);
  int calls = 0;
  timer->OnTimer = [&](TCustomFrameTimer&, int) {
    ++calls;
    if (calls == 1) throw std::runtime_error("frame failed");
  };
  timer->Loaded();
  PassAt(10);
  EXPECT_EQ(reports, (std::vector<std::string>{"frame failed"}));
  PassAt(19);  // the failed frame still set the last frame time
  EXPECT_EQ(calls, 1);
  PassAt(20);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(slot.Filled());
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(FrameTimerTest, NoFramesWhileAnErrorIsOnScreen) {
  auto timer = MakeTimer(0);
  int frames = 0;
  // The reporter spins the loop the way a modal box does.
  SetErrorReporter([&](const std::string&) {
    EXPECT_TRUE(IsReportingError());
    for (std::uint32_t time = 100; time < 105; ++time) PassAt(time);
  });
  timer->OnTimer = [&](TCustomFrameTimer&, int) {
    ++frames;
    if (frames == 1) throw std::runtime_error("first");
  };
  timer->Loaded();
  PassAt(1);
  EXPECT_EQ(frames, 1);
  EXPECT_FALSE(IsReportingError());
  PassAt(200);
  EXPECT_EQ(frames, 2);
}

TEST_F(FrameTimerTest, ActiveOnlyTimerWaitsWhileTheApplicationIsInactive) {
  int activations = 0;
  int deactivations = 0;
  active = false;
  auto timer = MakeTimer(10, /*activeOnly=*/true);
  timer->OnActivate = [&](TCustomFrameTimer&) { ++activations; };
  timer->OnDeactivate = [&](TCustomFrameTimer&) { ++deactivations; };
  timer->Loaded();
  EXPECT_TRUE(timer->Initialized());
  EXPECT_FALSE(slot.Filled());

  now = 100;
  timer->ApplicationActivated();
  EXPECT_TRUE(slot.Filled());
  PassAt(105);
  EXPECT_TRUE(lags.empty());  // timed from the activation, not from the load
  PassAt(110);
  EXPECT_EQ(lags, (std::vector<int>{1}));

  timer->ApplicationDeactivated();
  EXPECT_FALSE(slot.Filled());
  EXPECT_EQ(activations, 1);
  EXPECT_EQ(deactivations, 1);
}

TEST_F(FrameTimerTest, TimerThatIsNotActiveOnlyIgnoresActivation) {
  auto timer = MakeTimer(10, /*activeOnly=*/false);
  int deactivations = 0;
  timer->OnDeactivate = [&](TCustomFrameTimer&) { ++deactivations; };
  timer->Loaded();
  timer->ApplicationDeactivated();
  EXPECT_EQ(deactivations, 1);
  EXPECT_TRUE(slot.Filled());
}

TEST_F(FrameTimerTest, OneIdleSlotPerApplication) {
  auto first = MakeTimer(10);
  auto second = MakeTimer(10);
  first->Loaded();
  second->Loaded();  // takes the slot
  PassAt(10);
  EXPECT_EQ(lags.size(), 1u);
  second->SetEnabled(false);  // empties the slot, whoever filled it
  EXPECT_FALSE(slot.Filled());
  first.reset();
  EXPECT_FALSE(slot.Filled());
}

TEST_F(FrameTimerTest, DestructionEmptiesTheSlot) {
  auto timer = MakeTimer(10);
  timer->Loaded();
  timer.reset();
  EXPECT_FALSE(slot.Filled());
}

TEST_F(FrameTimerTest, HandlerMayStopTheTimerFromInsideAFrame) {
  auto timer = MakeTimer(0);
  timer->OnTimer = [&](TCustomFrameTimer& sender, int) { sender.SetEnabled(false); };
  timer->Loaded();
  PassAt(1);
  EXPECT_FALSE(slot.Filled());
}

// Two milliseconds or more before the next frame the timer empties the slot and sleeps
// until one millisecond before it; closer, and at interval 0, it polls. Whatever stops or
// changes the timer ends the sleep.
TEST_F(FrameTimerTest, SleepsUntilAMillisecondBeforeADistantFrame) {
  FakeWakeUp wakeUp;
  wakeUpPlatform = &wakeUp;
  auto timer = MakeTimer(200);
  timer->Loaded();  // at 0
  PassAt(10);
  EXPECT_FALSE(slot.Filled());
  EXPECT_TRUE(wakeUp.Pending());
  EXPECT_EQ(wakeUp.delay, 189);
  now = 199;
  wakeUp.Fire();
  EXPECT_TRUE(slot.Filled());
  PassAt(199);  // 1 ms to go: polls
  EXPECT_TRUE(slot.Filled());
  EXPECT_FALSE(wakeUp.Pending());
  PassAt(200);
  EXPECT_EQ(lags, (std::vector<int>{1}));

  PassAt(202);  // asleep again; a new interval wakes it at once
  EXPECT_FALSE(slot.Filled());
  timer->SetInterval(0);
  EXPECT_TRUE(slot.Filled());
  EXPECT_FALSE(wakeUp.Pending());
  PassAt(203);
  PassAt(203);
  EXPECT_TRUE(slot.Filled());
  EXPECT_EQ(lags.size(), 3u);

  timer->SetInterval(50);
  PassAt(210);
  EXPECT_TRUE(wakeUp.Pending());
  timer->SetEnabled(false);  // stopping cancels the wake-up
  EXPECT_FALSE(wakeUp.Pending());
  EXPECT_FALSE(slot.Filled());
}

// A slow frame rate on the real event loop: the process sleeps between frames. A timer that
// polled would use about the whole 600 ms of processor time.
TEST(ApplicationFrameTimer, SlowFramesLeaveTheProcessorIdle) {
  TFrameTimer timer;
  timer.SetActiveOnly(false);
  timer.SetInterval(100);
  QEventLoop loop;
  int frames = 0;
  timer.OnTimer = [&](TCustomFrameTimer&, int) { ++frames; };
  QTimer::singleShot(600, &loop, &QEventLoop::quit);
  const std::clock_t start = std::clock();
  timer.Loaded();
  loop.exec();
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  timer.SetEnabled(false);
  EXPECT_GE(frames, 4);
  EXPECT_LE(frames, 6);
  EXPECT_LT(seconds, 0.1) << "processor time over 0.6 s of frames at 10 per second";
}

// The real idle slot on Qt's event loop: a zero-interval timer.
TEST(ApplicationFrameTimer, RunsFromTheEventLoopUntilDisabled) {
  TFrameTimer timer;
  timer.SetActiveOnly(false);
  timer.SetInterval(0);
  QEventLoop loop;
  int frames = 0;
  timer.OnTimer = [&](TCustomFrameTimer& sender, int lag) {
    EXPECT_GE(lag, 1);
    if (++frames == 5) {
      sender.SetEnabled(false);
      loop.quit();
    }
  };
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // safety net only
  timer.Loaded();
  loop.exec();
  EXPECT_EQ(frames, 5);
  EXPECT_FALSE(timer.Initialized());
}

}  // namespace
}  // namespace zemlix
