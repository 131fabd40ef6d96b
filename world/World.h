#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ai/AIUnit.h"
#include "base/Random.h"
#include "base/StealableRange.h"
#include "base/WorkerThreads.h"
#include "world/BatchedNetworks.h"
#include "world/Creature.h"
#include "world/FoodGrid.h"
#include "world/NearestPellet.h"
#include "world/NetworkLog.h"
#include "world/Parameters.h"
#include "world/TickProfile.h"

namespace zemlix {


// What the world asks of its window, and the one thing it tells it. The window implements
// it; the headless runner answers with fixed values. Every call is made at the moment the
// value is needed, never cached.
class TWorldHost {
 public:
  virtual ~TWorldHost() = default;
  // The field is the world view's surface, W x H pixels.
  virtual int32_t FieldWidth() const = 0;
  virtual int32_t FieldHeight() const = 0;
  // The starting conditions as the window's boxes show them now.
  virtual int32_t NumberOfBugs() const = 0;
  virtual int32_t NumberOfFood() const = 0;
  virtual int32_t CreatureLifetime() const = 0;
  // The largest counts the host can show: the window's boxes end at today's slot counts, the
  // runner takes far larger worlds. Counts beyond them are held to them.
  virtual int32_t MaximumBugs() const;
  virtual int32_t MaximumFood() const;
  // "Record NN Input/Output" and "Show Selected Bug Stats".
  virtual bool RecordNNIO() const { return false; }
  virtual bool ShowStats() const { return false; }
  // The selected bug's raw impulses of this tick, when ShowStats() is true.
  virtual void DrawImpulseMeters(double /*left*/, double /*right*/) {}
};

// What a generation end reports: counted just before breeding resets the fitness.
struct TGenerationReport {
  int32_t Generation;      // the generation just ended, from 1
  double AverageFitness;   // TotalFitness / BugCount of that generation
  int32_t BestFitness;     // highest Fitness among the active bugs' networks
  int32_t WorstFitness;    // lowest
  int64_t TotalFitness;    // pellets eaten by all bugs in that generation (past 32 bits in huge worlds)
};

// The whole simulated world: population, food, counters and the one random generator.
// Before the first BuildPopulation the slots are empty and Tick does nothing.
//
// Slots: up to MaxBugs bugs and MaxFood pellets the world has exactly that many slots, as it
// always had, so every random draw stays where it was; a larger population has one slot per
// bug, a larger food count one per pellet, drawn and dumped in the same order.
class TWorld {
 public:
  static constexpr int32_t MaxBugs = 200;
  static constexpr int32_t MaxFood = 100;
  static int32_t BugSlotsFor(int32_t bugs) { return bugs > MaxBugs ? bugs : MaxBugs; }
  static int32_t FoodSlotsFor(int32_t food) { return food > MaxFood ? food : MaxFood; }
  static constexpr int32_t InitialTimeToLive = 3000;

  // The host must outlive the world.
  explicit TWorld(TWorldHost& host, TNetworkLog log = TNetworkLog());

  bool HasPopulation() const { return !Nets.empty(); }

  // Replaces any previous population with a fresh one and resets the counters, reading the
  // starting conditions from the host and the model's values from Parameters (whose counts
  // and field are the host's business). Draws all weights, then the bugs, then the food.
  void BuildPopulation();
  void CreateCreatures();
  void CreateFood();
  void PlaceFood(int32_t index);

  // One tick: count down, end the generation when the time is up, update, eat.
  void Tick();
  void EndGeneration();
  // Raises EInOutError when a log line cannot be written; the bugs not yet updated keep
  // their state and the caller abandons the rest of the tick.
  void UpdateCreatures();
  void EatFood();

  // The lifetime box's value now. A value of 0 or less (a box still being typed in) would
  // let the countdown pass 0 and never end a generation: the box's minimum stands in.
  int32_t Lifetime() const;

  // Index of the active pellet nearest to (x, y); ties keep the lower index.
  int32_t NearestFood(double x, double y) const;

  // The tick runs the networks block by block in the shape it took from them, reading their
  // weights in place: a weight edited by any means takes effect on the next tick. After
  // changing a network's Step or replacing a network, call this; debug builds assert when a
  // tick finds a network whose shape changed.
  void NetworksChanged() { RebuildBatched(); }

