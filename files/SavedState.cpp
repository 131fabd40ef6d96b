#include "files/SavedState.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string_view>

#include "world/Settings.h"

namespace zemlix {
namespace {

class TDumpReader {
 public:
  TDumpReader(std::istream& in, const std::string& name) : In(in), Name(name) {}

  // Reads the next line into Fields; false at the end of the file.
  bool Next() {
    if (!std::getline(In, Line)) return false;
    ++LineNumber;
    Fields.clear();
    std::string_view rest = Line;
    for (;;) {
      const size_t space = rest.find(' ');
      Fields.push_back(rest.substr(0, space));
      if (Fields.back().empty()) Fail("empty field (a stray space or an empty line)");
      if (space == std::string_view::npos) break;
      rest.remove_prefix(space + 1);
    }
    return true;
  }

  // Reads the next line, which must exist and start with `keyword` and have `fields`
  // fields in all (0: any number).
  void Expect(std::string_view keyword, size_t fields, const std::string& what) {
    if (!Next()) {
      ++LineNumber;
      Fail("the file ends here, before " + what);
    }
    if (Fields[0] != keyword) Fail("expected " + what + ", found '" + Excerpt() + "'");
    if (fields != 0 && Fields.size() != fields)
      Fail(what + ": expected " + std::to_string(fields) + " fields, found " + std::to_string(Fields.size()));
  }

  int64_t Integer(std::string_view text, int64_t minimum, int64_t maximum, const std::string& what) const {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) Fail(what + ": '" + std::string(text) + "' is not an integer");
    if (value < minimum || value > maximum)
      Fail(what + ": " + std::string(text) + " is outside " + std::to_string(minimum) + " to " +
           std::to_string(maximum));
    return value;
  }

  // Reals were written with %.17g; from_chars reads them back to the same bits (a "-0"
  // stays negative) without depending on the locale. Infinities and NaNs are never
  // written by a sound run, so they mark a damaged file.
  double Real(std::string_view text, const std::string& what) const {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (error != std::errc() || stop != end || !std::isfinite(value))
      Fail(what + ": '" + std::string(text) + "' is not a finite real");
    return value;
  }

  // Slots come in order: the second field of a slot line is its index.
  void ExpectIndex(int32_t index) const {
    int64_t value = -1;
    const std::string_view text = Fields[1];
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || stop != text.data() + text.size() || value != index)
      Fail("expected '" + std::string(Fields[0]) + " " + std::to_string(index) + " ...', found '" + Excerpt() + "'");
  }

  // The value of the header field `key=value` at position `index`.
  std::string_view HeaderValue(size_t index, std::string_view key) const {
    const std::string_view field = Fields[index];
    if (field.size() <= key.size() || field.substr(0, key.size()) != key || field[key.size()] != '=')
      Fail("expected " + std::string(key) + "=<value> as field " + std::to_string(index + 1) + ", found '" +
           std::string(field) + "'");
    return field.substr(key.size() + 1);
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw EDumpError(Name + ":" + std::to_string(LineNumber) + ": " + what);
  }

  std::string Excerpt() const { return Line.size() <= 40 ? Line : Line.substr(0, 40) + "..."; }

  std::istream& In;
  const std::string& Name;
  uint64_t LineNumber = 0;
  std::string Line;
  std::vector<std::string_view> Fields;
};

