#include "files/SavedState.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <limits>
#include <string_view>

#include "files/LineReader.h"

#include "world/Settings.h"

namespace zemlix {
namespace {

class TDumpReader {
 public:
  TDumpReader(std::istream& in, const std::string& name) : Lines(in), Name(name) {}

  // Reads the next line into Fields; false at the end of the file. Every line read joins
  // the checksum of the state it belongs to.
  bool Next() {
    try {
      if (!Lines.Next(Line)) {
        HitEnd = true;
        return false;
      }
    } catch (const std::length_error& e) {
      throw EDumpError(Name + ": " + e.what());
    }
    ++LineNumber;
    HashBeforeLine = Hash.Value;
    Hash.Add(Line);
    Hash.Add("\n");
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

  // A state's checksum covers its lines and the history lines before it.
  void StartChecksum() { Hash = TChecksum(); }

  // Whether the file stops inside the current state: it ended where a line was expected,
  // or its last line was cut short. A run stopped while appending a state leaves this.
  bool CutShort() const { return HitEnd || (!Lines.LineEnded() && Lines.AtEnd()); }

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
    if (!ParseInteger(text, value)) Fail(what + ": '" + Printable(text) + "' is not an integer");
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
      Fail(what + ": '" + Printable(text) + "' is not a finite real");
    return value;
  }

  // Slots come in order: the second field of a slot line is its index.
  void ExpectIndex(int32_t index) const {
    int64_t value = -1;
    if (!ParseInteger(Fields[1], value) || value != index)
      Fail("expected '" + std::string(Fields[0]) + " " + std::to_string(index) + " ...', found '" + Excerpt() + "'");
  }

  // The value of the header field `key=value` at position `index`.
  std::string_view HeaderValue(size_t index, std::string_view key) const {
    const std::string_view field = Fields[index];
    if (field.size() <= key.size() || field.substr(0, key.size()) != key || field[key.size()] != '=')
      Fail("expected " + std::string(key) + "=<value> as field " + std::to_string(index + 1) + ", found '" +
           Printable(field) + "'");
    return field.substr(key.size() + 1);
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw EDumpError(Name + ":" + std::to_string(LineNumber) + ": " + what);
  }

  std::string Excerpt() const { return Printable(Line); }

