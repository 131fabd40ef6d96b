// One whole frame of the window (tick, world view and observation panel) with 200 bugs and
// 100 pellets, offscreen, and its parts timed apart; its world picture and its panel alone; and
// the same frame with both drawing toggles off.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <chrono>
#include <memory>

#include "ui/BrainWindow.h"
#include "ui/MainUnit.h"
#include "ui/SpinEdit.h"

namespace {

std::unique_ptr<zemlix::TMain> StartedWindow(bool drawing) {
  auto window = std::make_unique<zemlix::TMain>(zemlix::TNetworkLog(std::filesystem::temp_directory_path()));
  window->show();
  QCoreApplication::processEvents();
  window->NumberOfBugsBox->SetValue(200);
  window->NumberOfFoodBox->SetValue(100);
  window->StartBtnClick();
  window->Timer.SetEnabled(false);  // the benchmark runs the frames itself
  window->World.Random.Seed = 1;
  window->World.BuildPopulation();
  window->WorldViewEnabled->setChecked(drawing);
  window->ShowStatsBox->setChecked(drawing);
  return window;
}

void BM_FrameEverythingDrawn(benchmark::State& state) {
  auto window = StartedWindow(true);
  for (auto _ : state) window->TimerTimer(1);
}
BENCHMARK(BM_FrameEverythingDrawn)->Unit(benchmark::kMicrosecond);

// The same frame's parts timed apart (microseconds a frame in the counters): the world picture
// of a moving world costs more than that of a still one (BM_WorldPicture), since its turned
// sprites and cleared spans change every frame.
void BM_FrameParts(benchmark::State& state) {
  auto window = StartedWindow(true);
  using Clock = std::chrono::steady_clock;
  Clock::duration tick{}, picture{}, panel{};
  for (auto _ : state) {
    const auto start = Clock::now();
    window->World.Tick();
    const auto ticked = Clock::now();
    window->DrawWorldPicture();
    const auto drawn = Clock::now();
    window->DrawObservation();
    const auto end = Clock::now();
    tick += ticked - start;
    picture += drawn - ticked;
    panel += end - drawn;
  }
  const auto perFrame = [&](Clock::duration total) {
    return std::chrono::duration<double, std::micro>(total).count() / static_cast<double>(state.iterations());
  };
  state.counters["tick_us"] = perFrame(tick);
  state.counters["picture_us"] = perFrame(picture);
  state.counters["panel_us"] = perFrame(panel);
}
BENCHMARK(BM_FrameParts)->Unit(benchmark::kMicrosecond);

// The world picture alone, as a frame draws it (the world stands still meanwhile).
void BM_WorldPicture(benchmark::State& state) {
  auto window = StartedWindow(true);
  window->TimerTimer(1);
  for (auto _ : state) window->DrawWorldPicture();
}
BENCHMARK(BM_WorldPicture)->Unit(benchmark::kMicrosecond);

// The observation panel alone: genome map, fitness label and both meters.
void BM_ObservationPanel(benchmark::State& state) {
  auto window = StartedWindow(true);
  window->TimerTimer(1);
  for (auto _ : state) {
    window->DrawObservation();
    window->DrawImpulseMeters(0.75, 0.25);
  }
}
BENCHMARK(BM_ObservationPanel)->Unit(benchmark::kMicrosecond);

void BM_FrameTogglesOff(benchmark::State& state) {
  auto window = StartedWindow(false);
  for (auto _ : state) window->TimerTimer(1);
}
BENCHMARK(BM_FrameTogglesOff)->Unit(benchmark::kMicrosecond);

// A frame as the event loop runs it, paint events included, with the brain view closed and
// open (refreshed after the views, as the laboratory does).
void BM_FrameBrainClosed(benchmark::State& state) {
  auto window = StartedWindow(true);
  for (auto _ : state) {
    window->TimerTimer(1);
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_FrameBrainClosed)->Unit(benchmark::kMicrosecond);

void BM_FrameBrainOpen(benchmark::State& state) {
  auto window = StartedWindow(true);
  zemlix::TBrainWindow brain(*window);
  brain.show();
  window->OnViewsDrawn = [&brain] { brain.Refresh(); };
  for (auto _ : state) {
    window->TimerTimer(1);
    QCoreApplication::processEvents();
  }
  window->OnViewsDrawn = nullptr;
}
BENCHMARK(BM_FrameBrainOpen)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