// The rest of a state whose "state" line is the reader's current line.
TSavedState ReadState(TDumpReader& reader) {
  constexpr size_t HeaderFields = 11;
  if (reader.Fields.size() != HeaderFields)
    reader.Fail("state: expected " + std::to_string(HeaderFields) + " fields, found " +
                std::to_string(reader.Fields.size()));
  constexpr int64_t Int32Max = std::numeric_limits<int32_t>::max();
  constexpr int64_t Int32Min = std::numeric_limits<int32_t>::min();
  TSavedState state;
  const auto integer = [&reader](size_t index, const char* key, int64_t minimum, int64_t maximum) {
    return reader.Integer(reader.HeaderValue(index, key), minimum, maximum, key);
  };
  const std::string_view tick = reader.HeaderValue(1, "tick");
  {
    const char* end = tick.data() + tick.size();
    const auto [stop, error] = std::from_chars(tick.data(), end, state.Tick);
    if (error != std::errc() || stop != end) reader.Fail("tick: '" + std::string(tick) + "' is not a tick count");
  }
  // Room for at least the next generation end: a loaded world can always be ticked.
  state.Generation = static_cast<int32_t>(integer(2, "generation", 0, Int32Max - 1));
  state.TimeToLive = static_cast<int32_t>(integer(3, "ttl", Int32Min, Int32Max));
  state.TotalFitness = static_cast<int32_t>(integer(4, "total", 0, Int32Max));
  state.AverageFitness = reader.Real(reader.HeaderValue(5, "average"), "average");
  state.SelectedBugFood = static_cast<int32_t>(integer(6, "selfood", 0, TWorld::MaxFood - 1));
  state.Seed = static_cast<uint32_t>(integer(7, "seed", 0, std::numeric_limits<uint32_t>::max()));
  state.Bugs = static_cast<int32_t>(integer(8, "bugs", BugCountRange.Minimum, BugCountRange.Maximum));
  state.Food = static_cast<int32_t>(integer(9, "food", FoodCountRange.Minimum, FoodCountRange.Maximum));
  state.Lifetime = static_cast<int32_t>(integer(10, "lifetime", LifetimeRange.Minimum, LifetimeRange.Maximum));

  // Between ticks the countdown is in 1..lifetime, and with a fixed lifetime the tick
  // counter follows from it and the generation counter.
  if (state.TimeToLive < 1 || state.TimeToLive > state.Lifetime)
    reader.Fail("ttl=" + std::to_string(state.TimeToLive) + " is outside 1 to the lifetime " +
                std::to_string(state.Lifetime));
  const uint64_t expectedTick = static_cast<uint64_t>(state.Generation) * static_cast<uint64_t>(state.Lifetime) +
                                static_cast<uint64_t>(state.Lifetime - state.TimeToLive);
  if (state.Tick != expectedTick)
    reader.Fail("tick=" + std::to_string(state.Tick) + " disagrees with generation, ttl and lifetime (expected " +
                std::to_string(expectedTick) + ")");
  if (state.SelectedBugFood >= state.Food)
    reader.Fail("selfood=" + std::to_string(state.SelectedBugFood) + " is not an active pellet");
  const uint64_t headerLine = reader.LineNumber;

  const double width = DefaultFieldWidth;
  const double height = DefaultFieldHeight;
  const auto onField = [&reader](double value, double limit, const std::string& what) {
    if (value < 0 || value > limit) {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", value);
      reader.Fail(what + " " + text + " lies outside the field");
    }
  };

  int64_t activeFitness = 0;
  state.Creatures.reserve(TWorld::MaxBugs);
  for (int32_t i = 0; i < TWorld::MaxBugs; ++i) {
    const std::string what = "bug " + std::to_string(i);
    reader.Expect("bug", 9, "'" + what + " ...'");
    reader.ExpectIndex(i);
    TSavedBug bug{};
    double* const fields[] = {&bug.X, &bug.Y, &bug.Heading, &bug.Speed, &bug.LookX, &bug.LookY};
    static const char* const names[] = {"X", "Y", "Heading", "Speed", "LookX", "LookY"};
    for (size_t k = 0; k < 6; ++k) *fields[k] = reader.Real(reader.Fields[2 + k], what + " " + names[k]);
    onField(bug.X, width, what + " X");
    onField(bug.Y, height, what + " Y");
    // An active bug's fitness only ever grows from 0 within a generation.
    bug.Fitness = static_cast<int32_t>(
        reader.Integer(reader.Fields[8], i < state.Bugs ? 0 : Int32Min, Int32Max, what + " fitness"));
    if (i < state.Bugs) activeFitness += bug.Fitness;
    state.Creatures.push_back(bug);
  }
  if (activeFitness != state.TotalFitness)
    throw EDumpError(reader.Name + ":" + std::to_string(headerLine) + ": total=" +
                     std::to_string(state.TotalFitness) + " disagrees with the active bugs' fitness, which sums to " +
                     std::to_string(activeFitness));

  // Every bug may eat every pellet in every tick left; the counters must have room for it.
  const int64_t roomLeft = Int32Max - static_cast<int64_t>(state.TimeToLive) * state.Bugs * state.Food;
  if (state.TotalFitness > roomLeft)
    throw EDumpError(reader.Name + ":" + std::to_string(headerLine) + ": total=" +
                     std::to_string(state.TotalFitness) + " leaves the counters no room for the rest of the generation");

  state.Pellets.reserve(TWorld::MaxFood);
  for (int32_t j = 0; j < TWorld::MaxFood; ++j) {
    const std::string what = "food " + std::to_string(j);
    reader.Expect("food", 4, "'" + what + " ...'");
    reader.ExpectIndex(j);
    TFood pellet;
    pellet.X = reader.Real(reader.Fields[2], what + " X");
    pellet.Y = reader.Real(reader.Fields[3], what + " Y");
    onField(pellet.X, width, what + " X");
    onField(pellet.Y, height, what + " Y");
    state.Pellets.push_back(pellet);
  }

  state.Weights.reserve(TWorld::MaxBugs);
  size_t netFields = 0;
  for (int32_t i = 0; i < TWorld::MaxBugs; ++i) {
    const std::string what = "net " + std::to_string(i);
    reader.Expect("net", netFields, "'" + what + " ...'");
    if (i == 0) {
      netFields = reader.Fields.size();
      state.FirstNetLine = reader.LineNumber;
      if (netFields < 3) reader.Fail("net 0: no weights");
    }
    reader.ExpectIndex(i);
    TWeightList weights(netFields - 2);
    for (size_t k = 0; k < weights.size(); ++k)
      weights[k] = reader.Real(reader.Fields[2 + k], what + " weight " + std::to_string(k));
    state.Weights.push_back(std::move(weights));
  }
  reader.Expect("end", 1, "'end'");
  return state;
}

}  // namespace