  TLineReader Lines;
  const std::string& Name;
  uint64_t LineNumber = 0;
  std::string Line;
  std::vector<std::string_view> Fields;
  bool HitEnd = false;
  TChecksum Hash;
  uint64_t HashBeforeLine = Hash.Value;
};

const TParameterInfo& CountInfo(const char* name) { return *FindParameter(name); }

// A "parameters" line: name=value fields over the defaults, each name once.
TParameters ReadParameters(TDumpReader& reader) {
  TParameters parameters;
  std::vector<std::string_view> seen;
  for (size_t k = 1; k < reader.Fields.size(); ++k) {
    const std::string_view field = reader.Fields[k];
    const size_t equals = field.find('=');
    const std::string_view name = field.substr(0, equals);
    const TParameterInfo* info = FindParameter(name);
    if (equals == std::string_view::npos || !info)
      reader.Fail("parameters: '" + Printable(field) + "' is not a known parameter=value");
    if (name == "bugs" || name == "food" || name == "lifetime")
      reader.Fail("parameters: " + std::string(name) + " belongs on the state line");
    if (std::find(seen.begin(), seen.end(), name) != seen.end())
      reader.Fail("parameters: " + std::string(name) + " is given twice");
    seen.push_back(name);
    const std::string reason = SetParameterText(parameters, *info, field.substr(equals + 1));
    if (!reason.empty()) reader.Fail("parameters: " + std::string(name) + " " + reason);
  }
  return parameters;
}

// The parent lines of every bug slot, the first of which is the reader's current line. A
// parent is a bug of the generation before, which the world had as many of as now; nobody
// has parents before the first generation end, nor in a slot beyond the bugs.
void ReadParentage(TDumpReader& reader, TSavedState& state) {
  const int32_t bugSlots = TWorld::BugSlotsFor(state.Bugs);
  const auto genes = static_cast<int64_t>(state.Weights.front().size());
  state.Parentage.reserve(bugSlots);
  for (int32_t i = 0; i < bugSlots; ++i) {
    const std::string what = "parent " + std::to_string(i);
    if (i > 0) reader.Expect("parent", 6, "'" + what + " ...'");
    else if (reader.Fields.size() != 6)
      reader.Fail("'" + what + " ...': expected 6 fields, found " + std::to_string(reader.Fields.size()));
    reader.ExpectIndex(i);
    TParentage origin;
    const auto value = [&](size_t field, int64_t minimum, int64_t maximum, const char* name) {
      return static_cast<int32_t>(reader.Integer(reader.Fields[field], minimum, maximum, what + " " + name));
    };
    origin.ParentA = value(2, -1, state.Bugs - 1, "parent a");
    if (origin.Known()) {
      if (state.Generation == 0) reader.Fail(what + ": no bug has parents before the first generation ends");
      if (i >= state.Bugs) reader.Fail(what + ": the slot beyond the " + std::to_string(state.Bugs) + " bugs has parents");
      origin.ParentB = value(3, 0, state.Bugs - 1, "parent b");
      origin.CrossoverPoint = value(4, -1, genes, "crossover point");
      origin.Mutations = value(5, 0, genes, "mutations");
    } else {
      for (size_t field = 3; field < 6; ++field)
        if (reader.Fields[field] != "-1") reader.Fail(what + ": a bug without parents has -1 in every field");
    }
    state.Parentage.push_back(origin);
  }
}

// The rest of a state whose "state" line is the reader's current line.
TSavedState ReadState(TDumpReader& reader, const TParameters& parameters) {
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
  if (!ParseInteger(tick, state.Tick)) reader.Fail("tick: '" + Printable(tick) + "' is not a tick count");
  // Room for at least the next generation end: a loaded world can always be ticked.
  state.Generation = static_cast<int32_t>(integer(2, "generation", 0, MaxSavedGeneration));
  state.TimeToLive = static_cast<int32_t>(integer(3, "ttl", Int32Min, Int32Max));
  state.TotalFitness = integer(4, "total", 0, std::numeric_limits<int64_t>::max());
  state.AverageFitness = reader.Real(reader.HeaderValue(5, "average"), "average");
  const TParameterInfo& bugsInfo = CountInfo("bugs");
  const TParameterInfo& foodInfo = CountInfo("food");
  const TParameterInfo& lifetimeInfo = CountInfo("lifetime");
  state.SelectedBugFood = static_cast<int32_t>(integer(6, "selfood", 0, static_cast<int64_t>(foodInfo.Maximum) - 1));
  state.Seed = static_cast<uint32_t>(integer(7, "seed", 0, std::numeric_limits<uint32_t>::max()));
  state.Bugs = static_cast<int32_t>(integer(8, "bugs", static_cast<int64_t>(bugsInfo.Minimum), static_cast<int64_t>(bugsInfo.Maximum)));
  state.Food = static_cast<int32_t>(integer(9, "food", static_cast<int64_t>(foodInfo.Minimum), static_cast<int64_t>(foodInfo.Maximum)));
  state.Lifetime = static_cast<int32_t>(integer(10, "lifetime", static_cast<int64_t>(lifetimeInfo.Minimum),
                                                       static_cast<int64_t>(lifetimeInfo.Maximum)));
  state.Parameters = parameters;
  state.Parameters.Bugs = state.Bugs;
  state.Parameters.Food = state.Food;
  state.Parameters.Lifetime = state.Lifetime;
  const int32_t bugSlots = TWorld::BugSlotsFor(state.Bugs);
  const int32_t foodSlots = TWorld::FoodSlotsFor(state.Food);

  // Between ticks the countdown is in 1..lifetime, and with a fixed lifetime the tick
  // counter follows from it and the generation counter.
  if (state.TimeToLive < 1 || state.TimeToLive > state.Lifetime)
    reader.Fail("ttl=" + std::to_string(state.TimeToLive) + " is outside 1 to the lifetime " +
                std::to_string(state.Lifetime));
  const uint64_t expectedTick = TickAt(state.Generation, state.Lifetime, state.TimeToLive);
  if (state.Tick != expectedTick)
    reader.Fail("tick=" + std::to_string(state.Tick) + " disagrees with generation, ttl and lifetime (expected " +
                std::to_string(expectedTick) + ")");
  if (state.SelectedBugFood >= state.Food)
    reader.Fail("selfood=" + std::to_string(state.SelectedBugFood) + " is not an active pellet");
  const uint64_t headerLine = reader.LineNumber;

  const double width = parameters.FieldWidth;
  const double height = parameters.FieldHeight;
  const auto onField = [&reader](double value, double limit, const std::string& what) {
    if (value < 0 || value > limit) {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", value);
      reader.Fail(what + " " + text + " lies outside the field");
    }
  };

  // The first active bug whose count has no room for the rest of the generation (below).
  std::string crowdedBug;
  const int64_t bugRoom = Int32Max - static_cast<int64_t>(state.TimeToLive) * state.Food;
  state.Creatures.reserve(bugSlots);
  for (int32_t i = 0; i < bugSlots; ++i) {
    const std::string what = "bug " + std::to_string(i);
    reader.Expect("bug", 9, "'" + what + " ...'");
    reader.ExpectIndex(i);
    TSavedBug bug{};
    double* const fields[] = {&bug.X, &bug.Y, &bug.Heading, &bug.Speed, &bug.LookX, &bug.LookY};
    static const char* const names[] = {"X", "Y", "Heading", "Speed", "LookX", "LookY"};
    for (size_t k = 0; k < 6; ++k) *fields[k] = reader.Real(reader.Fields[2 + k], what + " " + names[k]);
    onField(bug.X, width, what + " X");
    onField(bug.Y, height, what + " Y");
    // Eating only adds to a fitness, but the window's feed and punish move it either way,
    // below 0 too, and count for breeding without counting in the total: neither the sign
    // nor the sum of the active bugs' fitness tells a damaged file (the checksum does).
    bug.Fitness = static_cast<int32_t>(reader.Integer(reader.Fields[8], Int32Min, Int32Max, what + " fitness"));
    if (i < state.Bugs && bug.Fitness > bugRoom && crowdedBug.empty())
      crowdedBug = reader.Name + ":" + std::to_string(reader.LineNumber) + ": " + what + " fitness " +
                   std::to_string(bug.Fitness) + " leaves its counter no room for the rest of the generation (" +
                   std::to_string(state.TimeToLive) + " ticks of up to " + std::to_string(state.Food) + " pellets)";
    state.Creatures.push_back(bug);
  }

  // Within the window's counts the total stays within 32 bits to the generation's end, as it
  // always has, even if every bug eats every pellet in every tick left. (Beyond them only the
  // bugs' own counts need room, checked above; the total is counted in 64 bits.)
  const int64_t roomLeft = Int32Max - static_cast<int64_t>(state.TimeToLive) * state.Bugs * state.Food;
  if (state.Bugs <= TWorld::MaxBugs && state.Food <= TWorld::MaxFood && state.TotalFitness > roomLeft)
    throw EDumpError(reader.Name + ":" + std::to_string(headerLine) + ": total=" +
                     std::to_string(state.TotalFitness) + " leaves the counters no room for the rest of the generation");
  // A bug eats each pellet at most once a tick, so its 32-bit count must hold every pellet
  // in every tick left. A file a run wrote always has that room (a count grows by at most
  // food a tick over a lifetime of at most 10000 ticks); a damaged or edited one may not.
  if (!crowdedBug.empty()) throw EDumpError(crowdedBug);

  state.Pellets.reserve(foodSlots);
  for (int32_t j = 0; j < foodSlots; ++j) {
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

  state.Weights.reserve(bugSlots);
  size_t netFields = 0;
  for (int32_t i = 0; i < bugSlots; ++i) {
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
  if (!reader.Next()) {
    ++reader.LineNumber;
    reader.Fail("the file ends here, before 'end'");
  }
  if (reader.Fields[0] == "parent") {
    ReadParentage(reader, state);
    if (!reader.Next()) {
      ++reader.LineNumber;
      reader.Fail("the file ends here, before 'end'");
    }
  }
  if (reader.Fields[0] == "check") {
    // Older files and hand-edited ones have none; a state that has one must match it.
    if (reader.Fields.size() != 2 || reader.Fields[1] != FormatChecksum(reader.HashBeforeLine))
      reader.Fail("the checksum does not match the state: the file is damaged");
    reader.Expect("end", 1, "'end'");
  } else if (reader.Fields[0] != "end" || reader.Fields.size() != 1) {
    reader.Fail("expected 'end', found '" + reader.Excerpt() + "'");
  }
  reader.StartChecksum();
  return state;
}

TGenerationReport ReadHistoryLine(TDumpReader& reader) {
  if (reader.Fields.size() != 6)
    reader.Fail("history: expected 6 fields, found " + std::to_string(reader.Fields.size()));
  constexpr int64_t Int32Max = std::numeric_limits<int32_t>::max();
  TGenerationReport report{};
  report.Generation = static_cast<int32_t>(reader.Integer(reader.Fields[1], 1, MaxSavedGeneration, "history generation"));
  report.AverageFitness = reader.Real(reader.Fields[2], "history average");
  report.BestFitness = static_cast<int32_t>(reader.Integer(reader.Fields[3], 0, Int32Max, "history best"));
  report.WorstFitness = static_cast<int32_t>(reader.Integer(reader.Fields[4], 0, report.BestFitness, "history worst"));
  report.TotalFitness =
      reader.Integer(reader.Fields[5], report.BestFitness, std::numeric_limits<int64_t>::max(), "history total");
  return report;
}

}  // namespace

TWorldFile ReadWorld(std::istream& in, const std::string& name, std::string* note) {
  TDumpReader reader(in, name);
  TWorldFile file;
  std::vector<TGenerationReport> history;
  bool any = false;
  uint64_t tailLine = 0;  // where what follows the last whole state starts
  const auto cutShort = [&](uint64_t from) {
    if (note)
      *note = name + ": the state from line " + std::to_string(from) +
              " is incomplete (the run writing it stopped); the one before it is used";
    return file;
  };
  while (reader.Next()) {
    if (tailLine == 0) tailLine = reader.LineNumber;
    try {
      if (reader.Fields[0] == "history") {
        const TGenerationReport report = ReadHistoryLine(reader);
        const int32_t previous = !history.empty()        ? history.back().Generation
                                 : !file.History.empty() ? file.History.back().Generation
                                 : any                   ? file.State.Generation
                                                         : report.Generation - 1;
        if (report.Generation != previous + 1)
          reader.Fail("history: generation " + std::to_string(report.Generation) + " does not follow " +
                      std::to_string(previous));
        history.push_back(report);
        continue;
      }
      // Files written before parameters existed have no such line: the defaults.
      TParameters parameters;
      if (reader.Fields[0] == "parameters") {
        parameters = ReadParameters(reader);
        if (!reader.Next()) {
          ++reader.LineNumber;
          reader.Fail("the file ends here, before 'state ...'");
        }
        if (reader.Fields[0] != "state") reader.Fail("expected 'state ...' after the parameters, found '" + reader.Excerpt() + "'");
      }
      if (reader.Fields[0] != "state")
        reader.Fail(any ? "expected another 'state ...' or the end of the file, found '" + reader.Excerpt() + "'"
                        : "expected 'state ...', found '" + reader.Excerpt() + "'");
      const uint64_t stateLine = reader.LineNumber;
      TSavedState state = ReadState(reader, parameters);
      const int32_t lastGeneration = !history.empty()        ? history.back().Generation
                                     : !file.History.empty() ? file.History.back().Generation
                                                             : state.Generation;
      if (lastGeneration != state.Generation)
        throw EDumpError(name + ":" + std::to_string(stateLine) + ": the history ends at generation " +
                         std::to_string(lastGeneration) + ", the state is at " + std::to_string(state.Generation));
      file.State = std::move(state);
    } catch (const EDumpError&) {
      // What a run stopped while appending a state leaves: the states before it stand.
      if (any && reader.CutShort()) return cutShort(tailLine);
      throw;
    }
    file.History.insert(file.History.end(), history.begin(), history.end());
    history.clear();
    any = true;
    tailLine = 0;
  }
  if (in.bad()) throw EDumpError(name + ": cannot read the file");
  if (!any) throw EDumpError(name + ":1: the file holds no state");
  if (!history.empty()) return cutShort(tailLine);
  return file;
}

TSavedState ReadDump(std::istream& in, const std::string& name) { return ReadWorld(in, name, nullptr).State; }

TWorldFile ReadWorldFile(const std::string& path, std::string* note) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EDumpError(path + ": cannot open the file: " + std::strerror(errno));
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
    throw EDumpError(path + ": cannot read the file: " + std::strerror(EISDIR));
  return ReadWorld(in, path, note);
}

uint64_t TickAt(int32_t generation, int32_t lifetime, int32_t timeToLive) {
  return static_cast<uint64_t>(generation) * static_cast<uint64_t>(lifetime) +
         static_cast<uint64_t>(lifetime - timeToLive);
}

void RestoreWorld(TWorld& world, const TSavedState& state, const std::string& name) {
  world.Parameters = state.Parameters;
  world.BuildPopulation();
  if (world.Creatures.size() != state.Creatures.size() || world.Food.size() != state.Pellets.size())
    throw EDumpError(name + ": the world to restore has " + std::to_string(world.Creatures.size()) + " bug and " +
                     std::to_string(world.Food.size()) + " pellet slots, the file " +
                     std::to_string(state.Creatures.size()) + " and " + std::to_string(state.Pellets.size()));
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
  if (!state.Parentage.empty()) world.Parentage = state.Parentage;
}

}  // namespace zemlix