  TWorldHost& Host;
  TNetworkLog Log;
  TRandomGenerator Random;
  // Read by BuildPopulation (the layers, the gene range) and by every tick and generation
  // end (rates, turn, speed, eating); set it before BuildPopulation.
  TParameters Parameters;

  std::vector<TNeuralNet> Nets;          // the bug slots once a population exists
  std::vector<TCreature> Creatures;      // the bug slots
  std::vector<TFood> Food = std::vector<TFood>(MaxFood);  // the pellet slots
  // Where each bug slot's network came from at the last generation end (see TParentage);
  // all unknown before the first. Kept beside the networks, one per slot.
  std::vector<TParentage> Parentage;

  int32_t BugCount = MaxBugs;
  int32_t FoodCount = MaxFood;
  int32_t BugSlots = MaxBugs;   // BugSlotsFor(BugCount) once a population exists
  int32_t FoodSlots = MaxFood;
  std::vector<int32_t> LayerSizes;
  int32_t GenomeLength = 0;
  int32_t Generation = 0;
  int64_t TotalFitness = 0;  // a huge world eats past 32 bits in one generation
  double AverageFitness = 0.0;
  int32_t SelectedBug = 0;
  int32_t SelectedBugFood = 0;
  int32_t MouseX = 0;
  int32_t MouseY = 0;
  int32_t TimeToLive = InitialTimeToLive;

  // Threads that share the sensing, thinking and moving of one tick (1: none). Used only for
  // populations of at least ParallelBugs and without a log or the meters; eating, the log
  // and every random draw stay in bug order, so the results are the same for any number.
  int32_t Threads = 1;
  static constexpr int32_t ParallelBugs = 400;  // two blocks: 1.4 times as fast on two threads

  // Set Profile.Enabled to have every tick add to it. The serial part runs from one tick's
  // parallel run to the next: CloseProfile ends it after the last tick (and before work
  // between ticks that should not count); the next tick opens it again.
  TTickProfile Profile;
  void CloseProfile();

  // Called at every generation end, after the counters are updated; may be empty.
  std::function<void(const TGenerationReport&)> OnGenerationEnd;

  // Whether every tick keeps each network's inputs and outputs, for a caller that looks at
  // them (the Python module). Off by default, so a run does not pay for the copies. Rows by
  // bug slot: NetworkInputs 4 per bug, NetworkOutputs 2 (the impulses); the active bugs'
  // rows hold the last tick's values, the rest zeros.
  bool KeepNetworkValues = false;
  std::vector<double> NetworkInputs;
  std::vector<double> NetworkOutputs;
  // One bug's network as the last tick ran it, for a view of its brain: the 4 inputs as
  // sensed, then every layer's outputs (the hidden layers', then the 2 impulses), the very
  // values that moved the bug. Kept only for the bug KeepActivationsOf names (-1: none, and
  // the tick pays nothing); KeptActivationsBug says whose they are, -1 when the last update
  // kept none (and after BuildPopulation).
  int32_t KeepActivationsOf = -1;
  std::vector<double> KeptActivations;
  int32_t KeptActivationsBug = -1;

 private:
  // The tick's own steps with the pellet grid it loaded once for both (null: plain scans).
  // The first loads Grid and returns whether it serves.
  bool LoadGridAndUpdateCreatures();
  void UpdateCreatures(const TFoodGrid* grid);
  // How many threads share this tick: Threads for a large enough world without a log or
  // the meters, at most one per block, else 1.
  int32_t TickThreads() const;
  void EatFood(TFoodGrid* grid);
  // Whether this tick gathers the eating candidates beside the update (then eating visits
  // only the bugs with something within reach), or every bug asks the grid in its turn.
  // Either gives the same results; the choice is the cheaper one for the world's density.
  bool GathersEating() const {
    return GathersEatingFor(BugCount, FoodCount, Host.FieldWidth(), Host.FieldHeight(), Parameters.EatingDistance);
  }
  static constexpr int32_t GatheredFoodMinimum = 1024;

 public:
  // The same for a world of that shape, before it is built (its memory depends on it).
  static bool GathersEatingFor(int32_t bugs, int32_t food, int32_t fieldWidth, int32_t fieldHeight,
                               double eatingDistance);

