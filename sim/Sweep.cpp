#include "sim/Sweep.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <numeric>
#include <thread>

#include "base/StudentT.h"
#include "files/FitnessCsv.h"
#include "files/FitnessPlot.h"
#include "files/LineageCsv.h"
#include "files/SavedState.h"
#include "sim/HeadlessHost.h"

namespace zemlix {

// The ticks a freshly built or loaded world runs. A generation ends in the tick that
// brings the countdown to 0, and every later one `lifetime` ticks after that, so N
// generation ends take the countdown plus N - 1 lifetimes.
uint64_t TicksToRun(const TRunnerOptions& options, int32_t timeToLive, int32_t lifetime) {
  if (options.Generations > 0)
    return static_cast<uint64_t>(timeToLive) + (options.Generations - 1) * static_cast<uint64_t>(lifetime);
  return options.Ticks.value_or(static_cast<uint64_t>(lifetime));
}

// A run that would carry the generation counter past what a world file can hold is
// refused before it starts, rather than overflowing or writing a state no one can load.
bool GenerationCountFits(int32_t generation, uint64_t ticks, int32_t timeToLive, int32_t lifetime) {
  const uint64_t ends = ticks < static_cast<uint64_t>(timeToLive)
                            ? 0
                            : 1 + (ticks - static_cast<uint64_t>(timeToLive)) / static_cast<uint64_t>(lifetime);
  return ends <= static_cast<uint64_t>(MaxSavedGeneration - generation);
}

const std::string GenerationCountTooLarge = "the run would take the generation count past " +
                                            std::to_string(MaxSavedGeneration) +
                                            ", the most a world file can hold\n";

namespace {

// The product of the factors in decimal, however large; each factor at most 2^32.
std::string DecimalProduct(const std::vector<uint64_t>& factors) {
  constexpr uint64_t Base = 1'000'000'000;
  std::vector<uint64_t> digits{1};  // base 10^9, the lowest first
  for (const uint64_t factor : factors) {
    uint64_t carry = 0;
    for (uint64_t& digit : digits) {
      const uint64_t value = digit * factor + carry;  // below 10^9 * 2^32 + 2^32
      digit = value % Base;
      carry = value / Base;
    }
    for (; carry > 0; carry /= Base) digits.push_back(carry % Base);
  }
  while (digits.size() > 1 && digits.back() == 0) digits.pop_back();
  std::string text = std::to_string(digits.back());
  for (size_t k = digits.size() - 1; k-- > 0;) {
    const std::string part = std::to_string(digits[k]);
    text += std::string(9 - part.size(), '0') + part;
  }
  return text;
}

}  // namespace

std::string BatchSizeRefusal(const TSeedRange& seeds, const std::vector<TSweepAxis>& sweep) {
  // Multiplied while the product stays within the limit, so nothing can wrap around.
  uint64_t items = seeds.Count();
  bool tooMany = items > MaxBatchItems;
  std::vector<uint64_t> axes;
  for (const TSweepAxis& axis : sweep) {
    const uint64_t values = axis.Values.size();
    axes.push_back(values);
    if (values == 0 || tooMany) continue;
    tooMany = items > MaxBatchItems / values;
    if (!tooMany) items *= values;
  }
  if (!tooMany) return {};
  const std::string points = DecimalProduct(axes);
  std::vector<uint64_t> all = axes;
  all.push_back(seeds.Count());
  return std::string(sweep.empty() ? "--seeds" : "--seeds and --sweep") + ": the batch would run " +
         DecimalProduct(all) + " worlds (" + points + (points == "1" ? " grid point" : " grid points") + " times " +
         std::to_string(seeds.Count()) + (seeds.Count() == 1 ? " seed" : " seeds") + "), more than the limit of " +
         std::to_string(MaxBatchItems);
}

TSweep::TSweep(const TRunnerOptions& options) : Options_(options) {
  for (size_t a = Options_.Sweep.size(); a-- > 0;) {
    const TSweepAxis& axis = Options_.Sweep[a];
    if (axis.Name == "lifetime") {
      for (const std::string& value : axis.Values) {
        TParameters parameters;
        SetParameterText(parameters, *FindParameter("lifetime"), value);
        Lifetimes_.push_back(parameters.Lifetime);
      }
      break;
    }
    LifetimeSpan_ *= axis.Values.size();
  }
}

bool TSweep::Swept(const std::string& name) const {
  return std::any_of(Options_.Sweep.begin(), Options_.Sweep.end(),
                     [&](const TSweepAxis& axis) { return axis.Name == name; });
}

int32_t TSweep::Lifetime(uint64_t point) const {
  return Lifetimes_.empty() ? Options_.Lifetime : Lifetimes_[point / LifetimeSpan_ % Lifetimes_.size()];
}

// A fresh world's countdown starts at a whole lifetime.
uint64_t TSweep::Ticks(uint64_t index) const {
  const int32_t lifetime = Lifetime(PointOf(index));
  return TicksToRun(Options_, lifetime, lifetime);
}

// Every lifetime value stands at an equal share of the grid points.
uint64_t TSweep::TotalTicks() const {
  if (Lifetimes_.empty()) return ItemCount() * TicksToRun(Options_, Options_.Lifetime, Options_.Lifetime);
  const uint64_t share = ItemCount() / Lifetimes_.size();
  uint64_t total = 0;
  for (int32_t lifetime : Lifetimes_) total += share * TicksToRun(Options_, lifetime, lifetime);
  return total;
}

TPendingItems::TPendingItems(uint64_t items, std::vector<uint64_t> finished)
    : Items_(items), Finished_(std::move(finished)) {
  PendingBefore_.reserve(Finished_.size());
  for (size_t j = 0; j < Finished_.size(); ++j) PendingBefore_.push_back(Finished_[j] - j);
}

// The k-th pending index lies past every finished item with at most k pending ones before it.
uint64_t TPendingItems::operator[](uint64_t k) const {
  return k + static_cast<uint64_t>(std::upper_bound(PendingBefore_.begin(), PendingBefore_.end(), k) -
                                   PendingBefore_.begin());
}

// Only the lifetime decides, so each of its values is checked once, not every point.
bool TSweep::GenerationCountsFit() const {
  std::vector<int32_t> lifetimes = Lifetimes_;
  if (lifetimes.empty()) lifetimes.push_back(Options_.Lifetime);
  return std::all_of(lifetimes.begin(), lifetimes.end(), [this](int32_t lifetime) {
    return GenerationCountFits(0, TicksToRun(Options_, lifetime, lifetime), lifetime, lifetime);
  });
}

std::string TSweep::Identity() const {
  const TSeedRange seeds = *Options_.Seeds;
  const bool lifetimeSwept = Swept("lifetime");
  std::string length;
  if (Options_.Generations > 0)
    length = " --generations " + std::to_string(Options_.Generations);
  else if (Options_.Ticks || !lifetimeSwept)
    length = " --ticks " + std::to_string(Options_.Ticks.value_or(static_cast<uint64_t>(Options_.Lifetime)));
  else
    length = " --generations 1";  // one of each point's own lifetimes
  return "--bugs " + std::to_string(Options_.Bugs) + " --food " + std::to_string(Options_.Food) +
         (lifetimeSwept ? "" : " --lifetime " + std::to_string(Options_.Lifetime)) + length + " --seeds " +
         std::to_string(seeds.First) + "-" + std::to_string(seeds.Last) + ParameterIdentity() + SweepIdentity() +
         (Options_.LineagePath.empty() ? "" : " --lineage");
}

std::string TSweep::SweepIdentity() const {
  std::string text;
  for (const TSweepAxis& axis : Options_.Sweep) {
    text += " --sweep " + axis.Name + "=";
    for (size_t k = 0; k < axis.Values.size(); ++k) text += (k > 0 ? "," : "") + axis.Values[k];
  }
  return text;
}

// The parameters besides the counts and the lifetime above, as --set options.
std::string TSweep::ParameterIdentity() const {
  std::string text;
  for (const std::string& changed : ExperimentParameters(Options_.Parameters)) text += " --set " + changed;
  return text;
}

std::string TSweep::Describe(uint64_t index) const {
  const uint64_t seeds = Options_.Seeds->Count();
  std::string text;
  for (const std::string& setting : PointSettings(PointOf(index))) text += setting + " ";
  return text + "seed " + std::to_string(Options_.Seeds->First + index % seeds);
}

uint64_t TSweep::GridPoints() const {
  uint64_t points = 1;
  for (const TSweepAxis& axis : Options_.Sweep) points *= axis.Values.size();
  return points;
}

// name=value for each axis at this point, the last axis fastest.
std::vector<std::string> TSweep::PointValues(uint64_t point) const {
  std::vector<std::string> values(Options_.Sweep.size());
  for (size_t a = Options_.Sweep.size(); a-- > 0;) {
    const TSweepAxis& axis = Options_.Sweep[a];
    values[a] = axis.Values[point % axis.Values.size()];
    point /= axis.Values.size();
  }
  return values;
}

std::vector<std::string> TSweep::PointSettings(uint64_t point) const {
  std::vector<std::string> settings = PointValues(point);
  for (size_t a = 0; a < settings.size(); ++a) settings[a] = Options_.Sweep[a].Name + "=" + settings[a];
  return settings;
}

TParameters TSweep::PointParameters(uint64_t point) const {
  TParameters parameters = Options_.Parameters;
  const std::vector<std::string> values = PointValues(point);
  for (size_t a = 0; a < values.size(); ++a)
    SetParameterText(parameters, *FindParameter(Options_.Sweep[a].Name), values[a]);
  return parameters;
}

std::string TSweep::PointColumns(uint64_t point) const {
  std::string columns;
  for (const std::string& value : PointValues(point))
    columns += (value.find(',') != std::string::npos ? "\"" + value + "\"" : value) + ",";
  return columns;
}

std::string TSweep::PointName(uint64_t point) const {
  std::string name;
  for (const std::string& setting : PointSettings(point)) name += (name.empty() ? "" : ", ") + setting;
  return name;
}

std::string TSweep::AxisColumns() const {
  std::string columns;
  for (const TSweepAxis& axis : Options_.Sweep) columns += axis.Name + ",";
  return columns;
}

std::string TSweep::CsvHeader() const { return AxisColumns() + zemlix::CsvHeader(true); }

std::string TSweep::RunItem(uint64_t index, TObserver& observer) const {
  const auto seed = static_cast<uint32_t>(Options_.Seeds->First + index % Options_.Seeds->Count());
  const TParameters parameters = PointParameters(PointOf(index));
  const std::string columns = PointColumns(PointOf(index));
  std::string rows, lineage;
  const bool withLineage = !Options_.LineagePath.empty();
  THeadlessHost host(parameters, false);
  TWorld world(host);
  world.Parameters = parameters;
  world.Random.Seed = seed;
  world.OnGenerationEnd = [&](const TGenerationReport& report) {
    rows += columns + FormatCsvRow(report, seed);
    if (withLineage)
      lineage += FormatLineageRows(report.Generation,
                                   std::span(world.Parentage).first(static_cast<size_t>(world.BugCount)), seed, columns);
    observer.GenerationEnded();
  };
  world.BuildPopulation();
  const uint64_t ticks = Ticks(index);
  for (uint64_t tick = 0; tick < ticks; ++tick) {
    world.Tick();
    if (!observer.Ticked()) break;
  }
  if (withLineage) rows.append(LineageMark).append(lineage);
  return rows;
}

std::pair<std::string_view, std::string_view> TSweep::SplitItemRows(std::string_view rows) {
  // The mark stands at the start of a line; no CSV row reads as it.
  size_t at = rows.starts_with(LineageMark) ? 0 : rows.find("\n" + std::string(LineageMark));
  if (at == std::string_view::npos) return {rows, {}};
  if (at > 0) ++at;
  return {rows.substr(0, at), rows.substr(at + LineageMark.size())};
}

unsigned SweepThreads(unsigned jobs, uint64_t items) {
  return static_cast<unsigned>(std::min<uint64_t>(std::max(jobs, 1u), std::max<uint64_t>(items, 1)));
}

std::string RunSweepItems(const TSweep& sweep, const TPendingItems& pending, unsigned jobs,
                          TSweep::TObserver& observer,
                          const std::function<void(uint64_t index, std::string rows)>& finished) {
  const uint64_t count = pending.size();
  std::atomic<uint64_t> next{0};
  std::atomic<bool> stopped{false};
  std::mutex mutex;
  std::string failure;
  // Each thread's view of the observer, which also stops its item once the sweep stops.
  struct TStopping : TSweep::TObserver {
    TSweep::TObserver& Outer;
    std::atomic<bool>& Stopped;
    TStopping(TSweep::TObserver& outer, std::atomic<bool>& stopped) : Outer(outer), Stopped(stopped) {}
    bool Ticked() override {
      if (Stopped.load(std::memory_order_relaxed)) return false;
      if (Outer.Ticked()) return true;
      Stopped = true;
      return false;
    }
    void GenerationEnded() override { Outer.GenerationEnded(); }
  };
  const auto work = [&] {
    TStopping stopping(observer, stopped);
    for (uint64_t at = next++; at < count && !stopped; at = next++) {
      const uint64_t index = pending[at];
      try {
        std::string rows = sweep.RunItem(index, stopping);
        std::lock_guard lock(mutex);
        if (!stopped) finished(index, std::move(rows));
      } catch (const std::bad_alloc&) {
        std::lock_guard lock(mutex);
        if (!stopped.exchange(true)) failure = "not enough memory for " + sweep.Describe(index);
        return;
      } catch (const std::exception& e) {
        std::lock_guard lock(mutex);
        if (!stopped.exchange(true)) failure = sweep.Describe(index) + ": " + e.what();
        return;
      }
    }
  };
  std::vector<std::jthread> pool;
  for (unsigned t = 1; t < SweepThreads(jobs, count); ++t) pool.emplace_back(work);
  work();
  for (std::jthread& thread : pool) thread.join();
  return failure;
}

int TSweepOutput::Open(const TSweep& sweep, const TRunnerOptions& options, std::ostream& out, std::ostream& error,
                       std::unique_ptr<TSweepOutput>& opened) {
  // The single run refuses the same; a batch keeps to what a world file could hold.
  if (!sweep.GenerationCountsFit()) {
    error << options.Program << ": " << GenerationCountTooLarge;
    return 2;
  }
  std::unique_ptr<TSweepOutput> output(new TSweepOutput);
  output->ItemCount_ = sweep.ItemCount();
  TJournalContents journal;
  try {
    output->Csv_ = std::make_unique<TOutputFile>(options.CsvPath, out);
    if (!options.SummaryPath.empty()) output->Summary_ = std::make_unique<TOutputFile>(options.SummaryPath, out);
    if (!options.PlotPath.empty()) output->Plot_ = std::make_unique<TOutputFile>(options.PlotPath, out);
    if (!options.LineagePath.empty()) output->Lineage_ = std::make_unique<TOutputFile>(options.LineagePath, out);
    if (!options.JournalPath.empty()) {
      journal = ReadJournal(options.JournalPath, sweep.Identity(), sweep.ItemCount());
      if (journal.CutShort)
        error << options.Program << ": --journal: note: " << options.JournalPath
              << " ends in an item cut short, which runs again\n";
      output->Journal_ = std::make_unique<TJournalWriter>(options.JournalPath, sweep.Identity(), journal.Finished);
    }
  } catch (const EJournalRefused& e) {
    error << options.Program << ": --journal: " << e.what() << "\n";
    return 2;
  } catch (const std::runtime_error& e) {
    error << options.Program << ": " << e.what() << "\n";
    return 2;
  }
  output->Sweep_ = &sweep;
  output->Csv_->Stream() << sweep.CsvHeader();
  if (output->Lineage_) output->Lineage_->Stream() << sweep.AxisColumns() << LineageHeader(true);
  std::vector<uint64_t> finished;
  finished.reserve(journal.Finished.size());
  for (const auto& entry : journal.Finished) finished.push_back(entry.first);
  output->Pending_ = TPendingItems(output->ItemCount_, std::move(finished));
  for (auto& [index, rows] : journal.Finished) {
    output->KeepAverages(index, rows);
    output->Waiting_.emplace(index, std::move(rows));
  }
  output->WriteReady();
  opened = std::move(output);
  return 0;
}

void TSweepOutput::Put(uint64_t index, std::string rows) {
  if (Journal_) Journal_->Append(index, rows);
  KeepAverages(index, rows);
  Waiting_.emplace(index, std::move(rows));
  WriteReady();
}

void TSweepOutput::WriteReady() {
  std::ostream& csv = Csv_->Stream();
  for (auto next = Waiting_.find(Written_); next != Waiting_.end(); next = Waiting_.find(Written_)) {
    const auto [rows, lineage] = TSweep::SplitItemRows(next->second);
    csv << rows;
    if (Lineage_) Lineage_->Stream() << lineage;
    Waiting_.erase(next);
    ++Written_;
  }
}

void TSweepOutput::KeepAverages(uint64_t index, const std::string& rows) {
  if (Summary_ || Plot_) Averages_[index] = RowAverages(*Sweep_, std::string(TSweep::SplitItemRows(rows).first));
}

std::vector<double> RowAverages(const TSweep& sweep, const std::string& rows) {
  // Each row: the swept values (a list quoted), the seed, the generation, the average, ...
  std::vector<double> averages;
  const size_t lead = sweep.Options().Sweep.size() + 2;
  for (size_t start = 0; start < rows.size();) {
    const size_t end = rows.find('\n', start);
    const std::string row = rows.substr(start, end - start);
    start = end == std::string::npos ? rows.size() : end + 1;
    size_t field = 0, at = 0;
    bool quoted = false;
    for (; at < row.size() && field < lead; ++at) {
      if (row[at] == '"') quoted = !quoted;
      if (row[at] == ',' && !quoted) ++field;
    }
    averages.push_back(std::strtod(row.c_str() + at, nullptr));
  }
  return averages;
}

TSweepStatistics SweepStatistics(const TSweep& sweep, const TItemAverages& averages, uint64_t point) {
  const uint64_t seeds = sweep.Options().Seeds->Count();
  size_t generations = SIZE_MAX;
  for (uint64_t s = 0; s < seeds; ++s) generations = std::min(generations, averages.at(point * seeds + s).size());
  TSweepStatistics statistics;
  // The two-sided 95 % interval's quantile.
  const double t = seeds > 1 ? StudentTQuantile(0.975L, seeds - 1) : 0;
  for (size_t g = 0; g < generations; ++g) {
    long double sum = 0, squares = 0;
    for (uint64_t s = 0; s < seeds; ++s) sum += averages.at(point * seeds + s)[g];
    const double mean = static_cast<double>(sum / seeds);
    for (uint64_t s = 0; s < seeds; ++s) {
      const long double d = averages.at(point * seeds + s)[g] - static_cast<long double>(mean);
      squares += d * d;
    }
    statistics.Mean.push_back(mean);
    if (seeds < 2) continue;  // no spread from one seed
    const double sd = static_cast<double>(std::sqrt(squares / (seeds - 1)));
    const double half = t * sd / std::sqrt(static_cast<double>(seeds));
    statistics.Deviation.push_back(sd);
    statistics.Low.push_back(mean - half);
    statistics.High.push_back(mean + half);
  }
  return statistics;
}

std::string FormatSweepSummary(const TSweep& sweep, const TItemAverages& averages) {
  std::string text = sweep.AxisColumns() + "generation,seeds,mean,sd,ci_low,ci_high\n";
  const uint64_t seeds = sweep.Options().Seeds->Count();
  for (uint64_t point = 0; point < sweep.GridPoints(); ++point) {
    const TSweepStatistics statistics = SweepStatistics(sweep, averages, point);
    for (size_t g = 0; g < statistics.Mean.size(); ++g) {
      char line[200];
      if (seeds > 1)
        std::snprintf(line, sizeof line, "%zu,%llu,%.17g,%.17g,%.17g,%.17g\n", g + 1,
                      static_cast<unsigned long long>(seeds), statistics.Mean[g], statistics.Deviation[g],
                      statistics.Low[g], statistics.High[g]);
      else
        std::snprintf(line, sizeof line, "%zu,1,%.17g,nan,nan,nan\n", g + 1, statistics.Mean[g]);
      text += sweep.PointColumns(point) + line;
    }
  }
  return text;
}

std::string TSweepOutput::FormatPlot() const {
  const TRunnerOptions& options = Sweep_->Options();
  std::vector<TPlotSeries> series;
  for (uint64_t point = 0; point < Sweep_->GridPoints(); ++point) {
    TSweepStatistics statistics = SweepStatistics(*Sweep_, Averages_, point);
    std::string name = Sweep_->PointName(point);
    series.push_back({name.empty() ? "mean average fitness" : name, std::move(statistics.Mean),
                      std::move(statistics.Low), std::move(statistics.High)});
  }
  const TSeedRange& seeds = *options.Seeds;
  std::string title = "Zemlix: mean average fitness over ";
  title += seeds.Count() == 1 ? "seed " + std::to_string(seeds.First)
                              : "seeds " + std::to_string(seeds.First) + "-" + std::to_string(seeds.Last) +
                                    ", 95 % confidence bands";
  return FormatSweepPlot(series, title);
}

int TSweepOutput::Finish(const std::string& failure, std::ostream& error) {
  if (!failure.empty()) {
    error << Sweep_->Options().Program << ": " << failure << "\n";
    return 1;
  }
  try {
    Commit();
  } catch (const std::runtime_error& e) {
    error << Sweep_->Options().Program << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}

void TSweepOutput::Commit() {
  if (Summary_) Summary_->Stream() << FormatSweepSummary(*Sweep_, Averages_);
  if (Plot_) Plot_->Stream() << FormatPlot();
  Csv_->Commit();
  if (Summary_) Summary_->Commit();
  if (Plot_) Plot_->Commit();
  if (Lineage_) Lineage_->Commit();
  if (Journal_) Journal_->Close();
}

}  // namespace zemlix
