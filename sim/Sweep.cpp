#include "sim/Sweep.h"

#include "files/FitnessCsv.h"
#include "files/SavedState.h"
#include "sim/HeadlessHost.h"

namespace zemlix {

TSweep::TSweep(const TRunnerOptions& options) : Options_(options) {}

// A fresh world ends its first generation after one lifetime and every later one a
// lifetime after that, so N generations take N lifetimes.
uint64_t TSweep::TicksPerItem() const {
  const auto lifetime = static_cast<uint64_t>(Options_.Lifetime);
  if (Options_.Generations > 0) return Options_.Generations * lifetime;
  return Options_.Ticks.value_or(lifetime);
}

std::string TSweep::Identity() const {
  const TSeedRange seeds = *Options_.Seeds;
  return "--bugs " + std::to_string(Options_.Bugs) + " --food " + std::to_string(Options_.Food) + " --lifetime " +
         std::to_string(Options_.Lifetime) +
         (Options_.Generations > 0 ? " --generations " + std::to_string(Options_.Generations)
                                   : " --ticks " + std::to_string(TicksPerItem())) +
         " --seeds " + std::to_string(seeds.First) + "-" + std::to_string(seeds.Last) + ParameterIdentity();
}

// The parameters besides the counts and the lifetime above, as --set options.
std::string TSweep::ParameterIdentity() const {
  std::string text;
  for (const std::string& changed : NonDefaultParameters(Options_.Parameters))
    if (changed.rfind("bugs=", 0) != 0 && changed.rfind("food=", 0) != 0 && changed.rfind("lifetime=", 0) != 0)
      text += " --set " + changed;
  return text;
}

std::string TSweep::Describe(uint64_t index) const {
  return "seed " + std::to_string(Options_.Seeds->First + index);
}

std::string TSweep::RunItem(uint64_t index, TObserver& observer) const {
  const auto seed = static_cast<uint32_t>(Options_.Seeds->First + index);
  std::string rows;
  THeadlessHost host(Options_.Parameters, false);
  TWorld world(host);
  world.Parameters = Options_.Parameters;
  world.Random.Seed = seed;
  world.OnGenerationEnd = [&](const TGenerationReport& report) {
    rows += FormatCsvRow(report, seed);
    observer.GenerationEnded();
  };
  world.BuildPopulation();
  const uint64_t ticks = TicksPerItem();
  for (uint64_t tick = 0; tick < ticks; ++tick) {
    world.Tick();
    if (!observer.Ticked()) break;
  }
  return rows;
}

int TSweepOutput::Open(const TSweep& sweep, const TRunnerOptions& options, std::ostream& out, std::ostream& error,
                       std::unique_ptr<TSweepOutput>& opened) {
  // The single run refuses the same; a batch keeps to what a world file could hold.
  const uint64_t lifetime = static_cast<uint64_t>(options.Lifetime);
  if (sweep.TicksPerItem() / lifetime > static_cast<uint64_t>(MaxSavedGeneration)) {
    error << "zemlix-sim: the run would take the generation count past " << MaxSavedGeneration
          << ", the most a world file can hold\n";
    return 2;
  }
  std::unique_ptr<TSweepOutput> output(new TSweepOutput);
  output->ItemCount_ = sweep.ItemCount();
  TJournalContents journal;
  try {
    output->Csv_ = std::make_unique<TOutputFile>(options.CsvPath, out);
    if (!options.JournalPath.empty()) {
      journal = ReadJournal(options.JournalPath, sweep.Identity(), sweep.ItemCount());
      if (journal.CutShort)
        error << "zemlix-sim: --journal: note: " << options.JournalPath
              << " ends in an item cut short, which runs again\n";
      output->Journal_ = std::make_unique<TJournalWriter>(options.JournalPath, sweep.Identity(), journal.Finished);
    }
  } catch (const EJournalRefused& e) {
    error << "zemlix-sim: --journal: " << e.what() << "\n";
    return 2;
  } catch (const std::runtime_error& e) {
    error << "zemlix-sim: " << e.what() << "\n";
    return 2;
  }
  output->Csv_->Stream() << CsvHeader(true);
  for (uint64_t index = 0; index < output->ItemCount_; ++index)
    if (journal.Finished.count(index) == 0) output->Pending_.push_back(index);
  for (auto& [index, rows] : journal.Finished) output->Waiting_.emplace(index, std::move(rows));
  output->WriteReady();
  opened = std::move(output);
  return 0;
}

void TSweepOutput::Put(uint64_t index, std::string rows) {
  if (Journal_) Journal_->Append(index, rows);
  Waiting_.emplace(index, std::move(rows));
  WriteReady();
}

void TSweepOutput::WriteReady() {
  std::ostream& csv = Csv_->Stream();
  for (auto next = Waiting_.find(Written_); next != Waiting_.end(); next = Waiting_.find(Written_)) {
    csv << next->second;
    Waiting_.erase(next);
    ++Written_;
  }
}

void TSweepOutput::Commit() {
  Csv_->Commit();
  if (Journal_) Journal_->Close();
}

}  // namespace zemlix
