// The Python module `zemlix`: worlds of the exact core built, stepped, saved and loaded from
// Python, read as NumPy arrays, and the runner's sweeps returned as data frames.
//
// Every array a World hands out is a copy made when it is asked for: a snapshot that a later
// tick, a deletion of the world or anything else leaves as it is. (The bodies are stored as
// one object per bug and the weights as one list per network, so columns of them could not
// be handed out without a copy anyway, and a live view would change under a notebook that
// keeps the arrays of several ticks.)

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Version.h"
#include "files/SavedState.h"
#include "files/WorldFile.h"
#include "python/PythonValues.h"
#include "sim/HeadlessHost.h"
#include "sim/Runner.h"
#include "sim/Sweep.h"

namespace py = pybind11;

namespace zemlix {
namespace {

using TClock = std::chrono::steady_clock;
// How long a running world or sweep goes without looking for Ctrl+C.
constexpr auto SignalInterval = std::chrono::milliseconds(5);

// Raises the pending Python error (KeyboardInterrupt) when a signal handler asks for it.
// The GIL is taken for the moment of the check only.
void CheckSignals() {
  py::gil_scoped_acquire acquire;
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

[[noreturn]] void RaiseOSError(const std::string& path, int error) {
  errno = error;
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

class TPythonWorld {
 public:
  // A fresh world, as the runner's --seed run builds it.
  TPythonWorld(const TParameters& parameters, uint32_t seed) : Host_(parameters, false), World_(Host_) {
    Prepare(parameters);
    World_.Random.Seed = seed;
    World_.BuildPopulation();
    Seed_ = seed;
  }
  // The state of a world file, as the runner's --load continues it.
  TPythonWorld(const TWorldFile& file, const std::string& path) : Host_(file.State.Parameters, false), World_(Host_) {
    Prepare(file.State.Parameters);
    RestoreWorld(World_, file.State, path);
    History_ = file.History;
  }
  TPythonWorld(const TPythonWorld&) = delete;
  TPythonWorld& operator=(const TPythonWorld&) = delete;

  static std::unique_ptr<TPythonWorld> Load(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) RaiseOSError(path, errno);
    if (S_ISDIR(status.st_mode)) RaiseOSError(path, EISDIR);
    try {
      return std::make_unique<TPythonWorld>(ReadWorldFile(path), path);
    } catch (const EDumpError& e) {
      throw py::value_error(e.what());
    }
  }

  void Save(const std::string& path) {
    TBusy busy(*this);
    const std::string text = FormatWorldFile(World_, Tick(), Lifetime(), History_);
    try {
      WriteWorldFile(path, text);
    } catch (const std::runtime_error& e) {
      PyErr_SetString(PyExc_OSError, e.what());
      throw py::error_already_set();
    }
  }

  // Runs `count` ticks, or until `count` generations have ended, without the GIL, looking for
  // Ctrl+C between ticks: an interrupted world stands between two ticks and goes on from there.
  void Advance(int64_t count, bool generations) {
    const char* what = generations ? "generations" : "n";
    if (count < 0) throw py::value_error(std::string(what) + " must be 0 or more, not " + std::to_string(count));
    TBusy busy(*this);
    // A generation ends in the tick that brings the countdown to 0, later ones a lifetime apart.
    const uint64_t ticks = !generations ? static_cast<uint64_t>(count)
                           : count == 0 ? 0
                                        : static_cast<uint64_t>(World_.TimeToLive) +
                                              static_cast<uint64_t>(count - 1) * static_cast<uint64_t>(Lifetime());
    py::gil_scoped_release release;
    auto checked = TClock::now();
    for (uint64_t k = 0; k < ticks; ++k) {
      World_.Tick();
      if (k % 16 == 15 && TClock::now() - checked >= SignalInterval) {
        CheckSignals();
        checked = TClock::now();
      }
    }
  }

  // The window's Feed and Punish: one pellet more or less in the bug's fitness, which the
  // generation's total does not count.
  void Feed(int64_t bug, int32_t change) {
    TBusy busy(*this);
    int32_t& fitness = World_.Nets[ActiveBug(bug)].Fitness;
    fitness = static_cast<int32_t>(static_cast<uint32_t>(fitness) + static_cast<uint32_t>(change));
  }

  void SetWeights(int64_t bug, const py::handle& weights) {
    TBusy busy(*this);
    const size_t b = ActiveBug(bug);
    const std::vector<double> values = WeightsFrom(weights, static_cast<size_t>(World_.GenomeLength));
    World_.Nets[b].PutWeights(values);
  }

  py::array_t<double> Positions() {
    TBusy busy(*this);
    return Columns(World_.Creatures, {&TCreature::X, &TCreature::Y});
  }
  py::array_t<double> Headings() {
    TBusy busy(*this);
    return Columns(World_.Creatures, {&TCreature::Heading});
  }
  py::array_t<double> Speeds() {
    TBusy busy(*this);
    return Columns(World_.Creatures, {&TCreature::Speed});
  }
  py::array_t<double> FoodPositions() {
    TBusy busy(*this);
    return Columns(World_.Food, {&TFood::X, &TFood::Y});
  }
  py::array_t<int32_t> Fitness() {
    TBusy busy(*this);
    py::array_t<int32_t> fitness(static_cast<py::ssize_t>(World_.Nets.size()));
    auto out = fitness.mutable_unchecked<1>();
    for (size_t b = 0; b < World_.Nets.size(); ++b) out(b) = World_.Nets[b].Fitness;
    return fitness;
  }
  py::array_t<bool> Active(bool food) {
    TBusy busy(*this);
    const size_t slots = food ? World_.Food.size() : World_.Nets.size();
    const size_t active = static_cast<size_t>(food ? World_.FoodCount : World_.BugCount);
    py::array_t<bool> flags(static_cast<py::ssize_t>(slots));
    auto out = flags.mutable_unchecked<1>();
    for (size_t k = 0; k < slots; ++k) out(k) = k < active;
    return flags;
  }
  py::array_t<double> Weights() {
    TBusy busy(*this);
    const size_t length = static_cast<size_t>(World_.GenomeLength);
    py::array_t<double> weights({World_.Nets.size(), length});
    double* out = weights.mutable_data();
    for (const TNeuralNet& net : World_.Nets) out = std::copy(net.Weights().begin(), net.Weights().end(), out);
    return weights;
  }
  // The last tick's inputs (4 per bug) or outputs (2), zeros before the first tick.
  py::array_t<double> NetworkValues(bool outputs) {
    TBusy busy(*this);
    const size_t width = outputs ? 2 : 4;
    const std::vector<double>& kept = outputs ? World_.NetworkOutputs : World_.NetworkInputs;
    py::array_t<double> values({World_.Nets.size(), width});
    std::fill_n(values.mutable_data(), values.size(), 0.0);
    std::copy_n(kept.begin(), std::min<size_t>(kept.size(), values.size()), values.mutable_data());
    return values;
  }
  py::array History() {
    TBusy busy(*this);
    py::array_t<TGenerationReport> history(static_cast<py::ssize_t>(History_.size()));
    std::copy(History_.begin(), History_.end(), history.mutable_data());
    return history;
  }
  py::dict Parameters() {
    TBusy busy(*this);
    return ParametersDict(World_.Parameters);
  }

  // A counter, read while no other thread runs the world.
  template <auto Read>
  auto Counter() const {
    TBusy busy(*this);
    return (this->*Read)();
  }
  uint64_t Tick() const { return TickAt(World_.Generation, Lifetime(), World_.TimeToLive); }
  int32_t Generation() const { return World_.Generation; }
  int32_t TimeToLive() const { return World_.TimeToLive; }
  int32_t Lifetime() const { return World_.Parameters.Lifetime; }
  int32_t BugCount() const { return World_.BugCount; }
  int32_t FoodCount() const { return World_.FoodCount; }
  int32_t GenomeLength() const { return World_.GenomeLength; }
  std::optional<uint32_t> Seed() const { return Seed_; }

 private:
  // A world is used by one thread at a time: while it runs without the GIL another Python
  // thread could otherwise read or change it half-way through a tick.
  class TBusy {
   public:
    explicit TBusy(const TPythonWorld& world) : Busy_(world.Busy_) {
      if (Busy_.exchange(true)) throw std::runtime_error("the world is in use by another thread");
    }
    ~TBusy() { Busy_ = false; }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

   private:
    std::atomic<bool>& Busy_;
  };

  void Prepare(const TParameters& parameters) {
    World_.Parameters = parameters;
    World_.KeepNetworkValues = true;
    World_.OnGenerationEnd = [this](const TGenerationReport& report) { History_.push_back(report); };
  }

  size_t ActiveBug(int64_t bug) const {
    if (bug < 0 || bug >= World_.BugCount)
      throw py::index_error("bug " + std::to_string(bug) + " is not an active bug (0 to " +
                            std::to_string(World_.BugCount - 1) + ")");
    return static_cast<size_t>(bug);
  }

  template <typename T>
  static py::array_t<double> Columns(const std::vector<T>& items, std::initializer_list<double T::*> fields) {
    std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(items.size())};
    if (fields.size() > 1) shape.push_back(static_cast<py::ssize_t>(fields.size()));
    py::array_t<double> columns(shape);
    double* out = columns.mutable_data();
    for (const T& item : items)
      for (double T::*field : fields) *out++ = item.*field;
    return columns;
  }

  THeadlessHost Host_;  // before the world, which keeps a reference to it
  TWorld World_;
  std::vector<TGenerationReport> History_;
  std::optional<uint32_t> Seed_;
  mutable std::atomic<bool> Busy_{false};
};

std::string PathOf(const py::handle& path) {
  return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

// The rows as a pandas data frame where pandas is installed, a NumPy record array otherwise;
// reals read back exactly as the text gives them.
py::object Table(const std::string& csv) {
  const py::object text = py::module_::import("io").attr("StringIO")(csv);
  try {
    return py::module_::import("pandas").attr("read_csv")(text, py::arg("float_precision") = "round_trip");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ImportError)) throw;
  }
  py::list rows(py::module_::import("csv").attr("reader")(text));
  py::list records;
  for (size_t r = 1; r < rows.size(); ++r) {
    py::list record;
    for (const py::handle cell : rows[r]) record.append(CsvCell(cell.cast<std::string>()));
    records.append(py::tuple(record));
  }
  return py::module_::import("numpy").attr("rec").attr("fromrecords")(
      records, py::arg("names") = py::str(",").attr("join")(rows[0]));
}

py::tuple Sweep(const py::object& sweep, const py::object& seeds, int64_t generations, const py::object& jobs,
                const py::kwargs& parameters) {
  TRunnerOptions options;
  options.Program = "zemlix";
  std::vector<std::string> given;
  options.Parameters = ParametersFrom(parameters, TParameters{}, &given);
  options.Bugs = options.Parameters.Bugs;
  options.Food = options.Parameters.Food;
  options.Lifetime = options.Parameters.Lifetime;
  options.Seeds = SeedRangeFrom(seeds);
  if (generations < 1) throw py::value_error("generations must be 1 or more, not " + std::to_string(generations));
  options.Generations = static_cast<uint64_t>(generations);
  if (jobs.is_none()) {
    options.Jobs = std::max(1u, std::thread::hardware_concurrency());
  } else {
    const int64_t count = jobs.cast<int64_t>();
    if (count < 1) throw py::value_error("jobs must be 1 or more, not " + std::to_string(count));
    options.Jobs = static_cast<unsigned>(std::min<int64_t>(count, 4096));
  }
  if (!sweep.is_none())
    for (const auto& [name, values] : sweep.cast<py::dict>()) {
      TSweepAxis axis;
      std::string refused = ParseSweep(SweepText(name, values), options.Sweep, axis);
      if (refused.rfind("--", 0) == 0) refused.erase(0, 2);  // no option here: the keyword
      if (!refused.empty()) throw py::value_error(refused);
      if (std::find(given.begin(), given.end(), axis.Name) != given.end())
        throw py::value_error("sweep " + axis.Name + " and the keyword " + axis.Name + ": both set " + axis.Name +
                              "; give one of them");
      options.Sweep.push_back(std::move(axis));
    }
  if (std::string refused = BatchSizeRefusal(*options.Seeds, options.Sweep); !refused.empty())
    throw py::value_error(refused);

  const TSweep batch(options);
  if (!batch.GenerationCountsFit())
    throw py::value_error(GenerationCountTooLarge.substr(0, GenerationCountTooLarge.size() - 1));
  const uint64_t worlds = std::min<uint64_t>(options.Jobs, batch.ItemCount());
  if (std::string refused = MemoryRefusal(options.Program, BatchMemoryNeed(batch, worlds, 1), AvailableMemory());
      !refused.empty()) {
    PyErr_SetString(PyExc_MemoryError, refused.c_str());
    throw py::error_already_set();
  }

  // The items run on threads of their own while this one waits for them without the GIL,
  // looking for Ctrl+C every few milliseconds; an interrupt stops every item at its next tick.
  struct TStop : TSweep::TObserver {
    std::atomic<bool> Stopped{false};
    bool Ticked() override { return !Stopped.load(std::memory_order_relaxed); }
  } stop;
  std::map<uint64_t, std::string> rows;
  TItemAverages averages;
  const TPendingItems pending(batch.ItemCount(), {});
  std::future<std::string> failure;
  bool interrupted = false;
  {
    py::gil_scoped_release release;
    failure = std::async(std::launch::async, [&] {
      return RunSweepItems(batch, pending, options.Jobs, stop, [&](uint64_t index, std::string text) {
        averages[index] = RowAverages(batch, text);
        rows[index] = std::move(text);
      });
    });
    while (failure.wait_for(SignalInterval) != std::future_status::ready) {
      py::gil_scoped_acquire acquire;
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;
        stop.Stopped = true;
        break;
      }
    }
    failure.wait();
  }
  if (interrupted) throw py::error_already_set();
  if (const std::string failed = failure.get(); !failed.empty()) throw std::runtime_error(failed);

