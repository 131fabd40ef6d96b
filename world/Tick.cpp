#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

#include "ai/PlainEvaluation.h"
#include "world/AdvancedMathUnit.h"
#include "world/LookVectorFast.h"
#include "world/FoodGrid.h"
#include "world/World.h"

namespace zemlix {
namespace {

bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// The plain scans, for the test switch and for coordinates outside the fast range.
int32_t NearestFoodPlain(const TFood* food, int32_t count, double x, double y) {
  long double best = Distance(x, y, food[0].X, food[0].Y);
  int32_t nearest = 0;
  for (int32_t j = 1; j < count; ++j) {
    const long double d = Distance(x, y, food[j].X, food[j].Y);
    if (d < best) {
      best = d;
      nearest = j;
    }
  }
  return nearest;
}

int32_t NearestFoodIn(const TFoodGrid* grid, const TFood* food, int32_t count, double x, double y) {
  if (grid && TFoodGrid::InRange(x) && TFoodGrid::InRange(y)) return grid->Nearest(x, y, food);
  return NearestFoodPlain(food, count, x, y);
}

// The turn and the new heading, before the look vector follows it.
void Steer(TCreature& c, double left, double right, double turnLimit) {
  // Differences and sums are made in extended precision and rounded once when stored.
  const double turn = std::clamp(static_cast<double>(static_cast<long double>(left) - right), -turnLimit, turnLimit);
  c.Speed = static_cast<double>(static_cast<long double>(left) + right);
  c.Heading = static_cast<double>(c.Heading + static_cast<long double>(turn));
}

// Returns whether the bug wrapped.
bool MoveAndWrap(TCreature& c, int32_t W, int32_t H, double speedCap) {
  c.MoveStep(speedCap);
  const double x = c.X, y = c.Y;
  if (c.X < 0) c.X = W;
  if (c.X > W) c.X = 0;
  if (c.Y < 0) c.Y = H;
  if (c.Y > H) c.Y = 0;
  return !SameBits(x, c.X) || !SameBits(y, c.Y);
}

// Whether a bug that had no pellet nearer than the root of `leastSquare` (in double, to
// every pellet) and then moved by `speed` along its unit look vector, from within
// TFoodGrid::InRange and without wrapping, is certainly out of eating reach of all of them.
// The move covers at most |speed| (1 + 2^-51) plus the rounding of each new coordinate
// (below 2^-32 within InRange), and the true distance before it is at least
// sqrt(leastSquare) (1 - 2^-51): so each pellet stays farther than the eating distance plus
// 2^-21, beyond what the extended Distance could err by. The factors 2^-40 cover the
// roundings of this test itself.
bool OutOfReachAfterMove(double leastSquare, double speed, double eatingDistance) {
  const double reach = eatingDistance + std::fabs(speed) * (1 + 0x1p-40) + 0x1p-20;
  return reach >= 0 && leastSquare > reach * reach * (1 + 0x1p-40);
}

// Steering, moving and wrapping at the field's edges.
void Act(TWorldHost& host, const TParameters& parameters, TCreature& c, double left, double right) {
  Steer(c, left, right, parameters.TurnLimit);
  c.SetHeading(c.Heading);
  MoveAndWrap(c, host.FieldWidth(), host.FieldHeight(), parameters.SpeedCap);
}

}  // namespace

void TWorld::Tick() {
  if (!HasPopulation()) return;  // nothing to move before the first Start
  if (Profile.Enabled) {
    if (Profile.ReadingSeconds < 0) Profile.ReadingSeconds = EmptySectionSeconds();
    if (ProfileMark < 0) ProfileMark = ThreadSeconds();
  }
  --TimeToLive;
  if (TimeToLive == 0) EndGeneration();
  // No pellet moves while the bugs are updated: one grid serves the searches and the eating.
  const bool fast = LoadGridAndUpdateCreatures();
  EatFood(fast ? &Grid : nullptr);
  if (Profile.Enabled) ++Profile.Ticks;
}

void TWorld::CloseProfile() {
  if (ProfileMark < 0) return;
  Profile.SerialSeconds += ThreadSeconds() - ProfileMark - Profile.ReadingSeconds;
  ProfileMark = -1;
}

// The calling thread's time since the mark is serial: the eating and bookkeeping of the last
// tick, this one's generation end and preparations (one section from one reading to the
// next, so a tick's serial part carries the cost of one pair of readings only).
double TWorld::ProfileSerialUntilNow() {
  const double now = ThreadSeconds();
  if (ProfileMark >= 0) Profile.SerialSeconds += now - ProfileMark - Profile.ReadingSeconds;
  return now;
}

bool TWorld::UsesLanes() const {
  return !PlainEvaluation() && !Host.RecordNNIO() && FoodCount <= TLanePellets::MaxFood && TLanePellets::Available();
}

bool TWorld::LoadFoodGrid(TFoodGrid& grid) const {
  return !PlainEvaluation() && grid.Load(Food.data(), FoodCount, Host.FieldWidth(), Host.FieldHeight());
}

void TWorld::EndGeneration() {
  TGenerationReport report{};
  report.BestFitness = Nets[0].Fitness;
  report.WorstFitness = Nets[0].Fitness;
  for (int32_t i = 1; i < BugCount; ++i) {
    report.BestFitness = std::max(report.BestFitness, Nets[i].Fitness);
    report.WorstFitness = std::min(report.WorstFitness, Nets[i].Fitness);
  }

  Parentage.resize(Nets.size());
  Breed(std::span<TNeuralNet>(Nets), BugCount, GenomeLength, Random,
        {Parameters.CrossoverRate, Parameters.MutationRate, Parameters.GeneRange}, Parentage);
  ++Generation;
  AverageFitness = static_cast<double>(static_cast<long double>(TotalFitness) / BugCount);
  report.Generation = Generation;
  report.AverageFitness = AverageFitness;
  report.TotalFitness = TotalFitness;
  TotalFitness = 0;
  TimeToLive = Lifetime();
  if (OnGenerationEnd) OnGenerationEnd(report);
}

int32_t TWorld::NearestFood(double x, double y) const {
  TFoodGrid grid;
  const bool fast = LoadFoodGrid(grid);
  return NearestFoodIn(fast ? &grid : nullptr, Food.data(), FoodCount, x, y);
}

TWorld::TFoodDirection& TWorld::RefreshDirection(int32_t pellet) {
  TFoodDirection& known = FoodDirections[pellet];
  if (!SameBits(known.X, Food[pellet].X) || !SameBits(known.Y, Food[pellet].Y)) {
    known.X = Food[pellet].X;
    known.Y = Food[pellet].Y;
    TFoodGrid::DirectionOf(known.X, known.Y, known.DirectionX, known.DirectionY);
  }
  return known;
}

// Steps 1 and 2 of a bug's update: the nearest pellet and the network's four inputs.
void TWorld::Sense(int32_t b, const TFoodGrid* grid, double* inputs) {
  const TCreature& c = Creatures[b];
  const int32_t nearest = NearestFoodIn(grid, Food.data(), FoodCount, c.X, c.Y);
  if (b == SelectedBug) SelectedBugFood = nearest;
  const TFoodDirection& known = RefreshDirection(nearest);
  inputs[0] = known.DirectionX;
  inputs[1] = known.DirectionY;
  inputs[2] = c.LookX;
  inputs[3] = c.LookY;
}

void TWorld::UpdateCreatures() { LoadGridAndUpdateCreatures(); }

int32_t TWorld::TickThreads() const {
  if (BugCount < ParallelBugs || Host.RecordNNIO() || Host.ShowStats()) return 1;
  return std::clamp(Threads, 1, (BugCount + TBatchedNetworks::Stride - 1) / TBatchedNetworks::Stride);
}

bool TWorld::SettleGrid(int32_t threads, int32_t W, int32_t H) {
  if (PlainEvaluation()) return false;
  size_t changed = 0;
  for (int32_t t = 0; t < threads; ++t) changed += Shares[t].Changed.size();
  // Pellets placed anew by other means (a new population, a loaded state): a new layout.
  if (!Grid.Holds(FoodCount, W, H) || changed > static_cast<size_t>(FoodCount / 8)) {
    if (!Grid.Load(Food.data(), FoodCount, W, H, true)) return false;
  } else {
    for (int32_t t = 0; t < threads; ++t)
      for (int32_t j : Shares[t].Changed)
        if (!Grid.Move(j, Food[j], true)) return false;
    if (Grid.WantsSort()) {
      Grid.LayOutRows(0, Grid.Rows());
      Grid.EndLayout();
    }
  }
  return true;
}

void TWorld::FindChangedPellets(int32_t first, int32_t end, std::vector<int32_t>& changed) const {
  changed.clear();
  if (!Grid.Holds(FoodCount, Host.FieldWidth(), Host.FieldHeight())) return;
  for (int32_t j = first; j < end; ++j)
    if (!Grid.LiesAt(j, Food[j])) changed.push_back(j);
}

void TWorld::SplitShares(int32_t threads) {
  // Shares in multiples of 8 bugs (the networks' lanes), each at least one lane's worth.
  constexpr int32_t Unit = 8;
  const int32_t units = (BugCount + Unit - 1) / Unit;
  const bool fresh = static_cast<int32_t>(ShareBounds.size()) != threads + 1 || ShareBounds.back() != BugCount;
  std::vector<double>& speed = ShareSpeeds;  // kept: no allocation in the serial part
  speed.assign(threads, 1.0);
  if (!fresh) {
    // Each thread's bugs per second over its last shares, smoothed: the next shares make the
    // threads finish together if they keep their speeds.
    for (int32_t t = 0; t < threads; ++t) {
      TShare& share = Shares[t];
      const double bugs = share.Updated;  // its own and those it took from others
      if (share.UpdateSeconds > 0 && bugs > 0) {
        const double now = bugs / share.UpdateSeconds;
        share.Speed = share.Speed > 0 ? 0.5 * share.Speed + 0.5 * now : now;
      }
      speed[t] = share.Speed > 0 ? share.Speed : 1.0;
    }
  } else {
    for (int32_t t = 0; t < threads; ++t) Shares[t].Speed = 0;
  }
  double total = 0;
  for (double v : speed) total += v;
  ShareBounds.assign(threads + 1, 0);
  double sum = 0;
  for (int32_t t = 1; t < threads; ++t) {
    sum += speed[t - 1];
    const int32_t unit = static_cast<int32_t>(units * (sum / total) + 0.5);
    ShareBounds[t] = std::clamp(unit, t, units - (threads - t)) * Unit;
    ShareBounds[t] = std::max(ShareBounds[t], ShareBounds[t - 1] + Unit);
  }
  ShareBounds[threads] = BugCount;
  for (int32_t t = 0; t < threads; ++t) Shares[t].Range.Reset(ShareBounds[t], ShareBounds[t + 1]);
}

bool TWorld::LoadGridAndUpdateCreatures() {
  Gathered.clear();
  ReachesKnown = false;
  MayEat.resize(BugCount);
  if (KeepNetworkValues) {
    // Sized before any thread writes its bugs' rows; a population's slots never change size.
    NetworkInputs.resize(static_cast<size_t>(BugSlots) * 4, 0.0);
    NetworkOutputs.resize(static_cast<size_t>(BugSlots) * 2, 0.0);
  }
  KeptActivationsBug = -1;
  const int32_t threads = TickThreads();
  const bool profiled = Profile.Enabled;
  if (profiled && static_cast<int32_t>(Profile.WorkSeconds.size()) < threads) {
    Profile.WorkSeconds.resize(threads, 0.0);
    Profile.WaitSeconds.resize(threads, 0.0);
  }
  const bool lanes = UsesLanes() && LanePellets.Load(Food.data(), FoodCount);
  if (static_cast<int32_t>(Shares.size()) < threads) Shares.resize(threads);
  if (threads == 1) {
    const double start = profiled ? ProfileSerialUntilNow() : 0;
    bool fast = false;
    if (!lanes) {
      FindChangedPellets(0, FoodCount, Shares[0].Changed);
      Grid.StartMoves();
      fast = SettleGrid(1, Host.FieldWidth(), Host.FieldHeight());
      if (!fast) Grid.Invalidate();
    }
    Sensing = lanes ? TSensing::Lanes : fast ? TSensing::Grid : TSensing::Plain;
    if (fast && GathersEating()) DrawComingPlacements(ExpectedPlacements());
    UpdateCreatures(fast ? &Grid : nullptr);
    if (profiled) {
      ProfileMark = ThreadSeconds();
      Profile.WorkSeconds[0] += ProfileMark - start - Profile.ReadingSeconds;
    }
    return fast;
  }
  Sensing = lanes ? TSensing::Lanes : TSensing::Grid;  // where the grid does not serve: plain
  // One grid for all threads, kept from tick to tick: the eating moves its pellets, and each
  // thread checks its part of the pellets for any moved by other means before the bugs
  // sense. The grid is brought up to date once all have checked, and then only read.
  if (!BatchedCurrent()) RebuildBatched();
  if (!Workers || Workers->Size() != threads) Workers = std::make_unique<TWorkerThreads>(threads);
  SplitShares(threads);
  bool fast = false;
  double settleSeconds = 0;  // the settling's processor time, when it had work
  std::thread::id settler;
  std::atomic<bool> unchecked{false};  // a thread failed before the Sync
  const int32_t W = Host.FieldWidth(), H = Host.FieldHeight();  // the settling asks no one
  // A grid laid out anew (a new population, field or food count): the threads load their
  // parts of the pellets, directions and all, then sort their bands of rows, and the
  // settling only takes the grid.
  const bool fresh =
      !lanes && !PlainEvaluation() && !Grid.Holds(FoodCount, W, H) && Grid.Reserve(FoodCount, W, H, true, false);
  std::atomic<bool> outOfRange{false};  // a part held a pellet the grid does not take
  // A new layout of a kept grid that many pellets have left: each thread lays out its band
  // of rows, and the settling only takes it.
  const bool relayout = !lanes && !fresh && !PlainEvaluation() && Grid.Holds(FoodCount, W, H) && Grid.WantsSort();
  // The eating's round of moves starts here rather than in the settling, which runs on
  // whichever thread arrives last: the grid's counters then stay in this thread's cache for
  // the eating.
  Grid.StartMoves();
  const auto settle = [&]() noexcept {
    bool work = lanes ? false : !Grid.Holds(FoodCount, W, H) || Grid.WantsSort();
    for (int32_t t = 0; t < threads && !work; ++t) work = !Shares[t].Changed.empty();
    const double begin = profiled && work ? ThreadSeconds() : 0;
    try {
      if (lanes || unchecked.load(std::memory_order_relaxed)) {
        fast = false;
      } else if (fresh) {
        const bool inRange = !outOfRange.load(std::memory_order_relaxed);
        fast = Grid.FinishLoad(inRange, inRange);  // the threads sorted their bands if so
      } else {
        if (relayout) Grid.EndLayout();
        fast = SettleGrid(threads, W, H);
      }
    } catch (...) {
      fast = false;  // out of memory: plain scans, and a new grid next time
    }
    if (!fast) Grid.Invalidate();
    if (profiled && work) {
      settleSeconds = ThreadSeconds() - begin - Profile.ReadingSeconds;
      settler = std::this_thread::get_id();
    }
  };
  double firstThreadSeconds = 0;  // the calling thread's own part of the run
  const double runStart = profiled ? ProfileSerialUntilNow() : 0;
  Workers->Run([&](int32_t t) {
    const double begin = profiled ? ThreadSeconds() : 0;
    // With the lanes every pellet's direction is made before any bug senses, so that
    // sensing only reads the shared entries; the grid keeps its own.
    const int32_t first = static_cast<int32_t>(int64_t{FoodCount} * t / threads);
    const int32_t end = static_cast<int32_t>(int64_t{FoodCount} * (t + 1) / threads);
    // Every thread must reach the Sync: a failure here (out of memory) leaves the grid
    // unchecked, and is rethrown once all have passed it.
    std::exception_ptr failure;
    if (fresh) {
      // Each thread sizes some of the grid's arrays, and every one is sized before any part
      // loads.
      try {
        Grid.ReserveArrays(t, threads);
      } catch (...) {
        failure = std::current_exception();
        unchecked.store(true, std::memory_order_relaxed);
      }
      Workers->Sync([] {});
    }
    try {
      if (lanes) {
        for (int32_t j = first; j < end; ++j) RefreshDirection(j);
      } else if (fresh) {
        Shares[t].Changed.clear();
        if (!unchecked.load(std::memory_order_relaxed) && !Grid.LoadPart(Food.data(), first, end))
          outOfRange.store(true, std::memory_order_relaxed);
      } else {
        FindChangedPellets(first, end, Shares[t].Changed);
        if (relayout) Grid.LayOutRows(Grid.Rows() * t / threads, Grid.Rows() * (t + 1) / threads);
      }
      if (t == 0 && !lanes && GathersEating()) DrawComingPlacements(ExpectedPlacements());
    } catch (...) {
      if (!failure) failure = std::current_exception();
      unchecked.store(true, std::memory_order_relaxed);
    }
    if (fresh) {
      // Once every part is loaded, each thread sorts its band of rows (every thread meets
      // every Sync, and each sees the same flags after this one).
      Workers->Sync([] {});
      if (!unchecked.load(std::memory_order_relaxed) && !outOfRange.load(std::memory_order_relaxed))
        Grid.SortRows(Grid.Rows() * t / threads, Grid.Rows() * (t + 1) / threads);
    }
    const double arrived = profiled ? ThreadSeconds() : 0;
    Workers->Sync(settle);
    if (failure) std::rethrow_exception(failure);
    const double left = profiled ? ThreadSeconds() : 0;
    const auto wallStart = std::chrono::steady_clock::now();
    UpdateShareAndSteal(t, threads, fast ? &Grid : nullptr);
    Shares[t].UpdateSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    if (profiled) {
      const double end = ThreadSeconds();
      // The settling ran on the last thread to arrive: its time is the tick's serial part,
      // and the others spent it waiting at the barrier, so it leaves their waits too (a
      // serial part keeps every other thread waiting by itself). Its two readings cut the
      // barrier's section in three.
      const double settled = settler != std::thread::id() ? settleSeconds + 2 * Profile.ReadingSeconds : 0;
      const double reading = Profile.ReadingSeconds;
      Profile.WaitSeconds[t] += left - arrived - settled - reading;
      Profile.WorkSeconds[t] += (end - begin) - (left - arrived) - 2 * reading;
      if (t == 0) firstThreadSeconds = end - begin;
    }
  });
  if (profiled) {
    ProfileMark = ThreadSeconds();
    // The rest of the run the calling thread spent waiting for the others (two sections:
    // from the run's first reading to the share's first, from the share's last to the
    // run's last). The settling was serial.
    Profile.WaitSeconds[0] += ProfileMark - runStart - firstThreadSeconds - 2 * Profile.ReadingSeconds;
    Profile.SerialSeconds += settleSeconds;
    for (int32_t t = 0; t < threads; ++t) Profile.TakenBugs += Shares[t].Taken;
  }
  if (fast && GathersEating()) {
    // Each thread's own run, then the pieces it took from others: in bug order for the eating.
    for (int32_t t = 0; t < threads; ++t) {
      Gathered.push_back(&Shares[t].Own);
      for (int32_t k = 0; k < Shares[t].StolenCount; ++k) Gathered.push_back(&Shares[t].Stolen[k]);
    }
    std::sort(Gathered.begin(), Gathered.end(), [](const TGathered* a, const TGathered* b) { return a->First < b->First; });
  }
  ReachesKnown = true;
  return fast;
}

// Gathering each bug's pellets within reach beside its update, and then giving a turn at
// eating only to the bugs that found one or that an eaten pellet lands next to, pays where
// both are rare. A re-placed pellet lands anywhere on the field alike, so however the bugs
// crowd it lands within reach of BugCount * reach / field of them on average, and each of
// those is noted; a bug's reach holds FoodCount * reach / field pellets. Where either is
// not small, every bug takes its turn in order and asks the grid, which costs a bug its
// reach's cells and the pellets in them, never the eaten pellets times the bugs.
bool TWorld::GathersEatingFor(int32_t bugs, int32_t food, int32_t fieldWidth, int32_t fieldHeight,
                              double eatingDistance) {
  if (food <= GatheredFoodMinimum) return false;
  const double reach = eatingDistance + 1;
  const double reachArea = 3.14159 * reach * reach;
  const double fieldArea = static_cast<double>(fieldWidth) * fieldHeight;
  return food * reachArea <= fieldArea / 4 && bugs * reachArea <= fieldArea;
}

void TWorld::UpdateCreatures(const TFoodGrid* grid) {
  const bool recording = Host.RecordNNIO();
  const bool showStats = Host.ShowStats();
  NetOutputs.resize(LayerSizes.back(), 0.0);  // allocates once per population shape

  if (recording) {
    // One bug after the other: a failed log line must leave the later bugs untouched.
    for (int32_t b = 0; b < BugCount; ++b) {
      Sense(b, grid, NetInputs.data());
      Nets[b].Compute(NetInputs, NetOutputs, b == KeepActivationsOf ? KeepInputs(b, NetInputs.data()) : nullptr);
      if (KeepNetworkValues) KeepValues(b, NetInputs.data(), NetOutputs[0], NetOutputs[1]);
      Log.WriteLog(ExecuteLine(b, NetInputs.data(), NetOutputs[0], NetOutputs[1], Log.DecimalSeparator()));
      Act(Host, Parameters, Creatures[b], NetOutputs[0], NetOutputs[1]);
      if (showStats && b == SelectedBug) Host.DrawImpulseMeters(NetOutputs[0], NetOutputs[1]);
    }
    return;
  }
  if (!BatchedCurrent()) RebuildBatched();
  UpdateRun(0, BugCount, grid, Shares[0].BlockScratch());
  // A large world gathers what each bug may eat right after the update, while the bugs are
  // still in the cache: the eating that follows is in bug order, alone.
  if (grid && GathersEating()) {
    GatherEatingCandidates(*grid, 0, BugCount, Shares[0].Own, Shares[0].Found);
    Gathered.assign(1, &Shares[0].Own);
  }
  ReachesKnown = true;
}

// Without a log no bug's update reads another's, so the same steps run stage by stage over
// a block of bugs, and the networks layer by layer across the block: the long dependency
// chains inside one bug's update then overlap with the others'. The meters only show the
// selected bug's impulses, so they may follow after all bugs have moved.
void TWorld::UpdateRun(int32_t first, int32_t end, const TFoodGrid* grid, TBlockScratch& scratch) {
  constexpr int32_t Stride = TBatchedNetworks::Stride;
  // A run may begin and end inside a block: it runs the block's part it holds.
  for (int32_t b = first; b < end;) {
    const int32_t block = b / Stride;
    const int32_t blockEnd = std::min(end, (block + 1) * Stride);
    UpdateBlock(block, b, blockEnd - b, grid, scratch);
    b = blockEnd;
  }
}

// A share's bugs stay with its thread from tick to tick (their weights stay in its cache),
// and only the tail moves: a thread done early takes the back half of what another has
// left, again and again. The threads' speeds balance the shares only to some tens of
// microseconds a tick, so the owner takes its last TailBugs in small pieces: a thread then
// waits for another's current piece at most, a few microseconds. Pieces are cut at lanes,
// so that no two threads write one lane's networks.
void TWorld::UpdateShareAndSteal(int32_t t, int32_t threads, const TFoodGrid* grid) {
  constexpr int32_t Stride = TBatchedNetworks::Stride;
  static constexpr int32_t Lane = 8;
  static constexpr int32_t TailBugs = 240;
  static constexpr int32_t LeastPiece = 16;
  TShare& share = Shares[t];
  TBlockScratch& scratch = share.BlockScratch();
  const bool gathers = grid && GathersEating();
  const int32_t first = ShareBounds[t];
  int32_t end = first;
  const auto ownPiece = [](int32_t front, int32_t back) {
    const int32_t blockEnd = (front / Stride + 1) * Stride;
    const int32_t tail = (back - TailBugs) / Lane * Lane;  // (front lies on a lane)
    if (tail > front) return std::min(blockEnd, tail);
    return std::min(blockEnd, front + (std::max(LeastPiece, (back - front) / 4) + Lane - 1) / Lane * Lane);
  };
  for (TStealableRange::TPiece piece; !(piece = share.Range.TakeFront(ownPiece)).Empty(); end = piece.End)
    UpdateRun(piece.First, piece.End, grid, scratch);
  share.Updated = end - first;
  share.Taken = 0;
  share.StolenCount = 0;
  for (int32_t k = 1; k < threads; ++k) {
    TShare& other = Shares[(t + k) % threads];
    for (TStealableRange::TPiece piece; !(piece = other.Range.TakeBack(LeastPiece, Lane)).Empty();) {
      UpdateRun(piece.First, piece.End, grid, scratch);
      share.Updated += piece.End - piece.First;
      share.Taken += piece.End - piece.First;
      if (!gathers) continue;
      if (share.StolenCount == static_cast<int32_t>(share.Stolen.size())) share.Stolen.emplace_back();
      GatherEatingCandidates(*grid, piece.First, piece.End, share.Stolen[share.StolenCount++], share.Found);
    }
  }
  // Its own run's gathering last, when none is left to take: every thread has one of about
  // the same size then, and none waits for another's.
  if (gathers) GatherEatingCandidates(*grid, first, end, share.Own, share.Found);
}

void TWorld::UpdateBlock(int32_t block, int32_t first, int32_t count, const TFoodGrid* grid,
                         TBlockScratch& scratch) {
  const bool showStats = Host.ShowStats();
  TBatchedNetworks::TRows& Inputs = scratch.Inputs;
  TBatchedNetworks::TRows& Outputs = scratch.Outputs;
  std::array<double, TBatchedNetworks::Stride>& Headings = scratch.Headings;
  TWeightList& NetInputs = scratch.NetInputs;
  TWeightList& NetOutputs = scratch.NetOutputs;
  SenseBlock(first, count, grid, scratch);
  double* kept = nullptr;
  if (KeepActivationsOf >= first && KeepActivationsOf < first + count) {
    const int32_t k = KeepActivationsOf - first;
    const double sensed[4] = {Inputs[0][k], Inputs[1][k], Inputs[2][k], Inputs[3][k]};
    kept = KeepInputs(KeepActivationsOf, sensed);
  }
  TBatchedNetworks& batched = Batched[block];
  if (batched.Supported() && !PlainEvaluation() && LayerSizes.back() >= 2) {
    batched.Compute(std::span<const TNeuralNet>(Nets).subspan(first, count), Inputs, Outputs,
                    KeepActivationsOf - first, kept);
  } else {
    // Networks the layout does not take (a hidden layer wider than its MaxWidth), and the
    // plain evaluation: one by one.
    for (int32_t k = 0; k < count; ++k) {
      for (int32_t m = 0; m < 4; ++m) NetInputs[m] = Inputs[m][k];
      Nets[first + k].Compute(NetInputs, NetOutputs, first + k == KeepActivationsOf ? kept : nullptr);
      Outputs[0][k] = NetOutputs[0];
      Outputs[1][k] = NetOutputs[1];
    }
  }
  if (KeepNetworkValues)
    for (int32_t k = 0; k < count; ++k) {
      const double inputs[4] = {Inputs[0][k], Inputs[1][k], Inputs[2][k], Inputs[3][k]};
      KeepValues(first + k, inputs, Outputs[0][k], Outputs[1][k]);
    }
  // The look vectors follow the new headings, the whole block at once.
  for (int32_t k = 0; k < count; ++k) {
    Steer(Creatures[first + k], Outputs[0][k], Outputs[1][k], Parameters.TurnLimit);
    Headings[k] = Creatures[first + k].Heading;
  }
  LookVectorBatch(Headings.data(), Outputs[2].data(), Outputs[3].data(), count);
  for (int32_t k = 0; k < count; ++k) {
    Creatures[first + k].LookX = Outputs[2][k];
    Creatures[first + k].LookY = Outputs[3][k];
  }
  const int32_t W = Host.FieldWidth();
  const int32_t H = Host.FieldHeight();
  for (int32_t k = 0; k < count; ++k) {
    TCreature& c = Creatures[first + k];
    const bool wrapped = MoveAndWrap(c, W, H, Parameters.SpeedCap);
    MayEat[first + k] = wrapped || !OutOfReachAfterMove(scratch.LeastSquare[k], c.Speed, Parameters.EatingDistance);
  }
  if (showStats && SelectedBug >= first && SelectedBug < first + count)
    Host.DrawImpulseMeters(Outputs[0][SelectedBug - first], Outputs[1][SelectedBug - first]);
}

// The nearest pellets of a block of bugs where the pellets lie now, and the least squared
// distances the eating's test after the move needs (0 where none is known: such a bug
// always takes its turn).
void TWorld::SenseBlock(int32_t first, int32_t count, const TFoodGrid* grid, TBlockScratch& scratch) {
  for (int32_t k = 0; k < count; ++k) {
    scratch.BugX[k] = Creatures[first + k].X;
    scratch.BugY[k] = Creatures[first + k].Y;
  }
  if (Sensing == TSensing::Lanes)
    LanePellets.Nearest(scratch.BugX.data(), scratch.BugY.data(), count, scratch.Nearest.data(),
                        scratch.LeastSquare.data());
  for (int32_t k = 0; k < count; ++k) {
    const double x = scratch.BugX[k], y = scratch.BugY[k];
    const bool inRange = TFoodGrid::InRange(x) && TFoodGrid::InRange(y);
    // The pellet's direction: from the grid's entry that the search just read, from the
    // entries the lanes share (made before the bugs sense), or made here.
    double direction[2];
    if (!inRange || Sensing == TSensing::Plain || (Sensing == TSensing::Grid && !grid)) {
      scratch.Nearest[k] = NearestFoodPlain(Food.data(), FoodCount, x, y);
      scratch.LeastSquare[k] = 0;
      const TFood& pellet = Food[scratch.Nearest[k]];
      TFoodGrid::DirectionOf(pellet.X, pellet.Y, direction[0], direction[1]);
    } else if (Sensing == TSensing::Grid) {
      // Only the selected bug's pellet is wanted by its index.
      scratch.Nearest[k] = grid->Nearest(x, y, Food.data(), &scratch.LeastSquare[k], direction, first + k == SelectedBug);
    } else {
      const TFoodDirection& known = RefreshDirection(scratch.Nearest[k]);
      direction[0] = known.DirectionX;
      direction[1] = known.DirectionY;
    }
    if (first + k == SelectedBug) SelectedBugFood = scratch.Nearest[k];
    scratch.Inputs[0][k] = direction[0];
    scratch.Inputs[1][k] = direction[1];
    scratch.Inputs[2][k] = Creatures[first + k].LookX;
    scratch.Inputs[3][k] = Creatures[first + k].LookY;
  }
}

void TWorld::KeepValues(int32_t b, const double* inputs, double left, double right) {
  std::copy(inputs, inputs + 4, NetworkInputs.begin() + static_cast<size_t>(b) * 4);
  NetworkOutputs[static_cast<size_t>(b) * 2] = left;
  NetworkOutputs[static_cast<size_t>(b) * 2 + 1] = right;
}

void TWorld::EatFood() {
  ReachesKnown = false;  // no update has just sensed these pellets
  TFoodGrid grid;
  const bool fast = LoadFoodGrid(grid);
  Gathered.clear();  // gathered against another grid
  EatFood(fast ? &grid : nullptr);
}

void TWorld::EatFood(TFoodGrid* grid) {
  bool fast = grid != nullptr;
  const bool reachKnown = ReachesKnown;
  ReachesKnown = false;
  MovedPellets.clear();
  const long double eatingDistance = Parameters.EatingDistance;
  int32_t placements = 0;  // pellets re-placed so far in this eating
  // Whether bug b eats pellet j, where it lies now.
  // Squares in double first: the extended test only for the pellets that may pass it.
  const double eatingSquare = EatingSquareLimit(Parameters.EatingDistance);
  const auto eat = [&](int32_t b, int32_t j) {
    const TCreature& c = Creatures[b];
    const double dx = Food[j].X - c.X, dy = Food[j].Y - c.Y;
    if (dx * dx + dy * dy >= eatingSquare) return false;
    if (!(Distance(c.X, c.Y, Food[j].X, Food[j].Y) < eatingDistance)) return false;
    // A bug eats each pellet at most once a tick, so its 32-bit count holds a generation of
    // the largest world (food * lifetime); it wraps rather than overflow after punishing.
    Nets[b].Fitness = static_cast<int32_t>(static_cast<uint32_t>(Nets[b].Fitness) + 1u);
    ++TotalFitness;
    PlaceFood(j);
    ++placements;
    if (fast) fast = grid->Move(j, Food[j]);
    if (reachKnown) {
      const auto at = std::lower_bound(MovedPellets.begin(), MovedPellets.end(), j);
      if (at == MovedPellets.end() || *at != j) MovedPellets.insert(at, j);
    }
    return true;
  };
  std::vector<int32_t>& candidates = EatingCandidates;
  int32_t b = 0;
  // The placements drawn ahead hold while nothing else has drawn since.
  if (Random.Seed != ComingSeed) ComingCount = 0;
  if (fast && !Gathered.empty()) {
    // What the turns will read, asked for at once rather than one miss after the other.
    for (const TGathered* run : Gathered)
      for (size_t at = 0; at < run->Eating.size(); at += 2 + std::max(run->Eating[at + 1], 0)) {
        const int32_t* entry = run->Eating.data() + at;
        __builtin_prefetch(&Creatures[entry[0]]);
        __builtin_prefetch(&Nets[entry[0]].Fitness, 1);
        for (int32_t k = 0; k < entry[1]; ++k) {
          __builtin_prefetch(&Food[entry[2 + k]], 1);
          grid->Prefetch(entry[2 + k]);
        }
      }
    // Only the bugs with something to eat take a turn: those that found a pellet within
    // reach where the pellets lay when the eating began, and those a pellet has moved next
    // to since, which each move notes in Pending. Each turn looks at exactly what
    // WithinEatingReach would find then.
    Pending.clear();
    size_t run = 0, next = 0;
    // The next gathered entry (bug, count, pellets...), or null after the last.
    const auto nextGathered = [&]() -> const int32_t* {
      while (run < Gathered.size() && next == Gathered[run]->Eating.size()) ++run, next = 0;
      return run < Gathered.size() ? Gathered[run]->Eating.data() + next : nullptr;
    };
    const auto nextPending = [&] { return Pending.empty() ? BugCount : static_cast<int32_t>(Pending.front() >> 32); };
    for (;;) {
      const int32_t* entry = nextGathered();
      const int32_t turn = std::min(entry ? entry[0] : BugCount, nextPending());
      if (turn == BugCount) {
        b = BugCount;
        break;
      }
      if (!fast) break;  // a pellet left the grid's range: plain scans from bug b on
      candidates.clear();
      int32_t loaded = 0;
      if (entry && entry[0] == turn) {
        loaded = entry[1];
        next += 2 + std::max(loaded, 0);
        for (int32_t k = 0; k < loaded; ++k)
          if (!grid->HasMoved(entry[2 + k])) candidates.push_back(entry[2 + k]);
      }
      for (; !Pending.empty() && static_cast<int32_t>(Pending.front() >> 32) == turn; Pending.pop_back()) {
        candidates.push_back(static_cast<int32_t>(Pending.front() & 0xffffffffu));
        std::pop_heap(Pending.begin(), Pending.end(), std::greater<>());
      }
      b = turn + 1;
      if (loaded < 0) {
        // Off the grid's range: every pellet, in order.
        for (int32_t j = 0; j < FoodCount; ++j)
          if (eat(turn, j) && fast) NoteMovedPellet(turn, j, placements - 1);
        continue;
      }
      // A pellet moved twice may be noted twice, and one noted may have moved on since:
      // the test at its turn takes it where it is now.
      std::sort(candidates.begin(), candidates.end());
      candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
      for (int32_t j : candidates)
        if (eat(turn, j) && fast) NoteMovedPellet(turn, j, placements - 1);
    }
  }
  // Room for every pellet, made only when a bug is left for this loop: zeroing it costs a
  // gathered eating more than all its turns.
  if (b < BugCount) candidates.resize(FoodCount);
  for (; b < BugCount; ++b) {
    const TCreature& c = Creatures[b];
    const bool inRange = TFoodGrid::InRange(c.X) && TFoodGrid::InRange(c.Y);
    if (reachKnown && !MayEat[b]) {
      // Only a pellet re-placed since it sensed can be within its reach. MovedPellets does
      // not grow while it eats: each pellet it eats is in it already.
      if (MovedPellets.empty()) continue;
      if (fast && inRange) {
        const int32_t count = grid->MovedWithinEatingReach(c.X, c.Y, Parameters.EatingDistance, candidates.data());
        std::sort(candidates.begin(), candidates.begin() + count);
        for (int32_t k = 0; k < count; ++k) eat(b, candidates[k]);
      } else {
        for (size_t k = 0; k < MovedPellets.size(); ++k) eat(b, MovedPellets[k]);
      }
      continue;
    }
    if (fast && inRange) {
      // The candidates are taken before this bug eats: a pellet it eats moves, but the bug
      // goes on with the next index and never looks at that one again, and no other pellet
      // moves meanwhile.
      const int32_t count = grid->WithinEatingReach(c.X, c.Y, Parameters.EatingDistance, candidates.data());
      for (int32_t k = 0; k < count; ++k) eat(b, candidates[k]);
    } else {
      for (int32_t j = 0; j < FoodCount; ++j) eat(b, j);
    }
  }
  Gathered.clear();
  ComingCount = 0;
  LastPlacements = placements;
}

// The later bugs the pellet now lies within reach of, from the shares' grids of bugs, or,
// for a placement drawn ahead, from the bugs each share found near it.
void TWorld::NoteMovedPellet(int32_t eater, int32_t pellet, int32_t placement) {
  const double x = Food[pellet].X, y = Food[pellet].Y;
  const auto note = [&](int32_t b) {
    Pending.push_back(static_cast<uint64_t>(b) << 32 | static_cast<uint32_t>(pellet));
    std::push_heap(Pending.begin(), Pending.end(), std::greater<>());
  };
  if (placement < ComingCount && SameBits(ComingPlacements[placement].X, x) &&
      SameBits(ComingPlacements[placement].Y, y)) {
    for (const TGathered* run : Gathered) {
      if (run->EndBug <= eater + 1) continue;
      for (int32_t k = run->NearStart[placement]; k < run->NearStart[placement + 1]; ++k)
        if (run->NearBugs[k] > eater) note(run->NearBugs[k]);
    }
    return;
  }
  const long double eatingDistance = Parameters.EatingDistance;
  for (const TGathered* run : Gathered) {
    if (run->EndBug <= eater + 1) continue;
    const auto [left, right, top, bottom] = run->BugCells.CellsWithin(x, y, Parameters.EatingDistance);
    for (int32_t row = top; row <= bottom; ++row)
      for (int32_t k = run->BugCellStart[row * run->BugCells.Columns + left];
           k < run->BugCellStart[row * run->BugCells.Columns + right + 1]; ++k) {
        const int32_t b = run->BugsByCell[k];
        if (b > eater && Distance(Creatures[b].X, Creatures[b].Y, x, y) < eatingDistance) note(b);
      }
  }
}

void TWorld::DrawComingPlacements(int32_t expected) {
  // As PlaceFood draws them, from a copy of the generator.
  TRandomGenerator ahead = Random;
  const int32_t W = Host.FieldWidth(), H = Host.FieldHeight();
  ComingPlacements.resize(expected);
  ComingSeed = Random.Seed;
  ComingCount = 0;
  for (TFood& p : ComingPlacements) {
    p.X = static_cast<double>(W * static_cast<long double>(ahead.Random()));
    p.Y = static_cast<double>(H * static_cast<long double>(ahead.Random()));
    if (!TFoodGrid::InRange(p.X) || !TFoodGrid::InRange(p.Y)) break;
    ++ComingCount;
  }
}

void TWorld::FindBugsNearPlacements(TGathered& gathered) const {
  const long double eatingDistance = Parameters.EatingDistance;
  gathered.NearBugs.clear();
  gathered.NearStart.resize(ComingCount + 1);
  for (int32_t placement = 0; placement < ComingCount; ++placement) {
    gathered.NearStart[placement] = static_cast<int32_t>(gathered.NearBugs.size());
    const double x = ComingPlacements[placement].X, y = ComingPlacements[placement].Y;
    const auto [left, right, top, bottom] = gathered.BugCells.CellsWithin(x, y, Parameters.EatingDistance);
    for (int32_t row = top; row <= bottom; ++row)
      for (int32_t k = gathered.BugCellStart[row * gathered.BugCells.Columns + left];
           k < gathered.BugCellStart[row * gathered.BugCells.Columns + right + 1]; ++k) {
        const int32_t b = gathered.BugsByCell[k];
        if (Distance(Creatures[b].X, Creatures[b].Y, x, y) < eatingDistance) gathered.NearBugs.push_back(b);
      }
  }
  gathered.NearStart[ComingCount] = static_cast<int32_t>(gathered.NearBugs.size());
}

// Exact for the pellets that have not moved when the bug's turn comes: they lie where the
// gathering found them, and no pellet moves before the eating starts.
void TWorld::GatherEatingCandidates(const TFoodGrid& grid, int32_t first, int32_t end, TGathered& gathered,
                                    std::vector<int32_t>& scratch) const {
  gathered.Eating.clear();
  gathered.First = first;
  scratch.resize(FoodCount);
  gathered.EndBug = end;
  // The run's bugs within the range by cell, each cell's in bug order (a counting sort).
  gathered.BugCells.Shape(end - first, Host.FieldWidth(), Host.FieldHeight());
  const int32_t cells = gathered.BugCells.Cells();
  gathered.BugCellStart.assign(cells + 1, 0);
  gathered.BugCell.resize(end - first);
  for (int32_t b = first; b < end; ++b) {
    const TCreature& c = Creatures[b];
    const bool inRange = TFoodGrid::InRange(c.X) && TFoodGrid::InRange(c.Y);
    gathered.BugCell[b - first] = inRange ? gathered.BugCells.CellOfPoint(c.X, c.Y) : -1;
    if (inRange) ++gathered.BugCellStart[gathered.BugCell[b - first] + 1];
  }
  for (int32_t cell = 0; cell < cells; ++cell) gathered.BugCellStart[cell + 1] += gathered.BugCellStart[cell];
  gathered.BugsByCell.resize(gathered.BugCellStart[cells]);
  scratch.assign(gathered.BugCellStart.begin(), gathered.BugCellStart.end() - 1);  // each cell's next entry
  for (int32_t b = first; b < end; ++b)
    if (gathered.BugCell[b - first] >= 0) gathered.BugsByCell[scratch[gathered.BugCell[b - first]]++] = b;

  scratch.resize(std::max(FoodCount, cells));
  const long double eatingDistance = Parameters.EatingDistance;
  for (int32_t b = first; b < end; ++b) {
    const TCreature& c = Creatures[b];
    if (gathered.BugCell[b - first] < 0) {
      gathered.Eating.insert(gathered.Eating.end(), {b, -1});
      continue;
    }
    // The update has shown that nothing lies within its reach where the pellets lie now.
    if (!MayEat[b]) continue;
    int32_t* found = scratch.data();
    const int32_t count = grid.LoadedWithinEatingReach(c.X, c.Y, Parameters.EatingDistance, found);
    int32_t kept = 0;
    for (int32_t k = 0; k < count; ++k)
      if (Distance(c.X, c.Y, Food[found[k]].X, Food[found[k]].Y) < eatingDistance) found[kept++] = found[k];
    if (kept == 0) continue;
    gathered.Eating.insert(gathered.Eating.end(), {b, kept});
    gathered.Eating.insert(gathered.Eating.end(), found, found + kept);
  }
  FindBugsNearPlacements(gathered);
}

}  // namespace zemlix
