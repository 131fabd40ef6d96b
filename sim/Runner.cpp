#include "sim/Runner.h"

#include <cstdio>
#include <fstream>

#include "base/Errors.h"
#include "sim/Dump.h"
#include "sim/HeadlessHost.h"

namespace zemlix {

int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error) {
  THeadlessHost host(options.Bugs, options.Food, options.Lifetime, options.RecordIO);
  TWorld world(host);
  world.Random.Seed = options.Seed;

  std::ofstream dumpFile;
  std::ostream* dump = nullptr;
  if (options.DumpPath == "-") {
    dump = &out;
  } else if (!options.DumpPath.empty()) {
    dumpFile.open(options.DumpPath, std::ios::binary | std::ios::trunc);
    if (!dumpFile) {
      error << "zemlix-sim: cannot write " << options.DumpPath << "\n";
      return 1;
    }
    dump = &dumpFile;
  }
  if (!dump) {
    world.OnGenerationEnd = [&out](const TGenerationReport& report) {
      char line[160];
      std::snprintf(line, sizeof line, "generation %d average %.4f best %d\n", report.Generation,
                    report.AverageFitness, report.BestFitness);
      out << line << std::flush;
    };
  }

  try {
    if (options.RecordIO) world.Log.WriteStarted();
    world.BuildPopulation();
    for (uint64_t tick = 1; tick <= options.Ticks; ++tick) {
      world.Tick();
      if (dump && options.DumpEvery > 0 && tick % options.DumpEvery == 0 && tick != options.Ticks)
        *dump << FormatDump(world, tick, options.Lifetime);
    }
    if (dump) *dump << FormatDump(world, options.Ticks, options.Lifetime) << std::flush;
    if (options.RecordIO) world.Log.WriteClosed();
  } catch (const EFatalError& e) {
    error << e.what() << "\n";
    return 1;
  } catch (const EInOutError& e) {
    error << "zemlix-sim: NN.log: " << e.what() << "\n";
    return 1;
  }
  if (dump && !*dump) {
    error << "zemlix-sim: cannot write " << options.DumpPath << "\n";
    return 1;
  }
  return 0;
}

}  // namespace zemlix
