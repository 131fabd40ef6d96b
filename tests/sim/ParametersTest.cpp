#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "ai/PlainEvaluation.h"
#include "files/Dump.h"
#include "files/SavedState.h"
#include "sim/HeadlessHost.h"
#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;
using testing::WriteFile;

// The world's state without the parameters line: what the model did, not what it was told.
std::string StateOnly(const std::string& dump) {
  std::istringstream in(dump);
  std::string kept;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("parameters ", 0) != 0 && line.rfind("check ", 0) != 0) kept += line + "\n";
  return kept;
}

TEST(Parameters, TextIsReadBackAndBadValuesAreRefused) {
  TParameters parameters;
  for (const auto& [name, text, accepted] : std::vector<std::tuple<const char*, const char*, bool>>{
           {"mutation_rate", "0.2", true}, {"mutation_rate", "1", true}, {"mutation_rate", "1.5", false},
           {"mutation_rate", "-0.1", false}, {"mutation_rate", "nan", false}, {"mutation_rate", "", false},
           {"hidden_layers", "[8,4]", true}, {"hidden_layers", "3", true}, {"hidden_layers", "[]", true},
           {"hidden_layers", "[8,]", false}, {"hidden_layers", "[1,1,1,1,1]", false}, {"hidden_layers", "[65]", false},
           {"bugs", "100000", true}, {"bugs", "100001", false}, {"bugs", "40.0", false},
           {"field_width", "20000", true}, {"field_width", "49", false}, {"eating_distance", "7", true}}) {
    const TParameterInfo* info = FindParameter(name);
    ASSERT_TRUE(info) << name;
    EXPECT_EQ(SetParameterText(parameters, *info, text).empty(), accepted) << name << "=" << text;
  }
  // Every value written is read back to the same bits.
  for (const TParameterInfo& info : ParameterRegistry()) {
    TParameters copy;
    ASSERT_EQ(SetParameterText(copy, info, FormatParameter(parameters, info)), "") << info.Name;
    EXPECT_EQ(FormatParameter(copy, info), FormatParameter(parameters, info)) << info.Name;
  }
  EXPECT_EQ(NonDefaultParameters(TParameters()).size(), 0u);
}

TEST(Parameters, BadParametersStopWithStatus2NamingThemAndTheirLine) {
  TScratchDirectory scratch;
  for (const auto& [config, set, expected] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"mutation_rate = 0.1\nmutaton_rate = 0.2\n", "", "p.toml:2: unknown parameter 'mutaton_rate'"},
           {"bugs = 30\nhidden_layers = [6, 2.5]\n", "", "p.toml:2: hidden_layers must be a list"},
           {"turn_limit = true\n", "", "p.toml:1: turn_limit must be a real from 0 to 3, not a boolean"},
           {"food = 1.5\n", "", "p.toml:1: food must be an integer"},
           {"mutation_rate = \n", "", "p.toml:1: "},
           {"", "speed_cap=3", "--set speed_cap=3: speed_cap must be a real from 0 to 2"},
           {"", "nonsense", "--set nonsense: nonsense is not name=value"},
       }) {
    WriteFile(scratch / "p.toml", config);
    std::vector<std::string> args{"--ticks", "1", "--quiet"};
    if (!config.empty()) args.insert(args.end(), {"--config", scratch / "p.toml"});
    if (!set.empty()) args.insert(args.end(), {"--set", set});
    const auto result = RunSim(args);
    EXPECT_EQ(result.Status, 2) << expected;
    EXPECT_NE(result.Error.find(expected), std::string::npos) << result.Error;
    EXPECT_EQ(std::count(result.Error.begin(), result.Error.end(), '\n'), 1) << result.Error;
  }
}

