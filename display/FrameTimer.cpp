#include "display/FrameTimer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <exception>
#include <utility>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include "display/HandlerErrors.h"

namespace zemlix {

namespace {

// A handler on a Qt timer, made when first started and parented to the application so it
// dies with it, not at static destruction. A repeating one keeps its handler; a single-shot
// one (precise, for waking up on time) lets it go when it fires.
class TQtHandlerTimer {
 public:
  explicit TQtHandlerTimer(bool singleShot) : singleShot_(singleShot) {}

  void Start(int milliseconds, std::function<void()> handler) {
    handler_ = std::move(handler);
    if (timer_.isNull()) {
      timer_ = new QTimer(QCoreApplication::instance());
      timer_->setSingleShot(singleShot_);
      if (singleShot_) timer_->setTimerType(Qt::PreciseTimer);
      QObject::connect(timer_.data(), &QTimer::timeout, [this] {
        // A copy: the handler may stop the timer while it runs.
        const std::function<void()> handler = singleShot_ ? std::exchange(handler_, nullptr) : handler_;
        if (handler) handler();
      });
    }
    timer_->start(milliseconds);
  }

  void Stop() {
    handler_ = nullptr;
    if (!timer_.isNull()) timer_->stop();
  }

 private:
  const bool singleShot_;
  std::function<void()> handler_;
  QPointer<QTimer> timer_;
};

class QtIdleSlot final : public IdleSlot {
 public:
  void Fill(std::function<void()> handler) override { timer_.Start(0, std::move(handler)); }
  void Empty() override { timer_.Stop(); }

 private:
  TQtHandlerTimer timer_{false};
};

class QtWakeUp final : public WakeUp {
 public:
  void Schedule(int milliseconds, std::function<void()> handler) override {
    timer_.Start(milliseconds, std::move(handler));
  }
  void Cancel() override { timer_.Stop(); }

 private:
  TQtHandlerTimer timer_{true};
};

// Below this many milliseconds to the next frame the timer polls rather than sleeps.
constexpr std::uint32_t SleepThreshold = 2;

// n / d rounded to the nearest integer, ties to even; n >= 0, d > 0.
int RoundedQuotient(std::int64_t numerator, std::int64_t denominator) {
  std::int64_t quotient = numerator / denominator;
  const std::int64_t twiceRemainder = 2 * (numerator % denominator);
  if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0)) ++quotient;
  return static_cast<int>(std::min<std::int64_t>(quotient, INT_MAX));
}

}  // namespace

IdleSlot& ApplicationIdleSlot() {
  static QtIdleSlot slot;
  return slot;
}

WakeUp& ApplicationWakeUp() {
  static QtWakeUp wakeUp;
  return wakeUp;
}

std::uint32_t MillisecondClock() {
  static QElapsedTimer started = [] {
    QElapsedTimer timer;
    timer.start();
    return timer;
  }();
  return static_cast<std::uint32_t>(started.elapsed());
}

TCustomFrameTimer::Platform TCustomFrameTimer::ApplicationPlatform() {
  Platform platform;
  platform.clock = &MillisecondClock;
  platform.idleSlot = &ApplicationIdleSlot();
  platform.wakeUp = &ApplicationWakeUp();
  platform.isApplicationActive = [] {
    return qGuiApp == nullptr || QGuiApplication::applicationState() == Qt::ApplicationActive;
  };
  platform.followApplicationState = true;
  return platform;
}

TCustomFrameTimer::TCustomFrameTimer() : TCustomFrameTimer(ApplicationPlatform()) {}

TCustomFrameTimer::TCustomFrameTimer(Platform platform) : platform_(std::move(platform)) {
  if (platform_.followApplicationState && qGuiApp != nullptr) {
    stateConnection_ = QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged,
                                        [this](Qt::ApplicationState state) {
                                          if (state == Qt::ApplicationActive) {
                                            ApplicationActivated();
                                          } else {
                                            ApplicationDeactivated();
                                          }
                                        });
  }
}

TCustomFrameTimer::~TCustomFrameTimer() {
  Finalize();
  QObject::disconnect(stateConnection_);
}

