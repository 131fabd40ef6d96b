#include <gtest/gtest.h>

#include <algorithm>

#include "sim/Sweep.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::RunSim;
using testing::TScratchDirectory;
using testing::WriteFile;

std::optional<TRunnerOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::vector<const char*> argv{"zemlix-sim"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, errors;
  const TParseResult parsed = ParseRunnerOptions(static_cast<int>(argv.size()), argv.data(), out, errors);
  if (error) *error = errors.str();
  return parsed.Options;
}

// A count given twice, by a shortcut and by --set or the file, is refused unless both say
// the same; --set after the file wins, as documented.
TEST(OptionChecks, ACountGivenTwiceMustAgree) {
  TScratchDirectory scratch;
  WriteFile(scratch / "p.toml", "bugs = 60\nmutation_rate = 0.3\n");
  const std::string file = scratch / "p.toml";
  const struct {
    std::vector<std::string> Args;
    std::string Expected;  // the refusal, or empty: accepted with these counts
    int32_t Bugs = 0, Food = 0, Lifetime = 0;
  } cases[] = {
      {{"--bugs", "50", "--set", "bugs=60"}, "--bugs 50 and --set bugs=60: two values for bugs; give one of them"},
      {{"--set", "food=70", "--food", "80"}, "--food 80 and --set food=70: two values for food"},
      {{"--lifetime", "600", "--set", "lifetime=600", "--set", "lifetime=700"},
       "--lifetime 600 and --set lifetime=700: two values for lifetime"},
      {{"--bugs", "50", "--config", file}, "--bugs 50 and bugs = 60 in " + file + ": two values for bugs"},
      {{"--bugs", "60", "--config", file, "--set", "bugs=60", "--food", "50", "--set", "food=50"}, "", 60, 50, 2000},
      {{"--config", file, "--set", "bugs=70", "--lifetime", "900"}, "", 70, 40, 900},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[1]);
    std::string error;
    const auto options = Parse(c.Args, &error);
    if (!c.Expected.empty()) {
      EXPECT_FALSE(options);
      EXPECT_NE(error.find(c.Expected), std::string::npos) << error;
      EXPECT_EQ(RunSim(c.Args).Status, 2);
      continue;
    }
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->Parameters.Bugs, c.Bugs);
    EXPECT_EQ(options->Bugs, c.Bugs);
    EXPECT_EQ(options->Parameters.Food, c.Food);
    EXPECT_EQ(options->Parameters.Lifetime, c.Lifetime);
  }
  const auto overridden = Parse({"--config", file, "--set", "mutation_rate=0.1"});
  ASSERT_TRUE(overridden);
  EXPECT_EQ(overridden->Parameters.MutationRate, 0.1);
  std::string error;
  EXPECT_FALSE(Parse({"--seeds", "1-2", "--csv", "-", "--config", file, "--sweep", "mutation_rate=0.1,0.2"}, &error));
  EXPECT_NE(error.find("--sweep mutation_rate and --config " + file + ": both set mutation_rate"), std::string::npos)
      << error;
}