  std::string csv = batch.CsvHeader();
  for (const auto& [index, text] : rows) csv += text;
  return py::make_tuple(Table(csv), Table(FormatSweepSummary(batch, averages)));
}

}  // namespace
}  // namespace zemlix

PYBIND11_MODULE(zemlix, module) {
  using namespace zemlix;
  using namespace pybind11::literals;
  module.doc() =
      "Zemlix, an artificial-life simulator: bugs steered by small neural networks chase food\n"
      "and evolve by a genetic algorithm. The same core as the zemlix window and the zemlix-sim\n"
      "runner: one seed gives one run, bit for bit.\n\n"
      "World builds, steps, saves and loads one world and shows it as NumPy arrays; sweep runs\n"
      "seeds and parameter values on all cores and returns the rows and their summary.\n"
      "Parameters (keywords of World and sweep):\n" +
      ParameterHelp();
  module.attr("__version__") = Version;
  PYBIND11_NUMPY_DTYPE_EX(TGenerationReport, Generation, "generation", AverageFitness, "average", BestFitness, "best",
                          WorstFitness, "worst", TotalFitness, "total");

  py::class_<TPythonWorld>(module, "World",
                           "One world: bugs, pellets, their networks and the generator.\n\n"
                           "Every array property returns a new array, a copy made when it is read: it does\n"
                           "not change when the world ticks and stays valid after the world is deleted.\n"
                           "Per-bug arrays have one row per bug slot (at least 200) and per-pellet arrays one\n"
                           "per pellet slot (at least 100); `active` and `food_active` tell the slots in use.\n"
                           "A world is used by one thread at a time.")
      .def(py::init([](const py::object& seed, const py::object& bugs, const py::object& food,
                       const py::object& lifetime, const py::kwargs& parameters) {
             py::dict all(parameters);
             all["bugs"] = bugs;
             all["food"] = food;
             all["lifetime"] = lifetime;
             const TParameters checked = ParametersFrom(all, TParameters{}, nullptr);
             const uint32_t chosen = SeedFrom(seed);
             py::gil_scoped_release release;  // building a large world takes a while
             return std::make_unique<TPythonWorld>(checked, chosen);
           }),
           "seed"_a = 1, "bugs"_a = 30, "food"_a = 40, "lifetime"_a = 2000,
           "Builds a fresh world exactly as `zemlix-sim --seed SEED --bugs BUGS --food FOOD --lifetime\n"
           "LIFETIME` does. Any other parameter of the registry is a keyword too (see help(zemlix)):\n"
           "an unknown name, a value of the wrong type or out of range raises ValueError naming the\n"
           "parameter and its range.")
      .def_static(
          "load", [](const py::object& path) { return TPythonWorld::Load(PathOf(path)); }, "path"_a,
          "Opens a world file (the window's saved world or the runner's --dump) at its last whole\n"
          "state, under the parameters it ran with. A damaged file raises ValueError naming the file\n"
          "and the line; a missing file or a directory raises OSError.")
      .def(
          "save", [](TPythonWorld& world, const py::object& path) { world.Save(PathOf(path)); }, "path"_a,
          "Writes the world file (the state and the fitness history) through a temporary file that\n"
          "replaces PATH only when complete; OSError names the file and the reason.")
      .def(
          "tick", [](TPythonWorld& world, int64_t n) { world.Advance(n, false); }, "n"_a = 1,
           "Runs N ticks. The GIL is released meanwhile; Ctrl+C raises KeyboardInterrupt between\n"
           "two ticks and leaves the world usable.")
      .def(
          "run", [](TPythonWorld& world, int64_t generations) { world.Advance(generations, true); }, py::kw_only(),
          "generations"_a,
           "Runs until GENERATIONS more generations have ended (the last tick is the one that ends\n"
           "the last of them). Released GIL and Ctrl+C as for tick().")
      .def(
          "feed", [](TPythonWorld& world, int64_t bug) { world.Feed(bug, 1); }, "bug"_a,
          "Adds 1 to the bug's fitness, as the window's Feed Bug does. IndexError for a bug that is\n"
          "not active.")
      .def(
          "punish", [](TPythonWorld& world, int64_t bug) { world.Feed(bug, -1); }, "bug"_a,
          "Subtracts 1 from the bug's fitness, as the window's Punish Bug does.")
      .def("set_weights", &TPythonWorld::SetWeights, "bug"_a, "weights"_a,
           "Replaces the bug's network weights (flat order, genome_length of them), taking effect\n"
           "from the next tick. The weights must be a one-dimensional float64 or float32 array (or\n"
           "a list of reals) of finite values; otherwise TypeError or ValueError, and nothing\n"
           "changes.")
      .def_property_readonly("positions", &TPythonWorld::Positions,
                             "float64 (bug slots, 2): each bug's x and y (a copy)")
      .def_property_readonly("headings", &TPythonWorld::Headings, "float64 (bug slots,): each bug's heading in radians")
      .def_property_readonly("speeds", &TPythonWorld::Speeds, "float64 (bug slots,): each bug's speed")
      .def_property_readonly("fitness", &TPythonWorld::Fitness,
                             "int32 (bug slots,): pellets each bug ate this generation, feeding and punishing included")
      .def_property_readonly(
          "active", [](TPythonWorld& world) { return world.Active(false); }, "bool (bug slots,): the slots in use")
      .def_property_readonly("food_positions", &TPythonWorld::FoodPositions, "float64 (pellet slots, 2): x and y")
      .def_property_readonly(
          "food_active", [](TPythonWorld& world) { return world.Active(true); },
          "bool (pellet slots,): the pellets in use")
      .def_property_readonly("weights", &TPythonWorld::Weights,
                             "float64 (bug slots, genome_length): every network's weights in flat order")
      .def_property_readonly(
          "inputs", [](TPythonWorld& world) { return world.NetworkValues(false); },
          "float64 (bug slots, 4): each network's inputs in the last tick (the nearest pellet's\n"
          "direction, the bug's look vector); zeros before the first tick and for inactive slots")
      .def_property_readonly(
          "outputs", [](TPythonWorld& world) { return world.NetworkValues(true); },
          "float64 (bug slots, 2): each network's outputs in the last tick (the left and right\n"
          "impulses); zeros before the first tick and for inactive slots")
      .def_property_readonly("history", &TPythonWorld::History,
                             "structured array, one row per ended generation: generation, average, best, worst,\n"
                             "total (a loaded world's saved rows first)")
      .def_property_readonly("parameters", &TPythonWorld::Parameters, "dict: every parameter's value")
      .def_property_readonly("ticks", &TPythonWorld::Counter<&TPythonWorld::Tick>,
                             "ticks run since the population was built (the world file's tick; tick() runs more)")
      .def_property_readonly("generation", &TPythonWorld::Counter<&TPythonWorld::Generation>,
                             "generations ended so far")
      .def_property_readonly("time_to_live", &TPythonWorld::Counter<&TPythonWorld::TimeToLive>,
                             "ticks until the current generation ends (1 to lifetime)")
      .def_property_readonly("lifetime", &TPythonWorld::Counter<&TPythonWorld::Lifetime>, "ticks per generation")
      .def_property_readonly("bug_count", &TPythonWorld::Counter<&TPythonWorld::BugCount>, "active bugs")
      .def_property_readonly("food_count", &TPythonWorld::Counter<&TPythonWorld::FoodCount>, "active pellets")
      .def_property_readonly("genome_length", &TPythonWorld::Counter<&TPythonWorld::GenomeLength>,
                             "weights per network")
      .def_property_readonly("seed", &TPythonWorld::Seed,
                             "the seed the world was built with; None for a loaded world, whose file carries\n"
                             "the generator's state")
      .def("__repr__", [](TPythonWorld& world) {
        return "<zemlix.World tick " + std::to_string(world.Counter<&TPythonWorld::Tick>()) + ", generation " +
               std::to_string(world.Counter<&TPythonWorld::Generation>()) + ", " +
               std::to_string(world.Counter<&TPythonWorld::BugCount>()) + " bugs, " +
               std::to_string(world.Counter<&TPythonWorld::FoodCount>()) + " pellets>";
      });

  module.def("sweep", &Sweep, py::kw_only(), "sweep"_a = py::none(),
             "seeds"_a = py::module_::import("builtins").attr("range")(1, 17), "generations"_a = 50,
             "jobs"_a = py::none(),
             "Runs every seed of SEEDS (a range of consecutive seeds, a list of them or one seed) at\n"
             "every point of the grid SWEEP ({name: [values]}, the product of the lists), GENERATIONS\n"
             "generations each, on JOBS threads (all cores when None), under the other PARAMETERS\n"
             "given as keywords. Returns (rows, summary): the rows of `zemlix-sim --seeds ... --sweep\n"
             "... --csv` and `--summary`, as pandas data frames, or NumPy record arrays without pandas.\n"
             "The GIL is released; Ctrl+C raises KeyboardInterrupt.");
}