// A configuration that is not a readable, small, flat file is refused with status 2 and a
// line naming the file: a folder or an empty name once ran the defaults, a device of zeros
// filled the memory, and dotted keys nested thousands deep overflowed the parser's stack.
// Dots and brackets in strings, quoted keys and comments do not count as nesting.
TEST(Parameters, ConfigurationsThatAreNotSmallFlatFilesAreRefused) {
  TScratchDirectory scratch;
  std::filesystem::create_directory(scratch.Path / "folder");
  const auto deep = [](const std::string& open, const std::string& middle, const std::string& close, int depth) {
    std::string text;
    for (int k = 0; k < depth; ++k) text += open;
    text += middle;
    for (int k = 0; k < depth; ++k) text += close;
    return text;
  };
  const std::string nested = "keys, tables or lists nested more than 8 levels deep";
  const struct {
    std::string Text;      // the file's contents; empty: the config is `Path`
    std::string Path;      // relative to the scratch folder
    std::string Expected;  // in the one line on standard error
  } cases[] = {
      {"", "folder", "--config: " + (scratch / "folder") + ": cannot read the file: it is a directory"},
      {"", "", "--config: the file name is empty"},
      {std::string((size_t{4} << 20) + 1, '\0'), "zeros.toml", "zeros.toml: the file is larger than 4 MiB"},
      {"bugs = 30\n\na" + deep(".a", "", "", 300000) + " = 1\n", "p.toml", "p.toml:3: " + nested},
      {"[a" + deep(".a", "", "", 300000) + "]\n", "p.toml", "p.toml:1: " + nested},
      {"[[a.a.a.a.a.a.a.a]]\n", "p.toml", "p.toml:1: " + nested},
      {"a = {b = 1, c" + deep(".c", "", "", 300000) + " = 2}\n", "p.toml", "p.toml:1: " + nested},
      {"a = [\n1,\n" + deep("[", "1", "]", 100000) + "]\n", "p.toml", "p.toml:3: " + nested},
      {"a = " + deep("{a = ", "1", "}", 100000) + "\n", "p.toml", "p.toml:1: " + nested},
      // Eight parts pass the scan; the parser then names the unknown table.
      {"a.a.a.a.a.a.a.a = 1\n", "p.toml", "p.toml:1: unknown parameter 'a'"},
      {"[\"a.a.a.a.a.a.a.a.a\"]\n", "p.toml", "p.toml:1: unknown parameter 'a.a.a.a.a.a.a.a.a'"},
      {"'x.x' = 0 # a.a.a.a.a.a.a.a.a.a [[[[[[[[[\n", "p.toml", "p.toml:1: unknown parameter 'x.x'"},
      {"s = \"\"\"a.a.\\\"\"\"\na.a.a.a.a.a.a.a.a.[[[[[[[[[\"\"\"\"\nbugs = 1.5\n", "p.toml",
       "p.toml:3: bugs must be an integer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    if (!c.Text.empty()) WriteFile(scratch / c.Path, c.Text);
    const auto result = RunSim({"--config", c.Path.empty() ? "" : scratch / c.Path, "--ticks", "1", "--quiet"});
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Error.find(c.Expected), std::string::npos) << result.Error.substr(0, 300);
    EXPECT_EQ(std::count(result.Error.begin(), result.Error.end(), '\n'), 1);
  }
  // A flat file with comments, quoted names and a list over several lines still loads.
  WriteFile(scratch / "flat.toml",
            "# a.b.c.d.e.f.g.h.i.j [[[[[[[[[[\n\"mutation_rate\" = 0.2 # {{{{{{{{{{\n"
            "hidden_layers = [\n  8, # a.a.a.a.a.a.a.a.a.a\n  4,\n]\n");
  const auto parsed = RunSim({"--config", scratch / "flat.toml", "--ticks", "0", "--dump", "-", "--quiet"});
  ASSERT_EQ(parsed.Status, 0) << parsed.Error;
  EXPECT_NE(parsed.Out.find("parameters mutation_rate=0.20000000000000001 hidden_layers=[8,4]"), std::string::npos)
      << parsed.Out.substr(0, 200);
}

// Each model parameter must reach the world: a changed value changes the run. Lifetime 500
// and 520 ticks take in a generation end, where the rates act.
TEST(Parameters, EveryModelParameterChangesTheRun) {
  const std::vector<std::string> base{"--seed", "5", "--lifetime", "500", "--ticks", "520", "--dump", "-", "--quiet"};
  const std::string defaults = StateOnly(RunSim(base).Out);
  for (const char* setting : {"crossover_rate=0.3", "mutation_rate=0.3", "gene_range=2", "hidden_layers=[4]",
                              "turn_limit=0.1", "speed_cap=1", "eating_distance=9", "field_width=500",
                              "field_height=300"}) {
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--set", setting});
    const auto result = RunSim(args);
    ASSERT_EQ(result.Status, 0) << setting << result.Error;
    const std::string name(setting, std::string_view(setting).find('=') + 1);
    EXPECT_NE(result.Out.find("parameters " + name), std::string::npos) << setting;
    EXPECT_NE(StateOnly(result.Out), defaults) << setting;
  }
  // Setting a default explicitly is the default run, without a parameters line.
  std::vector<std::string> args = base;
  args.insert(args.end(), {"--set", "mutation_rate=0.05", "--set", "hidden_layers=[6]"});
  EXPECT_EQ(RunSim(args).Out, RunSim(base).Out);
}