void TCustomFrameTimer::SetActiveOnly(bool value) {
  if (value == activeOnly_) return;
  activeOnly_ = value;
  // Apply the new rule at once: a running timer restarts under it.
  if (initialized_) Initialize();
}

void TCustomFrameTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (enabled_) {
    Initialize();
  } else {
    Finalize();
  }
}

void TCustomFrameTimer::SetInterval(int value) {
  const int clamped = std::max(value, 0);
  if (clamped == interval_) return;
  interval_ = clamped;
  lagDivisor_ = std::max(value, 1);
  // A sleep planned for the old interval may be far too long for the new one.
  if (sleeping_) {
    StopSleeping();
    FillIdleSlot();
  }
}

void TCustomFrameTimer::Loaded() {
  if (enabled_) Initialize();
}

void TCustomFrameTimer::ApplicationActivated() {
  DoActivate();
  if (initialized_ && activeOnly_) Resume();
}

void TCustomFrameTimer::ApplicationDeactivated() {
  DoDeactivate();
  if (initialized_ && activeOnly_) Suspend();
}

void TCustomFrameTimer::DoActivate() {
  if (OnActivate) OnActivate(*this);
}

void TCustomFrameTimer::DoDeactivate() {
  if (OnDeactivate) OnDeactivate(*this);
}

void TCustomFrameTimer::DoTimer(int lagCount) {
  if (OnTimer) OnTimer(*this, lagCount);
}

void TCustomFrameTimer::Initialize() {
  Finalize();
  // An inactive application leaves the timer waiting; the next activation resumes it.
  if (!activeOnly_ || !platform_.isApplicationActive || platform_.isApplicationActive()) Resume();
  initialized_ = true;
}

void TCustomFrameTimer::Finalize() {
  if (!initialized_) return;
  Suspend();
  initialized_ = false;
}

void TCustomFrameTimer::Resume() {
  const std::uint32_t now = platform_.clock();
  lastFrameTime_ = now;
  rateStartTime_ = now;
  StopSleeping();
  FillIdleSlot();
}

void TCustomFrameTimer::FillIdleSlot() {
  if (platform_.idleSlot != nullptr) platform_.idleSlot->Fill([this] { IdlePass(); });
}

void TCustomFrameTimer::StopSleeping() {
  if (sleeping_ && platform_.wakeUp != nullptr) platform_.wakeUp->Cancel();
  sleeping_ = false;
}

void TCustomFrameTimer::Suspend() {
  StopSleeping();
  if (platform_.idleSlot != nullptr) platform_.idleSlot->Empty();
}

void TCustomFrameTimer::IdlePass() {
  // A zero-interval timer keeps firing inside a modal error box; no frames under it.
  if (IsReportingError()) return;

  const std::uint32_t now = platform_.clock();
  const std::uint32_t elapsed = now - lastFrameTime_;
  if (elapsed < static_cast<std::uint32_t>(interval_)) {
    const std::uint32_t remaining = static_cast<std::uint32_t>(interval_) - elapsed;
    if (remaining >= SleepThreshold && platform_.wakeUp != nullptr && platform_.idleSlot != nullptr) {
      platform_.idleSlot->Empty();
      sleeping_ = true;
      platform_.wakeUp->Schedule(static_cast<int>(remaining - 1), [this] {
        sleeping_ = false;
        FillIdleSlot();
      });
    }
    return;
  }
  lastFrameTime_ = now;

  // Capped rather than wrapped to a negative count after weeks without a frame.
  const std::uint32_t lag = elapsed / static_cast<std::uint32_t>(lagDivisor_);
  const int lagCount = static_cast<int>(std::clamp<std::uint32_t>(lag, 1, INT_MAX));

  ++frameCount_;
  const int rateElapsed = std::max(static_cast<int>(static_cast<std::int32_t>(now - rateStartTime_)), 1);
  if (rateElapsed >= 1000) {
    frameRate_ = RoundedQuotient(static_cast<std::int64_t>(frameCount_) * 1000, rateElapsed);
    frameCount_ = 0;
    rateStartTime_ = now;
  }

  try {
    DoTimer(lagCount);
  } catch (const std::exception& error) {
    ReportHandlerError(error);
  } catch (...) {
    ReportHandlerError(std::string("Unknown error in the frame handler"));
  }
}

}  // namespace zemlix