 private:
  bool LoadFoodGrid(TFoodGrid& grid) const;
  void Sense(int32_t b, const TFoodGrid* grid, double* inputs);
  // Starts keeping bug b's activations with its 4 inputs; returns where its layers' go.
  double* KeepInputs(int32_t b, const double* inputs);

  // How this tick finds the nearest pellets: a plain scan per bug, the grid, or the bugs in
  // vector lanes against every pellet (a small world's, without any grid: its eating then
  // scans the pellets too).
  enum class TSensing { Plain, Grid, Lanes };
  TSensing Sensing = TSensing::Plain;
  TLanePellets LanePellets;
  // Whether the lanes serve this tick: few pellets, no log, a processor with the lanes.
  bool UsesLanes() const;
  // By bug, written by the tick's update beside each move when ReachesKnown: 0 when the bug
  // provably cannot reach any pellet that still lies where it sensed it, so that its turn
  // at eating only looks at the pellets eaten (and re-placed) before it in this tick.
  std::vector<uint8_t> MayEat;
  bool ReachesKnown = false;  // set by the update, taken (and cleared) by the eating
  double ProfileMark = -1;  // the calling thread's clock where its serial time resumed (-1: closed)
  double ProfileSerialUntilNow();
  std::vector<int32_t> MovedPellets;  // the pellets re-placed so far in this tick's eating, in order

  // Inputs 0 and 1 depend on the nearest pellet's position alone: kept per pellet for the
  // coordinates (bit for bit) they were computed from.
  struct TFoodDirection {
    double X, Y;
    double DirectionX, DirectionY;
  };
  std::vector<TFoodDirection> FoodDirections;  // one per pellet slot, made by CreateFood
  // The pellet's entry, made again first if the pellet has moved since.
  TFoodDirection& RefreshDirection(int32_t pellet);