// A non-default run stopped and resumed from its dump is the uninterrupted run, and the
// dump's parameters cannot be contradicted; hidden layers wider than the batched layout
// take the plain path.
TEST(Parameters, NonDefaultRunResumesFromItsDump) {
  TScratchDirectory scratch;
  const std::vector<std::string> common{"--set", "mutation_rate=0.2", "--set", "hidden_layers=[9,3]",
                                        "--set", "eating_distance=8.5", "--quiet"};
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.end(), common.begin(), common.end());
    return RunSim(args);
  };
  ASSERT_EQ(run({"--seed", "9", "--lifetime", "500", "--ticks", "1300", "--dump", scratch / "whole.dump"}).Status, 0);
  ASSERT_EQ(run({"--seed", "9", "--lifetime", "500", "--ticks", "700", "--dump", scratch / "half.dump"}).Status, 0);
  const auto resumed = RunSim({"--load", scratch / "half.dump", "--ticks", "600", "--set", "mutation_rate=0.2",
                               "--dump", scratch / "resumed.dump", "--quiet"});
  ASSERT_EQ(resumed.Status, 0) << resumed.Error;
  EXPECT_EQ(ReadFile(scratch / "resumed.dump"), ReadFile(scratch / "whole.dump"));

  const auto conflict = RunSim({"--load", scratch / "half.dump", "--set", "mutation_rate=0.3", "--quiet"});
  EXPECT_EQ(conflict.Status, 2);
  EXPECT_NE(conflict.Error.find("mutation_rate"), std::string::npos) << conflict.Error;
  // The checksum covers the parameters line.
  std::string text = ReadFile(scratch / "half.dump");
  text.replace(text.find("eating_distance=8.5"), 19, "eating_distance=8.6");
  WriteFile(scratch / "edited.dump", text);
  const auto edited = RunSim({"--load", scratch / "edited.dump", "--quiet"});
  EXPECT_EQ(edited.Status, 2);
  EXPECT_NE(edited.Error.find("checksum"), std::string::npos) << edited.Error;
}

// A world past the window's slot counts: one slot per bug and pellet, the first 200
// networks drawn as a small world's are, and the batched blocks and the pellet grid that
// follows moved pellets give exactly what the plain evaluation and scans give.
TEST(Parameters, LargeWorldKeepsTheSlotRuleAndMatchesThePlainPath) {
  TParameters parameters;
  parameters.Bugs = 450;
  parameters.Food = 1100;
  parameters.FieldWidth = 1300;
  parameters.FieldHeight = 900;
  parameters.Lifetime = 500;
  const auto runDump = [&parameters](bool plain) {
    SetPlainEvaluation(plain);
    THeadlessHost host(parameters, false);
    TWorld world(host);
    world.Parameters = parameters;
    world.Random.Seed = 11;
    world.BuildPopulation();
    EXPECT_EQ(world.Creatures.size(), 450u);
    EXPECT_EQ(world.Food.size(), 1100u);
    for (int tick = 0; tick < 505; ++tick) world.Tick();
    SetPlainEvaluation(false);
    return FormatDump(world, 505, parameters.Lifetime);
  };
  const std::string fast = runDump(false);
  EXPECT_EQ(fast, runDump(true));

  TParameters small;
  THeadlessHost smallHost(small, false), largeHost(parameters, false);
  TWorld smallWorld(smallHost), largeWorld(largeHost);
  for (TWorld* world : {&smallWorld, &largeWorld}) {
    world->Parameters = world == &smallWorld ? small : parameters;
    world->Random.Seed = 11;
    world->BuildPopulation();
  }
  ASSERT_EQ(smallWorld.Nets.size(), 200u);
  ASSERT_EQ(smallWorld.Food.size(), 100u);
  TWeightList a(smallWorld.GenomeLength), b(largeWorld.GenomeLength);
  for (size_t i = 0; i < 200; ++i) {
    smallWorld.Nets[i].GetWeights(a);
    largeWorld.Nets[i].GetWeights(b);
    ASSERT_EQ(a, b) << "net " << i;
  }
}

// Threads share a tick's blocks of bugs; any number gives the same world, across a
// generation end and with a final block that is not full, and with few enough pellets that
// the grid follows them as they move. On the crowded field about one
// pellet lies within reach of each bug, so pellets are eaten, moved next to later bugs and
// eaten again within one tick: there the plain evaluation and scans judge every thread count.
TEST(Parameters, ThreadCountsGiveTheSameLargeWorld) {
  struct TCase {
    int32_t Bugs, Food, Side, Lifetime, Ticks;
    bool AgainstPlain;
  };
  for (const TCase& sized : {TCase{2450, 2000, 2800, 500, 505, false}, TCase{2100, 1100, 300, 500, 40, true},
                             TCase{450, 300, 600, 500, 505, false}}) {
    TParameters parameters;
    parameters.Bugs = sized.Bugs;
    parameters.Food = sized.Food;
    parameters.FieldWidth = parameters.FieldHeight = sized.Side;
    parameters.Lifetime = sized.Lifetime;
    const auto runDump = [&](int32_t threads, bool plain) {
      SetPlainEvaluation(plain);
      THeadlessHost host(parameters, false);
      TWorld world(host);
      world.Parameters = parameters;
      world.Threads = threads;
      world.Random.Seed = 4;
      world.BuildPopulation();
      for (int tick = 0; tick < sized.Ticks; ++tick) world.Tick();
      SetPlainEvaluation(false);
      return FormatDump(world, sized.Ticks, parameters.Lifetime);
    };
    const std::string first = sized.AgainstPlain ? runDump(1, true) : runDump(1, false);
    for (int32_t threads : {1, 2, 3}) {
      if (threads == 1 && !sized.AgainstPlain) continue;
      EXPECT_TRUE(runDump(threads, false) == first) << sized.Bugs << " bugs, " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace zemlix
