#include <benchmark/benchmark.h>

#include <ostream>
#include <streambuf>
#include <vector>

#include "ai/PlainEvaluation.h"
#include "ai/Sigmoid.h"
#include "ai/SigmoidBatch.h"
#include "base/Random.h"
#include "sim/Runner.h"
#include "world/World.h"

namespace zemlix {
namespace {

// A 400 x 400 field with the largest population the window allows.
class TBenchHost : public TWorldHost {
 public:
  int32_t FieldWidth() const override { return 400; }
  int32_t FieldHeight() const override { return 400; }
  int32_t NumberOfBugs() const override { return 200; }
  int32_t NumberOfFood() const override { return 100; }
  int32_t CreatureLifetime() const override { return 2000; }
};

constexpr uint32_t BenchSeed = 12345;

// A world past its first generation, so the networks have been bred once.
void BuildWorld(TWorld& world) {
  world.Random.Seed = BenchSeed;
  world.BuildPopulation();
  for (int i = 0; i < 2100; ++i) world.Tick();
}

// UpdateCreatures and EatFood: one tick that does not end a generation.
void BM_Tick200Bugs100Food(benchmark::State& state) {
  TBenchHost host;
  TWorld world(host);
  BuildWorld(world);
  for (auto _ : state) {
    world.UpdateCreatures();
    world.EatFood();
    benchmark::DoNotOptimize(world.TotalFitness);
  }
}
BENCHMARK(BM_Tick200Bugs100Food);

// The same tick with every fast path switched off: the plain extended-precision evaluation
// (powl, sinl, cosl, full scans, one network after the other). Its time over the tick's
// above is the speed-up of the fast paths.
void BM_Tick200Bugs100FoodPlain(benchmark::State& state) {
  TBenchHost host;
  TWorld world(host);
  BuildWorld(world);
  SetPlainEvaluation(true);
  for (auto _ : state) {
    world.UpdateCreatures();
    world.EatFood();
    benchmark::DoNotOptimize(world.TotalFitness);
  }
  SetPlainEvaluation(false);
}
BENCHMARK(BM_Tick200Bugs100FoodPlain);

// The world's own Tick, counting down and ending a generation every 2000 ticks.
void BM_WorldTick(benchmark::State& state) {
  TBenchHost host;
  TWorld world(host);
  BuildWorld(world);
  for (auto _ : state) {
    world.Tick();
    benchmark::DoNotOptimize(world.TotalFitness);
  }
}
BENCHMARK(BM_WorldTick);

// Dense worlds as the runner builds them: many pellets within reach of every bug, each
// eaten pellet landing within reach of many later bugs.
class TDenseBenchHost : public TWorldHost {
 public:
  TDenseBenchHost(int32_t side, int32_t bugs, int32_t food) : Side(side), Bugs(bugs), FoodPellets(food) {}
  int32_t FieldWidth() const override { return Side; }
  int32_t FieldHeight() const override { return Side; }
  int32_t NumberOfBugs() const override { return Bugs; }
  int32_t NumberOfFood() const override { return FoodPellets; }
  int32_t CreatureLifetime() const override { return 2000; }
  int32_t MaximumBugs() const override { return Bugs; }
  int32_t MaximumFood() const override { return FoodPellets; }
  int32_t Side, Bugs, FoodPellets;
};

// One tick on one thread (the eating is in bug order whatever the threads).
void DenseTick(benchmark::State& state, int32_t side, int32_t bugs, int32_t food, double eatingDistance) {
  TDenseBenchHost host(side, bugs, food);
  TWorld world(host);
  world.Parameters.EatingDistance = eatingDistance;
  world.Random.Seed = BenchSeed;
  world.BuildPopulation();
  world.Tick();  // the pellets spread as eating spreads them
  int64_t eaten = 0;
  for (auto _ : state) {
    const int32_t before = world.TotalFitness;
    world.Tick();
    eaten += static_cast<uint32_t>(world.TotalFitness - before);
  }
  state.counters["eaten"] = benchmark::Counter(static_cast<double>(eaten), benchmark::Counter::kAvgIterations);
}

// 20,000 bugs and 20,000 pellets on 400 x 400: about 14 pellets within reach of a bug.
void BM_TickDense20000(benchmark::State& state) { DenseTick(state, 400, 20000, 20000, 6); }
BENCHMARK(BM_TickDense20000)->Unit(benchmark::kMillisecond);

// 200 bugs and 2000 pellets on 50 x 50 with eating_distance=100: every bug eats every pellet.
void BM_TickEverythingWithinReach(benchmark::State& state) { DenseTick(state, 50, 200, 2000, 100); }
BENCHMARK(BM_TickEverythingWithinReach)->Unit(benchmark::kMillisecond);

// Breeding depends on the fitness spread: every round starts from the same scores (a
// copy of 200 integers, negligible beside the breeding itself).
void BM_EndGeneration(benchmark::State& state) {
  TBenchHost host;
  TWorld world(host);
  BuildWorld(world);
  for (int i = 0; i < 1000; ++i) world.Tick();
  std::vector<int32_t> fitness;
  for (const TNeuralNet& net : world.Nets) fitness.push_back(net.Fitness);
  const int32_t totalFitness = world.TotalFitness;
  for (auto _ : state) {
    for (size_t i = 0; i < fitness.size(); ++i) world.Nets[i].Fitness = fitness[i];
    world.TotalFitness = totalFitness;
    world.EndGeneration();
    benchmark::DoNotOptimize(world.Generation);
  }
}
BENCHMARK(BM_EndGeneration);

// Activations spread like the networks' own: |a| below about 10.
std::vector<double> BenchActivations() {
  TRandomGenerator random(BenchSeed);
  std::vector<double> activations(4096);
  for (double& a : activations) a = (random.Random() * 2 - 1) * 10;
  return activations;
}

void BM_SigmoidFast(benchmark::State& state) {
  const std::vector<double> activations = BenchActivations();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Sigmoid(activations[i], 1.0));
    i = (i + 1) % activations.size();
  }
}
BENCHMARK(BM_SigmoidFast);

// A layer's worth of activations (200 bugs, 6 neurons) at once; time per activation.
void BM_SigmoidBatch(benchmark::State& state) {
  const std::vector<double> activations = BenchActivations();
  std::vector<double> results(1200);
  size_t offset = 0;
  for (auto _ : state) {
    SigmoidBatch(activations.data() + offset, results.data(), 1200);
    benchmark::DoNotOptimize(results.data());
    offset = (offset + 1200) % (activations.size() - 1200);
  }
  state.SetItemsProcessed(state.iterations() * 1200);
}
BENCHMARK(BM_SigmoidBatch);

void BM_SigmoidReference(benchmark::State& state) {
  const std::vector<double> activations = BenchActivations();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(SigmoidReference(activations[i], 1.0));
    i = (i + 1) % activations.size();
  }
}
BENCHMARK(BM_SigmoidReference);

class TNullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The headless runner as a user starts it: build, 2000 ticks, one generation end, a dump.
void BM_Runner2000Ticks(benchmark::State& state) {
  TNullBuffer buffer;
  std::ostream sink(&buffer);
  TRunnerOptions options;
  options.Seed = BenchSeed;
  options.Bugs = 200;
  options.Food = 100;
  options.Lifetime = 2000;
  options.Ticks = 2000;
  options.DumpPath = "-";
  for (auto _ : state) benchmark::DoNotOptimize(RunHeadless(options, sink, sink));
}
BENCHMARK(BM_Runner2000Ticks)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zemlix