  std::vector<TBatchedNetworks> Batched;  // one per block of Stride bug slots
  bool BatchedCurrent() const;  // whether there is one per block of the networks
  void RebuildBatched();
  TFoodGrid Grid;  // kept from tick to tick, following every pellet the eating moves
  std::vector<int32_t> EatingCandidates;
  // One block's working rows.
  struct TBlockScratch {
    TBatchedNetworks::TRows Inputs{};
    TBatchedNetworks::TRows Outputs{};  // rows 0, 1: the impulses; 2, 3: the new look vectors
    std::array<double, TBatchedNetworks::Stride> Headings{};
    // Each bug's position before it moves, nearest pellet and least squared distance to
    // any pellet (0 where not known).
    std::array<double, TBatchedNetworks::Stride> BugX{}, BugY{}, LeastSquare{};
    std::array<int32_t, TBatchedNetworks::Stride> Nearest{};
    TWeightList NetInputs = TWeightList(4, 0.0);
    TWeightList NetOutputs = TWeightList(2, 0.0);
  };
  // What the update found for the eating about a run of bugs first .. EndBug - 1.
  struct TGathered {
    int32_t First = 0;
    int32_t EndBug = 0;  // one past the run's last bug
    // Every bug of the run with a pellet within reach, or off the grid's range, in bug
    // order: the bug, its count of pellets (-1: off the range), then the pellets.
    std::vector<int32_t> Eating;
    // The run's bugs within the grid's range by cells of their own (as many as the run has
    // bugs, so that building them costs the run its bugs, not the field): cell c's are
    // BugsByCell[BugCellStart[c] .. BugCellStart[c + 1] - 1], in bug order.
    TCellShape BugCells;
    std::vector<int32_t> BugCellStart;
    std::vector<int32_t> BugsByCell;
    std::vector<int32_t> BugCell;  // by bug from the run's first: its cell, -1 off the range
    // Its bugs within eating reach of coming placement k: NearBugs[NearStart[k] .. NearStart[k + 1] - 1].
    std::vector<int32_t> NearStart;
    std::vector<int32_t> NearBugs;
  };
  // A thread's share of the tick's bugs.
  struct TShare {
    // Made by the thread that uses it, on its first tick: its pages are then first touched
    // there (on the thread's own memory node, and not one after the other by the caller).
    std::unique_ptr<TBlockScratch> Scratch;
    TBlockScratch& BlockScratch() {
      if (!Scratch) Scratch = std::make_unique<TBlockScratch>();
      return *Scratch;
    }
    // Its bugs not taken yet: the thread takes them from the front, the others, once done
    // with their own, from the back.
    TStealableRange Range;
    TGathered Own;                  // about the bugs it took of its own share
    std::vector<TGathered> Stolen;  // about the pieces it took of the others' (StolenCount in use)
    int32_t StolenCount = 0;
    int32_t Updated = 0;            // bugs it moved in the last tick, its own and others'
    int32_t Taken = 0;              // of them the others'
    std::vector<int32_t> Found;     // the gathering's own
    std::vector<int32_t> Changed;   // pellets of its part no longer where the grid holds them
    double UpdateSeconds = 0;       // its last update's wall time
    double Speed = 0;               // bugs per second, smoothed (0: not known)
  };
  // Share t is bugs ShareBounds[t] .. ShareBounds[t + 1] - 1 while several threads work.
  std::vector<int32_t> ShareBounds;
  std::vector<double> ShareSpeeds;  // SplitShares' scratch
  // New bounds from the shares' last speeds, or even ones for a new population or team, and
  // each share's range of bugs to take from them.
  void SplitShares(int32_t threads);
  // Into `changed`, the pellets first .. end - 1 that do not lie where the kept grid holds
  // them (none while it holds no pellets: it is then loaded afresh).
  void FindChangedPellets(int32_t first, int32_t end, std::vector<int32_t>& changed) const;
  // Brings the kept grid to the pellets where they lie now on a W x H field, from the
  // shares' Changed of the first `threads`. The caller has started the eating's round of
  // moves, so these moves are filed under the round before. Returns whether the grid serves
  // this tick.
  bool SettleGrid(int32_t threads, int32_t W, int32_t H);
  std::vector<TShare> Shares = std::vector<TShare>(1);
  std::vector<const TGathered*> Gathered;  // what the coming EatFood takes, in bug order
  std::unique_ptr<TWorkerThreads> Workers;  // while Threads > 1 is in use
  // Bugs first .. end - 1, block by block.
  void UpdateRun(int32_t first, int32_t end, const TFoodGrid* grid, TBlockScratch& scratch);
  // Thread t's part of a tick on `threads`: its share, then pieces of the others' while any
  // is left; with what the eating needs gathered beside each.
  void UpdateShareAndSteal(int32_t t, int32_t threads, const TFoodGrid* grid);
  // Bugs first .. first + count - 1 (count <= TBatchedNetworks::Stride) through the batched
  // networks, block by block: no bug's update reads another's.
  void UpdateBlock(int32_t block, int32_t first, int32_t count, const TFoodGrid* grid, TBlockScratch& scratch);
  // Steps 1 and 2 for those bugs: their inputs in scratch.Inputs.
  void SenseBlock(int32_t first, int32_t count, const TFoodGrid* grid, TBlockScratch& scratch);
  // Bugs first .. end - 1: the pellets each would eat where the grid has them, and the bugs
  // by cell, with the thread's scratch.
  void GatherEatingCandidates(const TFoodGrid& grid, int32_t first, int32_t end, TGathered& gathered,
                              std::vector<int32_t>& scratch) const;
  // Notes in Pending every bug after `eater` within eating reach of the pellet where it
  // lies now, from the gathered runs.
  // `placement` counts the pellets re-placed in this eating before this one.
  void NoteMovedPellet(int32_t eater, int32_t pellet, int32_t placement);
  // Where the eating's first `expected` re-placed pellets will land (the generator decides
  // them alone), so that each share finds its bugs near them beside its update, and the
  // eating, alone, looks none of them up. ComingCount of them hold, drawn at ComingSeed.
  void DrawComingPlacements(int32_t expected);
  std::vector<TFood> ComingPlacements;
  int32_t ComingCount = 0;
  uint32_t ComingSeed = 0;
  int32_t LastPlacements = 0;  // pellets re-placed in the last eating, to size the next drawing
  int32_t ExpectedPlacements() const { return std::min(2 * LastPlacements + 16, 1 << 16); }
  void FindBugsNearPlacements(TGathered& gathered) const;
  // (bug << 32 | pellet), a heap with the least on top: the turns the moved pellets add.
  std::vector<uint64_t> Pending;
  TWeightList NetInputs = TWeightList(4, 0.0);
  TWeightList NetOutputs;
  // Bug b's inputs and impulses into NetworkInputs and NetworkOutputs, when kept.
  void KeepValues(int32_t b, const double* inputs, double left, double right);
};

}  // namespace zemlix
