#include "sim/Runner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <new>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "files/Dump.h"
#include "files/FitnessCsv.h"
#include "files/BrainDrawing.h"
#include "files/FitnessPlot.h"
#include "files/LineageCsv.h"
#include "sim/HeadlessHost.h"
#include "files/OutputFile.h"
#include "sim/Progress.h"
#include "sim/Sweep.h"
#include "files/SavedState.h"
#include "files/WorldFile.h"
#include "world/MemoryEstimate.h"

namespace zemlix {
namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

std::string PlotTitle(const TRunnerOptions& options, const TWorld& world, uint64_t startTick, int32_t lifetime) {
  std::string title = "Zemlix: ";
  if (options.LoadPath.empty())
    title += "seed " + std::to_string(options.Seed);
  else
    title += "resumed from " + options.LoadPath + " at tick " + std::to_string(startTick);
  title += ", " + std::to_string(world.BugCount) + " bugs, " + std::to_string(world.FoodCount) +
           " food, lifetime " + std::to_string(lifetime) + ", ";
  const auto count = [](uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  title += options.Generations > 0 ? count(options.Generations, "generation")
                                   : count(options.Ticks.value_or(lifetime), "tick");
  for (const std::string& changed : ExperimentParameters(world.Parameters)) title += ", " + changed;
  return title;
}

// The program itself, its libraries and its heap before any world (measured: 5.1 MB).
constexpr uint64_t ProgramBytes = 6'000'000;

std::string DescribeWorld(const TParameters& parameters) {
  std::string layers;
  for (int32_t size : parameters.HiddenLayers) {
    if (!layers.empty()) layers += ',';
    layers += std::to_string(size);
  }
  return std::to_string(parameters.Bugs) + " bugs, " + std::to_string(parameters.Food) + " pellets, hidden layers [" +
         layers + "]";
}

// A single run's world with what the runner keeps beside it: the loaded file's states, and
// the dump's text, which is built whole before it is written (and may double while it grows).
TMemoryNeed SingleMemoryNeed(const TRunnerOptions& options, const TParameters& parameters, bool loaded) {
  TMemoryNeed need;
  need.World = DescribeWorld(parameters);
  const auto bugs = static_cast<uint64_t>(TWorld::BugSlotsFor(parameters.Bugs));
  const auto pellets = static_cast<uint64_t>(TWorld::FoodSlotsFor(parameters.Food));
  const uint64_t weights = NetworkWeights(parameters);
  need.WorldBytes = EstimateWorldBytes(parameters, static_cast<int32_t>(options.Threads));
  if (loaded) need.WorldBytes += bugs * (weights * sizeof(double) + 100) + pellets * sizeof(TFood);
  if (!options.DumpPath.empty()) need.WorldBytes += 2 * (bugs * (weights * 22 + 160) + pellets * 50);
  return need;
}

// Writes the dry run's report, or the refusal when the run cannot fit; returns the status
// to stop with, or -1 to go on.
int CheckMemory(const TRunnerOptions& options, const TMemoryNeed& need, std::optional<uint64_t> available,
                const std::string& plan, std::ostream& out, std::ostream& error) {
  if (options.DryRun) {
    errno = 0;
    out << plan << "memory: about " << FormatBytes(need.Total()) << " needed"
        << (need.Worlds > 1 ? " (" + std::to_string(need.Worlds) + " worlds at once, each up to " +
                                  FormatBytes(need.WorldBytes) + ")"
                            : std::string())
        << ", " << (available ? FormatBytes(*available) : std::string("an unknown amount")) << " available\n";
    return FinishStandardOutput(out, error, 0, options.Program);
  }
  if (const std::string refusal = MemoryRefusal(options.Program, need, available); !refusal.empty()) {
    error << refusal << "\n";
    return 2;
  }
  return -1;
}

// Runs one world; `doing` says at every moment what it is doing, for a message when the
// memory runs out (which the caller catches once every file and the world are released).
int RunOne(const TRunnerOptions& options, std::ostream& out, std::ostream& error,
           std::optional<uint64_t> availableMemory, std::string& doing) {
  // A state to continue from is read completely before anything runs or is written.
  std::optional<TWorldFile> saved;
  if (!options.LoadPath.empty()) {
    doing = "loading " + options.LoadPath;
    try {
      std::string note;
      saved = ReadWorldFile(options.LoadPath, &note);
      if (!note.empty()) error << options.Program << ": --load: note: " << note << "\n";
    } catch (const EDumpError& e) {
      error << options.Program << ": --load: " << e.what() << "\n";
      return 2;
    }
  }
  const TSavedState* state = saved ? &saved->State : nullptr;
  // A loaded world goes on under the parameters it ran with; --set and --config may only
  // repeat them.
  if (state)
    for (const std::string& name : options.GivenParameters) {
      const TParameterInfo& info = *FindParameter(name);
      const std::string inFile = FormatParameter(state->Parameters, info);
      if (inFile != FormatParameter(options.Parameters, info)) {
        error << options.Program << ": --load: " << name << " is " << FormatParameter(options.Parameters, info)
               << " in --set or --config, but " << inFile << " in " << options.LoadPath << "\n";
        return 2;
      }
    }
  const TParameters& parameters = state ? state->Parameters : options.Parameters;
  if (!options.BrainPath.empty() && options.BrainBug >= parameters.Bugs) {
    error << options.Program << ": " << BrainBugRefusal(options.BrainBug, parameters.Bugs) << "\n";
    return 2;
  }
  const int32_t lifetime = parameters.Lifetime;
  THeadlessHost host(parameters, options.RecordIO);
  TWorld world(host);
  world.Parameters = parameters;
  world.Threads = static_cast<int32_t>(options.Threads);
  world.Profile.Enabled = options.Profile;
  const uint64_t startTick = state ? state->Tick : 0;
  const int32_t timeToLive = state ? state->TimeToLive : lifetime;
  const uint64_t ticks = TicksToRun(options, timeToLive, lifetime);
  if (!GenerationCountFits(state ? state->Generation : 0, ticks, timeToLive, lifetime)) {
    error << options.Program << ": " << GenerationCountTooLarge;
    return 2;
  }
  const std::string plan = "would run 1 world (" + DescribeWorld(parameters) + ") for " + std::to_string(ticks) +
                           (ticks == 1 ? " tick\n" : " ticks\n");
  if (const int status =
          CheckMemory(options, SingleMemoryNeed(options, parameters, state != nullptr), availableMemory, plan, out, error);
      status >= 0)
    return status;

  // Every output is opened before the first tick: a path that cannot be written costs
  // nothing but this message.
  std::unique_ptr<TOutputFile> dump, csv, plot, lineage, brain;
  try {
    if (!options.DumpPath.empty()) dump = std::make_unique<TOutputFile>(options.DumpPath, out);
    if (!options.CsvPath.empty()) csv = std::make_unique<TOutputFile>(options.CsvPath, out);
    if (!options.PlotPath.empty()) plot = std::make_unique<TOutputFile>(options.PlotPath, out);
    if (!options.LineagePath.empty()) lineage = std::make_unique<TOutputFile>(options.LineagePath, out);
    if (!options.BrainPath.empty()) brain = std::make_unique<TOutputFile>(options.BrainPath, out);
  } catch (const std::runtime_error& e) {
    error << options.Program << ": " << e.what() << "\n";
    return 2;
  }

  try {
    doing = "building the world (" + DescribeWorld(parameters) + ")";
    if (state) {
      try {
        RestoreWorld(world, *state, options.LoadPath);
      } catch (const EDumpError& e) {
        error << options.Program << ": --load: " << e.what() << "\n";
        return 2;
      }
    } else {
      world.Random.Seed = options.Seed;
      world.BuildPopulation();
    }
    if (options.RecordIO) world.Log.WriteStarted();

    // A world that arrives with a history (a window's saved world) keeps carrying it, with
    // every generation end here added. A fresh run's dump stays the plain state format that
    // independent tools compare; its history is what --csv writes.
    const bool carryHistory = saved && !saved->History.empty();
    // The parents likewise: a run that follows the family lines, or a world that arrived with
    // its parents, dumps them, so that a run resumed from the dump knows them too.
    const bool carryParentage = lineage || (state && !state->Parentage.empty());
    // The saved history, then this run's reports from historyStart on (the plot's).
    std::vector<TGenerationReport> history = saved ? saved->History : std::vector<TGenerationReport>{};
    const size_t historyStart = history.size();
    size_t historyWritten = 0;               // history lines already in the dump file
    int outputFailure = 0;                   // why standard output failed, if it did
    const bool reportLines = !dump && !csv && !plot && !lineage && !brain;
    std::optional<TProgressBar> progress;
    progress.emplace(error, options.Progress && !options.Quiet, ticks, options.Generations);
    if (csv) csv->Stream() << CsvHeader(false);
    if (lineage) lineage->Stream() << LineageHeader(false);
    world.OnGenerationEnd = [&](const TGenerationReport& report) {
      history.push_back(report);
      if (csv) csv->Stream() << FormatCsvRow(report);
      if (lineage)
        lineage->Stream() << FormatLineageRows(report.Generation,
                                               std::span(world.Parentage).first(static_cast<size_t>(world.BugCount)));
      if (reportLines) {
        char line[160];
        std::snprintf(line, sizeof line, "generation %d average %.4f best %d\n", report.Generation,
                      report.AverageFitness, report.BestFitness);
        progress->WriteLine(out, line);
        if (!out && outputFailure == 0) outputFailure = errno;
      }
    };
    // Each state goes out whole, with the history since the one before, and becomes a
    // checkpoint under the dump's own name at once.
    const auto writeState = [&](uint64_t tick) {
      const std::string before = std::exchange(doing, "writing the state of tick " + std::to_string(tick) + " to " +
                                                          options.DumpPath);
      dump->Stream() << FormatDump(world, tick, lifetime,
                                   carryHistory ? std::span(history).subspan(historyWritten)
                                                : std::span<const TGenerationReport>(),
                                   carryParentage);
      historyWritten = history.size();
      dump->Checkpoint();
      doing = before;
    };

    const uint64_t lastTick = startTick + ticks;
    const auto start = TClock::now();
    doing = "running the world (" + DescribeWorld(parameters) + ")";
    for (uint64_t tick = startTick + 1; tick <= lastTick; ++tick) {
      // Only the last tick's activations are drawn: only that tick keeps them.
      if (brain && tick == lastTick) world.KeepActivationsOf = options.BrainBug;
      world.Tick();
      progress->AddTick();
      if (options.Generations > 0 && world.TimeToLive == lifetime) progress->AddGeneration();
      // Counted from the population's start, so a resumed run dumps where the whole run would.
      if (dump && options.DumpEvery > 0 && tick % options.DumpEvery == 0 && tick != lastTick) {
        world.CloseProfile();  // writing is not the tick's
        writeState(tick);
      }
      if (reportLines && !out) break;  // nobody can read the rest
    }
    world.CloseProfile();
    progress.reset();
    const double seconds = SecondsSince(start);

    if (reportLines && FinishStandardOutput(out, error, outputFailure, options.Program) != 0) return 1;
    doing = "writing the results";
    if (dump) writeState(lastTick);
    if (plot)
      plot->Stream() << FormatFitnessPlot({history.begin() + historyStart, history.end()},
                                          PlotTitle(options, world, startTick, lifetime));
    if (brain) brain->Stream() << FormatBrainSvg(LayOutBugBrain(world, options.BrainBug));
    if (options.RecordIO) world.Log.WriteClosed();
    for (TOutputFile* file : {dump.get(), csv.get(), plot.get(), lineage.get(), brain.get()})
      if (file) file->Commit();
    if (!options.Quiet) error << options.Program << ": " << FormatSummary(ticks, seconds, 1, 1) << "\n";
    if (options.Profile) error << options.Program << ": " << FormatTickProfile(world.Profile);
  } catch (const EFatalError& e) {
    error << e.what() << "\n";
    return 1;
  } catch (const EInOutError& e) {
    error << options.Program << ": NN.log: " << e.what() << "\n";
    return 1;
  } catch (const std::runtime_error& e) {
    error << options.Program << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

// Each thread takes the next pending item and owns the world it runs; finished items go to
// the output (and its journal) one at a time.
int RunBatch(const TRunnerOptions& options, std::ostream& out, std::ostream& error,
             std::optional<uint64_t> availableMemory) {
  const TSweep sweep(options);
  // The threads run as many worlds at once, as far as there are items for them.
  const uint64_t worldsAtOnce = std::min<uint64_t>(std::max(options.Jobs, 1u), sweep.ItemCount());
  const TMemoryNeed need = BatchMemoryNeed(sweep, worldsAtOnce, 1);
  if (const int status = CheckMemory(options, need, availableMemory,
                                     DescribeBatch(sweep, need, "thread"), out, error);
      status >= 0)
    return status;
  std::unique_ptr<TSweepOutput> output;
  try {
    if (const int status = TSweepOutput::Open(sweep, options, out, error, output); status != 0) return status;
  } catch (const std::bad_alloc&) {
    error << options.Program << ": not enough memory for reading the journal and opening the outputs\n";
    return 1;
  }
  const TPendingItems& pending = output->Pending();
  const uint64_t count = pending.size();
  const unsigned threads = SweepThreads(options.Jobs, count);
  std::string failure;
  const auto start = TClock::now();
  uint64_t ticksRun = 0;
  {
    // Everything here is worked out from the journal's items alone, so that a sweep of any
    // size shows its progress at once.
    uint64_t ticksToRun = sweep.TotalTicks();  // each item's own, when the lifetime is swept
    for (uint64_t index : pending.Finished()) ticksToRun -= sweep.Ticks(index);
    TProgressBar progress(error, options.Progress && !options.Quiet, ticksToRun, options.Generations * count);
    // Seeds finished so far at the grid points that are started but not finished.
    const uint64_t seeds = options.Seeds->Count();
    std::unordered_map<uint64_t, uint64_t> seedsDone;
    uint64_t pointsDone = 0;
    const auto seedDone = [&](uint64_t index) {
      const uint64_t point = sweep.PointOf(index);
      if (++seedsDone[point] < seeds) return;
      seedsDone.erase(point);
      ++pointsDone;
    };
    for (uint64_t index : pending.Finished()) seedDone(index);
    progress.CountWorlds(sweep.ItemCount(), sweep.GridPoints());
    progress.WorldsDone(sweep.ItemCount() - count, pointsDone);
    struct TCounter : TSweep::TObserver {
      TProgressBar& Progress;
      explicit TCounter(TProgressBar& progress) : Progress(progress) {}
      bool Ticked() override {
        Progress.AddTick();
        return true;
      }
      void GenerationEnded() override { Progress.AddGeneration(); }
    };
    TCounter counter(progress);
    failure = RunSweepItems(sweep, pending, options.Jobs, counter, [&](uint64_t index, std::string rows) {
      output->Put(index, std::move(rows));
      seedDone(index);
      progress.WorldsDone(1, pointsDone);
    });
    ticksRun = progress.Ticks();
  }
  const double seconds = SecondsSince(start);

  if (output->Finish(failure, error) != 0) return 1;
  if (!options.Quiet) error << options.Program << ": " << FormatSummary(ticksRun, seconds, count, threads) << "\n";
  return 0;
}

}  // namespace

uint64_t TMemoryNeed::Total() const { return Programs * ProgramBytes + Worlds * WorldBytes; }

TMemoryNeed BatchMemoryNeed(const TSweep& sweep, uint64_t worldsAtOnce, uint64_t programs) {
  TMemoryNeed need;
  need.Worlds = worldsAtOnce;
  need.Programs = programs;
  // Each item's world runs on its own thread. Only the axes of parameters that size a world
  // are walked, every other at its first value, so a grid of any size is sized at once.
  const std::vector<TSweepAxis>& axes = sweep.Options().Sweep;
  std::vector<uint64_t> stride(axes.size(), 1);  // points between neighbours on an axis
  for (size_t a = axes.size(); a-- > 1;) stride[a - 1] = stride[a] * axes[a].Values.size();
  std::vector<size_t> sizing;
  uint64_t combinations = 1;
  for (size_t a = 0; a < axes.size(); ++a)
    if (SizesAWorld(axes[a].Name)) {
      sizing.push_back(a);
      combinations *= axes[a].Values.size();
    }
  for (uint64_t combination = 0; combination < combinations; ++combination) {
    uint64_t point = 0, rest = combination;
    for (size_t a : sizing) {
      point += rest % axes[a].Values.size() * stride[a];
      rest /= axes[a].Values.size();
    }
    const TParameters parameters = sweep.PointParameters(point);
    const uint64_t bytes = EstimateWorldBytes(parameters, 1);
    if (bytes > need.WorldBytes || point == 0) {
      need.WorldBytes = bytes;
      need.World = DescribeWorld(parameters);
    }
  }
  return need;
}

std::string MemoryRefusal(const std::string& program, const TMemoryNeed& need, std::optional<uint64_t> available,
                          const std::string& where) {
  if (!available || need.Total() <= *available) return {};
  const std::string worlds = need.Worlds > 1 ? std::to_string(need.Worlds) + " worlds at once, each up to " +
                                                   FormatBytes(need.WorldBytes) + ": "
                                             : "";
  return program + ": not enough memory: the run needs about " + FormatBytes(need.Total()) + " (" + worlds +
         need.World + "), but " + FormatBytes(*available) + " is available" + (where.empty() ? "" : " on " + where) +
         "; use fewer or smaller worlds";
}

std::string DescribeBatch(const TSweep& sweep, const TMemoryNeed& need, const std::string& workers) {
  const uint64_t seeds = sweep.Options().Seeds->Count();
  uint64_t ticks = 0;
  for (uint64_t point = 0; point < sweep.GridPoints(); ++point) ticks += sweep.Ticks(point * seeds) * seeds;
  return "would run " + std::to_string(sweep.ItemCount()) + " worlds (" + std::to_string(seeds) + " seeds at " +
         std::to_string(sweep.GridPoints()) + " grid point" + (sweep.GridPoints() == 1 ? "" : "s") + ") for " +
         std::to_string(ticks) + (ticks == 1 ? " tick" : " ticks") + " in all, " + std::to_string(need.Worlds) + " at once on " +
         std::to_string(need.Worlds) + " " + workers + (need.Worlds == 1 ? "" : "s") + "\n";
}

std::string FormatBytes(uint64_t bytes) {
  static const char* const units[] = {"bytes", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 999.5 && unit + 1 < std::size(units)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.*f %s", value < 9.995 ? 2 : value < 99.95 ? 1 : 0, value, units[unit]);
  return text;
}

std::optional<uint64_t> ReadAvailableMemory(std::istream& meminfo) {
  std::string name, unit;
  uint64_t value = 0;
  while (meminfo >> name >> value) {
    std::getline(meminfo, unit);
    if (name == "MemAvailable:") return unit.find("kB") != std::string::npos ? value * 1024 : value;
  }
  return std::nullopt;
}

std::optional<uint64_t> AvailableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  return meminfo ? ReadAvailableMemory(meminfo) : std::nullopt;
}

int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error,
                std::optional<uint64_t> availableMemory) {
  if (options.Seeds) return RunBatch(options, out, error, availableMemory);
  std::string doing = "starting";
  try {
    return RunOne(options, out, error, availableMemory, doing);
  } catch (const std::bad_alloc&) {
    // The world and the outputs are gone by now: their temporary files are removed.
    error << options.Program << ": not enough memory for " << doing << "\n";
    return 1;
  }
}

int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error) {
  return RunHeadless(options, out, error, AvailableMemory());
}

}  // namespace zemlix
