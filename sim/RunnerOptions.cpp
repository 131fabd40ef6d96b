#include "sim/RunnerOptions.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include "base/Random.h"
#include "base/Version.h"
#include "files/LineReader.h"
#include "files/OutputFile.h"
#include "sim/ParameterFile.h"
#include "sim/Sweep.h"
#include "world/Settings.h"
#include "world/World.h"

namespace zemlix {
namespace {

// Accepts a plain decimal integer within [minimum, maximum]; anything else gets a message
// that names the range, whatever was wrong with it.
CLI::Validator IntegerIn(uint64_t minimum, uint64_t maximum) {
  const std::string range = maximum == std::numeric_limits<uint64_t>::max()
                                ? "an integer of at least " + std::to_string(minimum)
                                : "an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum);
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        uint64_t value = 0;
        if (!ParseInteger(text, value) || value < minimum || value > maximum)
          return "must be " + range + ", not '" + text + "'";
        // Handed on in plain decimal: the conversion that follows would read "0500" as octal.
        text = std::to_string(value);
        return {};
      },
      std::string());  // each option's own description already names its range
}

// "A-B" with A <= B, or a single seed "A".
std::optional<TSeedRange> ParseSeedRange(std::string_view text) {
  TSeedRange range;
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    if (!ParseInteger(text, range.First)) return std::nullopt;
    range.Last = range.First;
    return range;
  }
  if (!ParseInteger(text.substr(0, dash), range.First) || !ParseInteger(text.substr(dash + 1), range.Last) ||
      range.First > range.Last)
    return std::nullopt;
  return range;
}

// A shortcut for the parameter `name`, described and bounded by the registry.
std::string Describe(const char* what, const char* name) {
  const TParameterInfo& info = *FindParameter(name);
  return std::string(what) + ", " + std::to_string(static_cast<int64_t>(info.Minimum)) + " to " +
         std::to_string(static_cast<int64_t>(info.Maximum)) + " (default " + DescribeDefault(info) +
         "; the parameter " + name + ")";
}

CLI::Validator Bounds(const char* name) {
  const TParameterInfo& info = *FindParameter(name);
  return IntegerIn(static_cast<uint64_t>(info.Minimum), static_cast<uint64_t>(info.Maximum));
}

}  // namespace

std::string ParseSweep(const std::string& sweep, const std::vector<TSweepAxis>& earlier, TSweepAxis& axis) {
  const size_t equals = sweep.find('=');
  const std::string name = sweep.substr(0, std::min(equals, sweep.size()));
  const TParameterInfo* info = FindParameter(name);
  const std::string option = "--sweep " + Shown(sweep) + ": ";
  if (equals == std::string::npos || !info) return option + "expected NAME=V1,V2,... with a known parameter";
  for (const TSweepAxis& other : earlier)
    if (other.Name == name) return "--sweep " + name + ": given twice";
  axis = {name, {}};
  std::vector<std::string> parsed;  // each value as the registry reads it back
  std::string value;
  int depth = 0;
  const auto add = [&]() -> std::string {
    TParameters check;
    if (const std::string reason = SetParameterText(check, *info, value); !reason.empty())
      return option + name + " " + Shown(reason);
    const std::string same = FormatParameter(check, *info);
    for (size_t v = 0; v < parsed.size(); ++v)
      if (parsed[v] == same)
        return option + name + " " + Shown(value) + " is given twice" +
               (axis.Values[v] == value ? "" : " (as " + Shown(axis.Values[v]) + " before)");
    parsed.push_back(same);
    axis.Values.push_back(std::exchange(value, {}));
    return {};
  };
  const auto unpaired = [&] { return option + "the brackets in '" + Shown(value) + "' do not pair up"; };
  for (size_t k = equals + 1; k < sweep.size(); ++k) {
    const char c = sweep[k];
    if (c == ',' && depth == 0) {
      if (std::string refused = add(); !refused.empty()) return refused;
      continue;
    }
    value += c;
    depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    if (depth < 0) return unpaired();
  }
  if (depth != 0) return unpaired();
  return add();
}

