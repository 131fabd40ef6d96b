#pragma once

#include <cstdint>
#include <functional>

#include <QMetaObject>

namespace zemlix {

// The event loop's idle slot. An application has exactly one: Fill puts a handler
// into it (replacing whatever was there) and Empty removes whichever handler is in
// it. While it is filled the loop never blocks and calls the handler on every pass.
class IdleSlot {
 public:
  virtual ~IdleSlot() = default;
  virtual void Fill(std::function<void()> handler) = 0;
  virtual void Empty() = 0;
};

// The application's idle slot: a zero-interval QTimer, which fires whenever the event
// queue is empty and keeps the loop from sleeping. Needs a QCoreApplication.
IdleSlot& ApplicationIdleSlot();

// One pending call after a delay, at most: Schedule replaces a pending one, Cancel drops it.
class WakeUp {
 public:
  virtual ~WakeUp() = default;
  virtual void Schedule(int milliseconds, std::function<void()> handler) = 0;
  virtual void Cancel() = 0;
};

// The application's: a precise single-shot QTimer, so the loop sleeps until it fires.
WakeUp& ApplicationWakeUp();

// Milliseconds since an arbitrary origin, unsigned 32-bit, wrapping.
std::uint32_t MillisecondClock();

// Polls the clock from the idle slot and fires OnTimer at most once per Interval
// milliseconds, with the number of whole intervals that passed (at least 1). When the
// next frame is 2 ms or more away it empties the slot and sleeps until 1 ms before it
// (through the platform's wake-up, where there is one), so a slow world does not keep a
// core busy; the last millisecond is polled, for the frames' precision. Runs on the GUI
// thread only. Construction does not start it: call Loaded() after setting
// the properties (it starts if Enabled), or switch Enabled.
class TCustomFrameTimer {
 public:
  using TFrameTimerEvent = std::function<void(TCustomFrameTimer& sender, int lagCount)>;
  using TNotifyEvent = std::function<void(TCustomFrameTimer& sender)>;

  // What the timer needs of the platform; tests substitute a fake clock and slot.
  struct Platform {
    std::function<std::uint32_t()> clock;
    IdleSlot* idleSlot = nullptr;                  // not owned; must outlive the timer
    WakeUp* wakeUp = nullptr;                      // not owned; none: the timer never sleeps
    std::function<bool()> isApplicationActive;
    bool followApplicationState = false;           // subscribe to Qt's activation notices
  };
  static Platform ApplicationPlatform();

  TCustomFrameTimer();  // the application's clock, idle slot and activation notices
  explicit TCustomFrameTimer(Platform platform);
  virtual ~TCustomFrameTimer();

  TCustomFrameTimer(const TCustomFrameTimer&) = delete;
  TCustomFrameTimer& operator=(const TCustomFrameTimer&) = delete;

  bool ActiveOnly() const { return activeOnly_; }
  void SetActiveOnly(bool value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  int FrameRate() const { return frameRate_; }
  int Interval() const { return interval_; }
  void SetInterval(int value);

  // Called once the owner has set the properties: starts the timer if Enabled.
  void Loaded();

  // Activation notices; wired to QGuiApplication::applicationStateChanged by default.
  void ApplicationActivated();
  void ApplicationDeactivated();

  // True while the timer is wanted and set up (running or waiting for activation).
  bool Initialized() const { return initialized_; }

  int Tag = 0;  // spare value for the owner; the timer never touches it
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TFrameTimerEvent OnTimer;

 protected:
  virtual void DoActivate();
  virtual void DoDeactivate();
  virtual void DoTimer(int lagCount);

 private:
  void Initialize();
  void Finalize();
  void Resume();
  void Suspend();
  void IdlePass();
  void FillIdleSlot();
  void StopSleeping();

  Platform platform_;
  QMetaObject::Connection stateConnection_;
  bool activeOnly_ = true;
  bool enabled_ = true;
  int frameRate_ = 0;
  bool initialized_ = false;
  bool sleeping_ = false;  // the idle slot is empty and a wake-up is pending
  int interval_ = 1000;
  int lagDivisor_ = 1000;
  int frameCount_ = 0;
  std::uint32_t lastFrameTime_ = 0;
  std::uint32_t rateStartTime_ = 0;
};

class TFrameTimer : public TCustomFrameTimer {
 public:
  using TCustomFrameTimer::TCustomFrameTimer;
};

}  // namespace zemlix