// Refusals show what was given: a real as the file wrote it (not rounded into a legal
// value), and control bytes from the command line or the file escaped, in one line.
TEST(OptionChecks, RefusalsShowTheValueAsGivenAndEscapeControlBytes) {
  TScratchDirectory scratch;
  const struct {
    std::string Config;  // a file's text, or none
    std::vector<std::string> Args;
    std::string Expected;
  } cases[] = {
      {"mutation_rate = 1.0000001\n", {}, "p.toml:1: mutation_rate must be a real from 0 to 1, not 1.0000001"},
      {"bugs = 1000.0\n", {}, "p.toml:1: bugs must be an integer from 5 to 100000, not 1000.0"},
      {"lifetime = 1e3\n", {}, "lifetime must be an integer from 500 to 10000, not 1000.0"},
      {"gene_range = 1e-300\n", {}, "gene_range must be a real from 0.001 to 1000, not 1e-300"},
      {"", {"--set", "mutation_rate=1.0000001"}, "mutation_rate must be a real from 0 to 1, not '1.0000001'"},
      {"", {"--set", "bugs=1000.0"}, "not '1000.0'"},
      {"\"\\u001b[2J\" = 1\n", {}, "p.toml:1: unknown parameter '\\x1B[2J'"},
      {"", {"--set", "mutation_rate=\x1b[31m\n"}, "--set mutation_rate=\\x1B[31m\\x0A: mutation_rate must be a real"},
      {"", {"--set", "\x1b=1"}, "--set \\x1B=1: unknown parameter '\\x1B'"},
      {"", {"--set", "\r"}, "--set \\r: \\r is not name=value"},
      {"", {"--seeds", "1-2", "--csv", "-", "--sweep", "bugs=10,\x07"}, "--sweep bugs=10,\\x07: bugs must be"},
      {"", {"--seeds", "1-2", "--csv", "-", "--sweep", "\x1b=1"}, "--sweep \\x1B=1: expected NAME=V1,V2"},
      {"", {"--bugs", "\x1b"}, "--bugs: must be an integer from 5 to 100000, not '\\x1B'"},
      {"", {"--\x1b[2J"}, "\\x1B[2J"},
      {"", {"--config", "no\x1b.toml"}, "--config: no\\x1B.toml: cannot open the file"},
      {"", {"--csv", "a\nb", "--plot", "./a\nb"}, "--csv and --plot: both name the file ./a\\x0Ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    std::vector<std::string> args{"--ticks", "1", "--quiet"};
    if (!c.Config.empty()) {
      WriteFile(scratch / "p.toml", c.Config);
      args.insert(args.end(), {"--config", scratch / "p.toml"});
    }
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const auto result = RunSim(args);
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Error.find(c.Expected), std::string::npos) << result.Error;
    // One line, and no control byte but its end.
    ASSERT_FALSE(result.Error.empty());
    EXPECT_EQ(result.Error.back(), '\n');
    EXPECT_TRUE(std::none_of(result.Error.begin(), result.Error.end() - 1,
                             [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        << result.Error;
  }
}

// A journal belongs to the options that decide its rows: every parameter, from --set, a
// shortcut or the file, is part of a sweep's identity, so a journal written under one
// value is refused under another.
TEST(OptionChecks, EveryParameterIsPartOfTheSweepsIdentity) {
  TScratchDirectory scratch;
  WriteFile(scratch / "p.toml", "eating_distance = 8\n");
  WriteFile(scratch / "defaults.toml", "eating_distance = 6\nmutation_rate = 0.05\n");
  const std::vector<std::string> base{"--seeds", "1-2", "--csv", "-", "--lifetime", "500", "--ticks", "1"};
  const auto identity = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    const auto options = Parse(args, &error);
    EXPECT_TRUE(options) << error;
    return options ? TSweep(*options).Identity() : "";
  };
  const std::string plain = identity({});
  for (const auto& changed : std::vector<std::vector<std::string>>{
           {"--set", "mutation_rate=0.2"}, {"--set", "hidden_layers=[4]"}, {"--set", "crossover_rate=0.5"},
           {"--set", "field_width=500"}, {"--config", scratch / "p.toml"}, {"--bugs", "31"}, {"--food", "41"},
           {"--sweep", "gene_range=2"}})
    EXPECT_NE(identity(changed), plain) << changed[1];
  // A default given explicitly decides nothing new.
  EXPECT_EQ(identity({"--config", scratch / "defaults.toml", "--set", "hidden_layers=[6]"}), plain);

  const auto batch = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"--seeds", "1-2", "--lifetime", "500", "--ticks", "1", "--quiet",
                                  "--csv",   scratch / "batch.csv", "--journal", scratch / "journal"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunSim(args);
  };
  ASSERT_EQ(batch({"--set", "mutation_rate=0.2"}).Status, 0);
  const auto resumed = batch({});
  EXPECT_EQ(resumed.Status, 2);
  EXPECT_NE(resumed.Error.find("was written for other options"), std::string::npos) << resumed.Error;
  EXPECT_EQ(batch({"--set", "mutation_rate=0.2"}).Status, 0);
}

}  // namespace
}  // namespace zemlix