std::string BrainBugRefusal(int32_t bug, int32_t bugs) {
  return "--brain-bug: must be a bug from 0 to " + std::to_string(bugs - 1) + " (the world has " +
         std::to_string(bugs) + " bugs), not " + std::to_string(bug);
}

int FinishStandardOutput(std::ostream& out, std::ostream& error, int failure, const std::string& program) {
  if (out) out.flush();
  if (out) return 0;
  if (failure == 0) failure = errno;
  error << program << ": cannot write standard output: "
        << (failure != 0 ? std::strerror(failure) : "the data could not be written") << "\n";
  return 1;
}

TParseResult ParseRunnerOptions(int argc, const char* const argv[], std::ostream& out, std::ostream& error,
                                const std::string& program) {
  TRunnerOptions options;
  options.Program = program;
  options.Bugs = BugCountRange.Default;
  options.Food = FoodCountRange.Default;
  options.Lifetime = LifetimeRange.Default;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  options.Jobs = cores;
  options.Threads = cores;

  CLI::App app("Runs the Zemlix world without a window, tick by tick, as fast as the machine allows.",
               program);
  std::optional<uint32_t> seed;
  std::string seeds;
  app.add_option("--seed", seed, "generator seed, 0 to 4294967295 (default: from the clock, as the window does)")
      ->transform(IntegerIn(0, std::numeric_limits<uint32_t>::max()));
  CLI::Option* bugs = app.add_option("--bugs", options.Bugs, Describe("number of bugs", "bugs"))->transform(Bounds("bugs"));
  CLI::Option* food =
      app.add_option("--food", options.Food, Describe("number of food pellets", "food"))->transform(Bounds("food"));
  CLI::Option* lifetime =
      app.add_option("--lifetime", options.Lifetime, Describe("ticks per generation", "lifetime"))->transform(Bounds("lifetime"));
  std::string config;
  std::vector<std::string> settings;
  CLI::Option* configOption = app.add_option("--config", config, "read experiment parameters from a TOML file of name = value lines (see Parameters below)")
      ->type_name("FILE");
  app.add_option("--set", settings, "set one experiment parameter, e.g. mutation_rate=0.2 or hidden_layers=[8,4]; repeatable, wins over --config; with --bugs, --food or --lifetime only the same value")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  CLI::Option* ticks = app.add_option("--ticks", options.Ticks, "ticks to run, 0 or more (default: one generation, the lifetime)")
      ->transform(IntegerIn(0, std::numeric_limits<uint64_t>::max()));
  CLI::Option* generations =
      app.add_option("--generations", options.Generations, "run until N generations have ended, 1 or more (instead of --ticks)")
          ->type_name("N")
          ->transform(IntegerIn(1, std::numeric_limits<uint32_t>::max()));
  CLI::Option* dump = app.add_option("--dump", options.DumpPath, "write the state after the last tick to FILE, or - for standard output")
      ->type_name("FILE|-");
  app.add_option("--dump-every", options.DumpEvery, "also append the state after every K-th tick, 1 or more: each is a checkpoint in FILE to resume from")
      ->type_name("K")
      ->transform(IntegerIn(1, std::numeric_limits<uint64_t>::max()));
  app.add_flag("--record-io", options.RecordIO,
               "record every network's inputs and outputs in NN.log, as the window's check box does");
  CLI::Option* csv = app.add_option("--csv", options.CsvPath,
                 "write one row per generation end (generation,average,best,worst,total) to FILE, or - for "
                 "standard output")
      ->type_name("FILE|-");
  CLI::Option* plot = app.add_option("--plot", options.PlotPath, "draw average and best fitness per generation as an SVG picture in FILE; for a batch, the mean average fitness of each grid point across the seeds with its 95 % confidence band")
      ->type_name("FILE|-");
  CLI::Option* lineage = app.add_option("--lineage", options.LineagePath,
                 "write one row per child per generation end (generation,child,parent_a,parent_b,"
                 "crossover_point,mutations) to FILE, or - for standard output; the dump then carries the "
                 "current generation's parents")
      ->type_name("FILE|-");
  CLI::Option* brain = app.add_option("--brain", options.BrainPath,
                 "draw one bug's network (see --brain-bug) as an SVG picture in FILE: its inputs, hidden layers "
                 "and impulses, edges coloured by the sign of their weight and wider by its size, nodes filled by "
                 "their activations in the last tick run; with --load and no tick run, drawn without activations")
      ->type_name("FILE|-");
  CLI::Option* brainBug = app.add_option("--brain-bug", options.BrainBug,
                 "the bug --brain draws, from 0 to the number of bugs less one (default 0)")
      ->type_name("N")
      ->transform(IntegerIn(0, std::numeric_limits<int32_t>::max()));
  CLI::Option* load = app.add_option("--load", options.LoadPath,
                 "continue from a state written by --dump (the last one in the file); --ticks and --generations "
                 "count from there")
      ->type_name("FILE");
  app.add_option("--seeds", seeds, "run a batch: one independent world per seed from A to B, rows in --csv led by the seed")
      ->type_name("A-B")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            if (ParseSeedRange(text)) return {};
            return "must be a range A-B of seeds from 0 to 4294967295 with A <= B, not '" + text + "'";
          },
          ""));
  std::vector<std::string> sweeps;
  app.add_option("--sweep", sweeps, "with --seeds: run every seed for every value of a parameter, e.g. mutation_rate=0.01,0.05,0.2; repeatable, the grid is the product; with lifetime swept, each point runs its own generations (--generations N: N of its lifetimes; --ticks: the same ticks, so more generations where the lifetime is shorter)")
      ->type_name("NAME=V1,V2,...")
      ->allow_extra_args(false);
  CLI::Option* summary = app.add_option("--summary", options.SummaryPath,
                 "with --seeds: write per grid point and generation the mean, standard deviation and 95 % confidence interval of the average fitness across seeds to FILE")
      ->type_name("FILE|-");
  CLI::Option* jobs = app.add_option("--jobs", options.Jobs,
                 "threads for a batch, 1 to 1024 (default " + std::to_string(cores) + ", the number of cores)")
      ->type_name("N")
      ->transform(IntegerIn(1, 1024));
  CLI::Option* threads = app.add_option("--threads", options.Threads,
                 "threads sharing each tick of one world, 1 to 1024 (default " + std::to_string(cores) +
                     ", the number of cores); used from " + std::to_string(TWorld::ParallelBugs) +
                     " bugs on, with the same results for any number")
      ->type_name("N")
      ->transform(IntegerIn(1, 1024));
  CLI::Option* journal = app.add_option("--journal", options.JournalPath,
                 "keep every finished world of a batch in FILE as it ends; run the same command again to "
                 "do only what is missing")
      ->type_name("FILE");
  app.add_flag("--quiet", options.Quiet, "no speed summary and no progress bar on standard error");
  app.add_flag("--profile", options.Profile,
               "after the run, print on standard error where the ticks' processor time went: the serial "
               "sections, each thread's work and waits, and what that predicts for 64 cores");
  app.add_flag("--dry-run", options.DryRun,
               "print what would run and the memory it would take, then exit without running or writing anything");
  app.set_version_flag("--version", program + " " + Version, "print the version and exit");
  app.footer("\nParameters (in a --config file or with --set; the defaults are the model's):\n" + DescribeParameters());

  const std::string networkLog = "NN.log", none;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    errno = 0;  // a failed write leaves its reason here
    out << app.help();
    return {std::nullopt, FinishStandardOutput(out, error, 0, program)};
  } catch (const CLI::CallForVersion& version) {
    errno = 0;
    out << version.what() << "\n";
    return {std::nullopt, FinishStandardOutput(out, error, 0, program)};
  } catch (const CLI::ParseError& e) {
    error << program << ": " << Shown(e.what()) << "\n";
    return {std::nullopt, 2};
  }

  using TConflicts = std::initializer_list<std::pair<bool, const char*>>;
  const auto fail = [&error, &program](const std::string& message) {
    error << program << ": " << message << "\n";
    return TParseResult{std::nullopt, 2};
  };
  // The file first, then every --set in order: the last word wins. A shortcut and a --set
  // or the file may name the same count only with the same value, as neither is the
  // obvious winner.
  TParameters& parameters = options.Parameters;
  std::vector<std::string> fromFile;
  if (!config.empty()) {
    const std::string reason = ApplyParameterFile(config, parameters, &fromFile);
    if (!reason.empty()) return fail("--config: " + reason);
  }
  struct TShortcut {
    const CLI::Option* Option;
    const char* Name;
    int32_t Value;
    int32_t TParameters::*Field;
  };
  const TShortcut shortcuts[] = {{bugs, "bugs", options.Bugs, &TParameters::Bugs},
                                 {food, "food", options.Food, &TParameters::Food},
                                 {lifetime, "lifetime", options.Lifetime, &TParameters::Lifetime}};
  for (const TShortcut& shortcut : shortcuts) {
    if (shortcut.Option->count() == 0) continue;
    if (std::find(fromFile.begin(), fromFile.end(), shortcut.Name) != fromFile.end() &&
        parameters.*shortcut.Field != shortcut.Value)
      return fail(shortcut.Option->get_name() + " " + std::to_string(shortcut.Value) + " and " + shortcut.Name +
                  " = " + std::to_string(parameters.*shortcut.Field) + " in " + Shown(config) +
                  ": two values for " + shortcut.Name + "; give one of them");
    parameters.*shortcut.Field = shortcut.Value;
  }
  std::vector<std::pair<std::string, std::string>> fromSettings;  // name, setting
  for (const std::string& setting : settings) {
    std::vector<std::string> name;
    const std::string reason = ApplyParameterSetting(setting, parameters, &name);
    if (!reason.empty()) return fail("--set " + Shown(setting) + ": " + reason);
    for (const TShortcut& shortcut : shortcuts)
      if (shortcut.Option->count() > 0 && name[0] == shortcut.Name && parameters.*shortcut.Field != shortcut.Value)
        return fail(shortcut.Option->get_name() + " " + std::to_string(shortcut.Value) + " and --set " +
                    Shown(setting) + ": two values for " + shortcut.Name + "; give one of them");
    fromSettings.emplace_back(name[0], setting);
  }
  options.GivenParameters = fromFile;
  for (const auto& [name, setting] : fromSettings) options.GivenParameters.push_back(name);
  options.Bugs = parameters.Bugs;
  options.Food = parameters.Food;
  options.Lifetime = parameters.Lifetime;
  for (const auto& [option, path] : {std::pair{dump, &options.DumpPath}, {csv, &options.CsvPath},
                                     {configOption, &config},
                                     {plot, &options.PlotPath}, {lineage, &options.LineagePath},
                                     {load, &options.LoadPath},
                                     {brain, &options.BrainPath},
                                     {summary, &options.SummaryPath},
                                     {journal, &options.JournalPath}})
    if (option->count() > 0 && path->empty()) return fail(option->get_name() + ": the file name is empty");
  if (options.DumpEvery > 0 && options.DumpPath.empty()) return fail("--dump-every: needs --dump");
  // Whether the bug lies within the world is checked once its count is known (a loaded
  // world's once the file is read), before anything runs.
  if (brainBug->count() > 0 && options.BrainPath.empty()) return fail("--brain-bug: needs --brain");
  if (jobs->count() > 0 && seeds.empty()) return fail("--jobs: only a batch (--seeds) runs on several threads");
  if (threads->count() > 0 && !seeds.empty()) return fail("--threads: a batch runs each world on one thread (see --jobs)");
  if (options.Profile && !seeds.empty()) return fail("--profile: only a single world is profiled, not a batch (--seeds)");
  if (!options.JournalPath.empty() && seeds.empty()) return fail("--journal: only a batch (--seeds) keeps a journal");
  if (!sweeps.empty() && seeds.empty()) return fail("--sweep: needs --seeds, the seeds every grid point runs");
  if (!options.SummaryPath.empty() && seeds.empty()) return fail("--summary: only a batch (--seeds) has one");
  for (const std::string& sweep : sweeps) {
    TSweepAxis axis;
    if (const std::string refused = ParseSweep(sweep, options.Sweep, axis); !refused.empty()) return fail(refused);
    // A swept parameter takes each of its values in turn: one set besides would be lost.
    for (const auto& [name, setting] : fromSettings)
      if (name == axis.Name)
        return fail("--sweep " + axis.Name + " and --set " + Shown(setting) + ": both set " + name + "; give one of them");
    if (std::find(fromFile.begin(), fromFile.end(), axis.Name) != fromFile.end())
      return fail("--sweep " + axis.Name + " and --config " + Shown(config) + ": both set " + axis.Name + "; give one of them");
    options.Sweep.push_back(std::move(axis));
  }
  if (options.JournalPath == "-") return fail("--journal: needs a file that can be read again, not standard output");
  if (ticks->count() > 0 && generations->count() > 0) return fail("--ticks and --generations: give one of them");
  const int toStandardOutput =
      (options.DumpPath == "-") + (options.CsvPath == "-") + (options.PlotPath == "-") + (options.SummaryPath == "-") +
      (options.LineagePath == "-") + (options.BrainPath == "-");
  if (toStandardOutput > 1)
    return fail("--dump, --csv, --plot, --summary, --lineage and --brain: only one of them can write to standard output (-)");
  // Two outputs on one file would write over each other; the loaded file may be replaced
  // only by the dump, which reads it completely first.
  const std::pair<const char*, const std::string*> outputs[] = {{"--dump", &options.DumpPath},
                                                                {"--csv", &options.CsvPath},
                                                                {"--plot", &options.PlotPath},
                                                                {"--load", &options.LoadPath},
                                                                {"--journal", &options.JournalPath},
                                                                {"--summary", &options.SummaryPath},
                                                                {"--lineage", &options.LineagePath},
                                                                {"--brain", &options.BrainPath},
                                                                {"--record-io", options.RecordIO ? &networkLog : &none}};
  for (size_t i = 0; i < std::size(outputs); ++i)
    for (size_t k = i + 1; k < std::size(outputs); ++k)
      if (SameOutputFile(*outputs[i].second, *outputs[k].second) &&
          !(outputs[i].first == std::string_view("--dump") && outputs[k].first == std::string_view("--load")))
        return fail(std::string(outputs[i].first) + " and " + outputs[k].first + ": both name " +
                    (*outputs[k].second == "-" ? std::string("standard output") : "the file " + Shown(*outputs[k].second)));
  if (!options.LoadPath.empty()) {
    // The loaded state carries its own seed and starting conditions.
    for (const auto& [given, name] : TConflicts{{seed.has_value(), "--seed"},
                                                {!seeds.empty(), "--seeds"},
                                                {bugs->count() > 0, "--bugs"},
                                                {food->count() > 0, "--food"},
                                                {lifetime->count() > 0, "--lifetime"}})
      if (given) return fail(std::string("--load: cannot be combined with ") + name + ", the file sets it");
  }
  if (!seeds.empty()) {
    if (seed) return fail("--seeds: cannot be combined with --seed");
    if (options.CsvPath.empty()) return fail("--seeds: needs --csv, where the rows of every seed go");
    // One file per run: a batch has no single dump, plot or NN.log to write.
    for (const auto& [given, name] : TConflicts{{!options.DumpPath.empty(), "--dump"},
                                                {options.RecordIO, "--record-io"},
                                                {!options.BrainPath.empty(), "--brain"}})
      if (given) return fail(std::string("--seeds: cannot be combined with ") + name);
    options.Seeds = ParseSeedRange(seeds);
    if (const std::string refused = BatchSizeRefusal(*options.Seeds, options.Sweep); !refused.empty())
      return fail(refused);
  }
  options.Seed = seed ? *seed : SeedFromClock();
  return {options, 0};
}

}  // namespace zemlix
