#include "sim/RunnerOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <limits>

#include "base/Random.h"
#include "world/Settings.h"

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
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (text.empty() || error != std::errc() || stop != end || value < minimum || value > maximum)
          return "must be " + range + ", not '" + text + "'";
        return {};
      },
      range);
}

std::string Describe(const char* what, const TSettingRange& range) {
  return std::string(what) + ", " + std::to_string(range.Minimum) + " to " + std::to_string(range.Maximum) +
         " (default " + std::to_string(range.Default) + ")";
}

}  // namespace

TParseResult ParseRunnerOptions(int argc, const char* const argv[], std::ostream& out, std::ostream& error) {
  TRunnerOptions options;
  options.Bugs = BugCountRange.Default;
  options.Food = FoodCountRange.Default;
  options.Lifetime = LifetimeRange.Default;

  CLI::App app("Runs the Zemlix world without a window, tick by tick, as fast as the machine allows.",
               "zemlix-sim");
  std::optional<uint32_t> seed;
  std::optional<uint64_t> ticks;
  app.add_option("--seed", seed, "generator seed, 0 to 4294967295 (default: from the clock, as the window does)")
      ->check(IntegerIn(0, std::numeric_limits<uint32_t>::max()));
  app.add_option("--bugs", options.Bugs, Describe("number of bugs", BugCountRange))
      ->check(IntegerIn(BugCountRange.Minimum, BugCountRange.Maximum));
  app.add_option("--food", options.Food, Describe("number of food pellets", FoodCountRange))
      ->check(IntegerIn(FoodCountRange.Minimum, FoodCountRange.Maximum));
  app.add_option("--lifetime", options.Lifetime, Describe("ticks per generation", LifetimeRange))
      ->check(IntegerIn(LifetimeRange.Minimum, LifetimeRange.Maximum));
  app.add_option("--ticks", ticks, "ticks to run, 0 or more (default: one generation, the lifetime)")
      ->check(IntegerIn(0, std::numeric_limits<uint64_t>::max()));
  app.add_option("--dump", options.DumpPath, "write the state after the last tick to FILE, or - for standard output")
      ->type_name("FILE|-");
  app.add_option("--dump-every", options.DumpEvery, "also write the state after every K-th tick, 1 or more")
      ->type_name("K")
      ->check(IntegerIn(1, std::numeric_limits<uint64_t>::max()));
  app.add_flag("--record-io", options.RecordIO,
               "record every network's inputs and outputs in NN.log, as the window's check box does");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return {std::nullopt, 0};
  } catch (const CLI::ParseError& e) {
    error << "zemlix-sim: " << e.what() << "\n";
    return {std::nullopt, 2};
  }
  if (options.DumpEvery > 0 && options.DumpPath.empty()) {
    error << "zemlix-sim: --dump-every: needs --dump\n";
    return {std::nullopt, 2};
  }
  options.Seed = seed ? *seed : SeedFromClock();
  options.Ticks = ticks ? *ticks : static_cast<uint64_t>(options.Lifetime);
  return {options, 0};
}

}  // namespace zemlix
