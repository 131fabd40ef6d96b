#include "files/Dump.h"

#include <algorithm>
#include <cinttypes>

#include "files/Checksum.h"

namespace zemlix {
namespace {

void AppendReal(std::string& out, double value) {
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, " %.17g", value);
  out.append(buffer, length);
}

void AppendInteger(std::string& out, long long value) {
  out += ' ';
  out += std::to_string(value);
}

}  // namespace

std::string FormatHistory(std::span<const TGenerationReport> history) {
  std::string out;
  for (const TGenerationReport& report : history) {
    char line[160];
    std::snprintf(line, sizeof line, "history %d %.17g %d %d %" PRId64 "\n", report.Generation, report.AverageFitness,
                  report.BestFitness, report.WorstFitness, report.TotalFitness);
    out += line;
  }
  return out;
}

std::string FormatDump(const TWorld& world, uint64_t tick, int32_t lifetime,
                       std::span<const TGenerationReport> history, bool withParentage) {
  std::string out = FormatHistory(history);
  out.reserve(out.size() + world.BugSlots * 1000);
  // The state line holds the counts and the lifetime; the host answers the field.
  TParameters recorded = world.Parameters;
  recorded.FieldWidth = world.Host.FieldWidth();
  recorded.FieldHeight = world.Host.FieldHeight();
  const std::vector<std::string> changed = ExperimentParameters(recorded);
  if (!changed.empty()) {
    out += "parameters";
    for (const std::string& entry : changed) out += ' ' + entry;
    out += '\n';
  }
  char head[512];
  std::snprintf(head, sizeof head,
                "state tick=%" PRIu64 " generation=%d ttl=%d total=%" PRId64 " average=%.17g selfood=%d seed=%u bugs=%d "
                "food=%d lifetime=%d\n",
                tick, world.Generation, world.TimeToLive, world.TotalFitness, world.AverageFitness,
                world.SelectedBugFood, world.Random.Seed, world.BugCount, world.FoodCount, lifetime);
  out += head;
  for (size_t i = 0; i < world.Creatures.size(); ++i) {
    const TCreature& c = world.Creatures[i];
    out += "bug";
    AppendInteger(out, static_cast<long long>(i));
    for (double value : {c.X, c.Y, c.Heading, c.Speed, c.LookX, c.LookY}) AppendReal(out, value);
    AppendInteger(out, world.Nets[i].Fitness);
    out += '\n';
  }
  for (size_t j = 0; j < world.Food.size(); ++j) {
    out += "food";
    AppendInteger(out, static_cast<long long>(j));
    AppendReal(out, world.Food[j].X);
    AppendReal(out, world.Food[j].Y);
    out += '\n';
  }
  TWeightList weights(world.GenomeLength);
  for (size_t i = 0; i < world.Nets.size(); ++i) {
    world.Nets[i].GetWeights(weights);
    out += "net";
    AppendInteger(out, static_cast<long long>(i));
    for (double weight : weights) AppendReal(out, weight);
    out += '\n';
  }
  const bool anyParents = std::any_of(world.Parentage.begin(), world.Parentage.end(),
                                      [](const TParentage& origin) { return origin.Known(); });
  if (withParentage && anyParents)
    for (size_t i = 0; i < world.Nets.size(); ++i) {
      const TParentage origin = i < world.Parentage.size() ? world.Parentage[i] : TParentage{};
      out += "parent";
      AppendInteger(out, static_cast<long long>(i));
      for (int32_t value : {origin.ParentA, origin.ParentB, origin.CrossoverPoint, origin.Mutations})
        AppendInteger(out, value);
      out += '\n';
    }
  TChecksum checksum;
  checksum.Add(out);
  out += "check " + FormatChecksum(checksum.Value) + "\nend\n";
  return out;
}

}  // namespace zemlix
