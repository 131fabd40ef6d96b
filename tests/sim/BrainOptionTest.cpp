#include <gtest/gtest.h>

#include <filesystem>

#include "tests/sim/SimTestSupport.h"

namespace zemlix {
namespace {

using testing::ReadFile;
using testing::RunSim;
using testing::TScratchDirectory;

// A bug outside the world, or --brain where it cannot apply, is refused before anything
// runs or is written; a bug inside it is drawn.
TEST(BrainOption, RefusesWhatItCannotDrawAndDrawsTheRest) {
  TScratchDirectory scratch;
  const std::string world = scratch / "w.world", svg = scratch / "b.svg";
  ASSERT_EQ(RunSim({"--seed", "3", "--bugs", "12", "--ticks", "5", "--dump", world, "--quiet"}).Status, 0);
  const struct {
    std::vector<std::string> Args;
    std::string Refusal;  // empty: drawn, and the picture names the bug
    std::string Bug = "";
  } cases[] = {
      {{"--brain", svg, "--brain-bug", "30"}, "--brain-bug: must be a bug from 0 to 29 (the world has 30 bugs), not 30"},
      {{"--bugs", "5", "--brain", svg, "--brain-bug", "5"}, "from 0 to 4 (the world has 5 bugs), not 5"},
      {{"--load", world, "--brain", svg, "--brain-bug", "12"}, "from 0 to 11 (the world has 12 bugs), not 12"},
      {{"--brain-bug", "3"}, "--brain-bug: needs --brain"},
      {{"--brain", svg, "--brain-bug", "-1"}, "--brain-bug"},
      {{"--brain", svg, "--seeds", "1-2", "--csv", scratch / "c.csv"}, "--seeds: cannot be combined with --brain"},
      {{"--brain", svg, "--plot", svg}, "--plot and --brain: both name"},
      {{"--brain", svg, "--brain-bug", "29", "--ticks", "2"}, "", "bug 29, generation 0"},
      {{"--load", world, "--brain", svg, "--brain-bug", "11", "--ticks", "0"}, "", "bug 11, generation 0"},
      {{"--brain", svg, "--ticks", "1"}, "", "bug 0, generation 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args.back());
    std::filesystem::remove(svg);
    const testing::TRunResult run = RunSim(c.Args);
    if (!c.Refusal.empty()) {
      EXPECT_EQ(run.Status, 2);
      EXPECT_NE(run.Error.find(c.Refusal), std::string::npos) << run.Error;
      EXPECT_FALSE(std::filesystem::exists(svg));
      continue;
    }
    EXPECT_EQ(run.Status, 0) << run.Error;
    EXPECT_EQ(run.Out, "");  // no generation lines: the picture is the output
    EXPECT_NE(ReadFile(svg).find("<title>Zemlix: " + c.Bug + "</title>"), std::string::npos);
  }
}

// The last tick's activations where it ran one; a loaded world not run has none to show.
TEST(BrainOption, DrawsTheLastTicksActivationsWhereThereIsOne) {
  TScratchDirectory scratch;
  const std::string world = scratch / "w.world", svg = scratch / "b.svg";
  ASSERT_EQ(RunSim({"--seed", "3", "--ticks", "4", "--dump", world, "--brain", svg, "--brain-bug", "7"}).Status, 0);
  const std::string ran = ReadFile(svg);
  EXPECT_NE(ran.find("in the last tick"), std::string::npos);
  EXPECT_EQ(ran.find("not known"), std::string::npos);
  ASSERT_EQ(RunSim({"--load", world, "--ticks", "0", "--brain", svg, "--brain-bug", "7"}).Status, 0);
  const std::string loaded = ReadFile(svg);
  EXPECT_NE(loaded.find("activations not known"), std::string::npos);
  // The same network either way: the edges agree to the byte.
  const auto edges = [](const std::string& text) {
    return text.substr(text.find("<line class=\"edge\""), text.find("</g>") - text.find("<line class=\"edge\""));
  };
  EXPECT_EQ(edges(ran), edges(loaded));
  // Keeping the activations changed nothing in the run.
  ASSERT_EQ(RunSim({"--seed", "3", "--ticks", "4", "--dump", scratch / "plain.world"}).Status, 0);
  EXPECT_EQ(ReadFile(world), ReadFile(scratch / "plain.world"));
}

}  // namespace
}  // namespace zemlix