TSavedState ReadDump(std::istream& in, const std::string& name) {
  TDumpReader reader(in, name);
  TSavedState last;
  bool any = false;
  while (reader.Next()) {
    if (reader.Fields[0] != "state")
      reader.Fail(any ? "expected another 'state ...' or the end of the file, found '" + reader.Excerpt() + "'"
                      : "expected 'state ...', found '" + reader.Excerpt() + "'");
    last = ReadState(reader);
    any = true;
  }
  if (in.bad()) throw EDumpError(name + ": cannot read the file");
  if (!any) throw EDumpError(name + ":1: the file holds no state");
  return last;
}

TSavedState ReadDumpFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EDumpError(path + ": cannot open the file");
  return ReadDump(in, path);
}

void RestoreWorld(TWorld& world, const TSavedState& state, const std::string& name) {
  world.BuildPopulation();
  if (static_cast<size_t>(world.GenomeLength) != state.Weights.front().size())
    throw EDumpError(name + ":" + std::to_string(state.FirstNetLine) + ": the networks have " +
                     std::to_string(world.GenomeLength) + " weights, the file " +
                     std::to_string(state.Weights.front().size()));
  // BuildPopulation drew from the generator; the saved state replaces all of it.
  world.Random.Seed = state.Seed;
  world.BugCount = state.Bugs;
  world.FoodCount = state.Food;
  world.Generation = state.Generation;
  world.TimeToLive = state.TimeToLive;
  world.TotalFitness = state.TotalFitness;
  world.AverageFitness = state.AverageFitness;
  world.SelectedBug = 0;
  world.SelectedBugFood = state.SelectedBugFood;
  for (size_t i = 0; i < state.Creatures.size(); ++i) {
    const TSavedBug& saved = state.Creatures[i];
    TCreature& bug = world.Creatures[i];
    // Set field by field: the look vector was computed before the heading was wrapped, so
    // it cannot be derived again from the saved heading.
    bug.X = saved.X;
    bug.Y = saved.Y;
    bug.Heading = saved.Heading;
    bug.Speed = saved.Speed;
    bug.LookX = saved.LookX;
    bug.LookY = saved.LookY;
    world.Nets[i].Fitness = saved.Fitness;
    world.Nets[i].PutWeights(state.Weights[i]);
  }
  for (size_t j = 0; j < state.Pellets.size(); ++j) world.Food[j] = state.Pellets[j];
}

}  // namespace zemlix
