#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/OutputFile.h"
#include "sim/Journal.h"
#include "sim/RunnerOptions.h"

namespace zemlix {

// The ticks a freshly built or loaded world runs. A generation ends in the tick that
// brings the countdown (timeToLive) to 0, and every later one `lifetime` ticks after that,
// so N generation ends take the countdown plus N - 1 lifetimes.
uint64_t TicksToRun(const TRunnerOptions& options, int32_t timeToLive, int32_t lifetime);
// A run that would carry the generation counter past what a world file can hold is
// refused before it starts, rather than overflowing or writing a state no one can load.
bool GenerationCountFits(int32_t generation, uint64_t ticks, int32_t timeToLive, int32_t lifetime);
extern const std::string GenerationCountTooLarge;  // the message of that refusal

// The most work items (grid points times seeds) one batch may have: more than any machine
// runs, and few enough that no count of items, ticks or generations overflows.
inline constexpr uint64_t MaxBatchItems = 1'000'000'000;
// Refuses a batch of more items, before anything is built for them: "" or a message that
// gives the count, however large, and the limit.
std::string BatchSizeRefusal(const TSeedRange& seeds, const std::vector<TSweepAxis>& sweep);

// A sweep: an ordered list of independent work items, each run on a world of its own and
// giving rows of the CSV. An item is known by its index in that list (today a batch has one
// item per seed, in seed order). Whoever runs the items, threads of zemlix-sim or ranks of
// zemlix-sim-mpi, in whatever order, the files are assembled from the results in item order
// and so are the same byte for byte.
class TSweep {
 public:
  // `options` must describe a batch (Seeds set) that BatchSizeRefusal accepts.
  explicit TSweep(const TRunnerOptions& options);

  // Items run grid point by grid point (the last axis fastest), every seed in order within
  // a point.
  uint64_t ItemCount() const { return GridPoints() * Options_.Seeds->Count(); }
  uint64_t GridPoints() const;
  uint64_t PointOf(uint64_t index) const { return index / Options_.Seeds->Count(); }
  // The point's values as the CSV leads its rows with them ("0.2," or "" without a sweep),
  // and the CSV's header.
  std::string PointColumns(uint64_t point) const;
  std::string CsvHeader() const;
  // The swept names as leading header columns ("mutation_rate,").
  std::string AxisColumns() const;
  // "mutation_rate=0.2, hidden_layers=[6]" for the legend; empty without a sweep.
  std::string PointName(uint64_t point) const;
  const TRunnerOptions& Options() const { return Options_; }
  // The lifetime at a grid point: its own when the lifetime is swept.
  int32_t Lifetime(uint64_t point) const;
  // The ticks an item runs, from its own lifetime: N of them with --generations N, the
  // --ticks count whatever the lifetime, otherwise one.
  uint64_t Ticks(uint64_t index) const;
  // The ticks of all items together, by arithmetic over the grid.
  uint64_t TotalTicks() const;
  // Whether every item's generation count stays within what a world file can hold.
  bool GenerationCountsFit() const;
  // The options that decide every item's rows, as a command line ("--bugs 30 --food 40
  // --lifetime 2000 --generations 5 --seeds 1-8"): equal identities, equal rows. A swept
  // lifetime stands in the --sweep alone, the one it replaces deciding nothing.
  std::string Identity() const;
  // "seed 17", for messages.
  std::string Describe(uint64_t index) const;
  // The base parameters with the point's values.
  TParameters PointParameters(uint64_t point) const;

  // Told about an item's progress by the thread that runs it.
  class TObserver {
   public:
    virtual ~TObserver() = default;
    // After every tick; false stops the item, whose rows are then incomplete.
    virtual bool Ticked() { return true; }
    virtual void GenerationEnded() {}
  };
  // Runs one item; any number of threads may run items at once. Its result is the CSV rows,
  // and with --lineage a line LineageMark and the item's rows of the family lines after them.
  std::string RunItem(uint64_t index, TObserver& observer) const;
  static constexpr std::string_view LineageMark = "lineage\n";
  // The rows before the mark (all of them without one), and those after it.
  static std::pair<std::string_view, std::string_view> SplitItemRows(std::string_view rows);

 private:
  std::string ParameterIdentity() const;
  std::string SweepIdentity() const;
  bool Swept(const std::string& name) const;
  // The point's value on every axis ("0.2"), and as settings ("mutation_rate=0.2").
  std::vector<std::string> PointValues(uint64_t point) const;
  std::vector<std::string> PointSettings(uint64_t point) const;

  TRunnerOptions Options_;
  // Each point's lifetime by arithmetic on its index, as items are never listed whole: the
  // lifetime axis's values read once (empty when it is not swept), and how many points in a
  // row share each of them.
  std::vector<int32_t> Lifetimes_;
  uint64_t LifetimeSpan_ = 1;
};

// The items a sweep still has to run, in item order: every index below the item count but
// those a journal holds. Worked out from the indices rather than listed, so that a sweep of
// any size starts at once.
class TPendingItems {
 public:
  TPendingItems() = default;
  // `finished`: sorted, each below `items`.
  TPendingItems(uint64_t items, std::vector<uint64_t> finished);
  uint64_t size() const { return Items_ - Finished_.size(); }
  // The k-th pending item's index, k < size().
  uint64_t operator[](uint64_t k) const;
  const std::vector<uint64_t>& Finished() const { return Finished_; }

 private:
  uint64_t Items_ = 0;
  std::vector<uint64_t> Finished_;
  std::vector<uint64_t> PendingBefore_;  // per finished item, how many pending ones precede it
};

// The threads a sweep of `items` pending items runs on with `jobs` asked for: at least one,
// at most one per item.
unsigned SweepThreads(unsigned jobs, uint64_t items);

// Runs the pending items on SweepThreads(jobs, ...) threads, the calling one among them,
// each thread taking the next item in turn. `finished` gets each finished item's rows, one
// call at a time, in the order the items finish. `observer` hears from every thread at
// once (its calls must be safe for that); when its Ticked returns false the sweep stops:
// the items in hand are dropped and no other starts. Returns "" or the first failure
// ("seed 17: reason", "not enough memory for seed 17"), after which the sweep stops too;
// an exception from `finished` is the failure of that item.
std::string RunSweepItems(const TSweep& sweep, const TPendingItems& pending, unsigned jobs,
                          TSweep::TObserver& observer,
                          const std::function<void(uint64_t index, std::string rows)>& finished);

// Per item, by generation from 1: the average fitness, which the summary and the plot take.
using TItemAverages = std::map<uint64_t, std::vector<double>>;
// The average fitness of each of an item's CSV rows, in order.
std::vector<double> RowAverages(const TSweep& sweep, const std::string& rows);
// A grid point's statistics per generation over its seeds: the mean, and with two seeds
// or more the standard deviation and the 95 % interval. Every item of the point must be in
// `averages`; the generations are those every seed reached.
struct TSweepStatistics {
  std::vector<double> Mean, Deviation, Low, High;
};
TSweepStatistics SweepStatistics(const TSweep& sweep, const TItemAverages& averages, uint64_t point);
// The summary file's text (--summary), every item in `averages`.
std::string FormatSweepSummary(const TSweep& sweep, const TItemAverages& averages);

// What a sweep run writes: the CSV, with each item's rows written as soon as every earlier
// item is in, and the journal, when asked for, which gets every item the moment it is put.
// Used from one thread at a time.
class TSweepOutput {
 public:
  // Reads the journal and opens the outputs before anything runs. On failure says why on
  // `error` (rank 0's, under MPI) and returns 2 with nothing written; otherwise 0.
  static int Open(const TSweep& sweep, const TRunnerOptions& options, std::ostream& out, std::ostream& error,
                  std::unique_ptr<TSweepOutput>& opened);

  // The items still to run, in item order.
  const TPendingItems& Pending() const { return Pending_; }
  // Records a finished item; throws std::runtime_error when the journal cannot be written.
  void Put(uint64_t index, std::string rows);
  // Publishes the CSV (which must be complete) and closes the journal.
  void Commit();
  // Ends the batch: with a failure (the first item's that failed), says so and replaces no
  // file; otherwise commits. Returns the exit status, 0 or 1.
  int Finish(const std::string& failure, std::ostream& error);

 private:
  TSweepOutput() = default;
  // Writes the waiting rows that follow the CSV's last without a gap.
  void WriteReady();

  uint64_t ItemCount_ = 0;
  TPendingItems Pending_;
  std::unique_ptr<TOutputFile> Csv_;
  std::unique_ptr<TOutputFile> Summary_;
  std::unique_ptr<TOutputFile> Plot_;
  std::unique_ptr<TOutputFile> Lineage_;
  std::string FormatPlot() const;
  const TSweep* Sweep_ = nullptr;
  TItemAverages Averages_;  // for the summary and the plot, when asked for
  void KeepAverages(uint64_t index, const std::string& rows);
  std::unique_ptr<TJournalWriter> Journal_;
  std::map<uint64_t, std::string> Waiting_;  // rows of items after a gap
  uint64_t Written_ = 0;                     // items whose rows are in the CSV
};

}  // namespace zemlix
