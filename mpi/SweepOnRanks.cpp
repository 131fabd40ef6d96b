#include "mpi/SweepOnRanks.h"

#include <mpi.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/Progress.h"
#include "sim/Runner.h"
#include "sim/Sweep.h"

namespace zemlix {
namespace {

using TClock = std::chrono::steady_clock;

constexpr int Coordinator = 0;

// Messages between rank 0 and the others. A worker says Ready once, then answers every
// Assign with a Result (the index, then the rows) or a Failure (a message), until Stop.
enum TTag : int { Ready = 1, Result = 2, Failure = 3, Assign = 4, Stop = 5 };

// Ranks that wait share the node's cores with ranks that compute, so waiting sleeps
// between looks instead of spinning as MPI's blocking calls do.
void Wait(MPI_Request& request, MPI_Status* status = MPI_STATUS_IGNORE) {
  int done = 0;
  for (MPI_Test(&request, &done, status); !done; MPI_Test(&request, &done, status))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Every rank's `mine`, in rank order, on rank 0 (empty elsewhere).
std::vector<std::string> GatherAtCoordinator(const std::string& mine) {
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const int size = static_cast<int>(mine.size());
  std::vector<int> sizes(rank == Coordinator ? ranks : 0), offsets(sizes.size());
  MPI_Gather(&size, 1, MPI_INT, sizes.data(), 1, MPI_INT, Coordinator, MPI_COMM_WORLD);
  int total = 0;
  for (size_t r = 0; r < sizes.size(); ++r) {
    offsets[r] = total;
    total += sizes[r];
  }
  std::string all(static_cast<size_t>(total), '\0');
  MPI_Gatherv(mine.data(), size, MPI_CHAR, all.data(), sizes.data(), offsets.data(), MPI_CHAR, Coordinator,
              MPI_COMM_WORLD);
  std::vector<std::string> gathered;
  for (size_t r = 0; r < sizes.size(); ++r) gathered.push_back(all.substr(offsets[r], sizes[r]));
  return gathered;
}

// An identity's options in order, each with its value: "--set mutation_rate" and "0.9" for
// " --set mutation_rate=0.9", so that a --set given on one rank alone still pairs up.
std::vector<std::pair<std::string, std::string>> IdentityOptions(const std::string& identity) {
  std::vector<std::pair<std::string, std::string>> options;
  size_t at = 0;
  while (at < identity.size()) {
    size_t end = identity.find(' ', at);
    if (end == std::string::npos) end = identity.size();
    const std::string word = identity.substr(at, end - at);
    at = end + 1;
    if (word.rfind("--", 0) == 0 || options.empty()) {
      options.emplace_back(word, "");
    } else if ((options.back().first == "--set" || options.back().first == "--sweep") &&
               options.back().second.empty() && word.find('=') != std::string::npos) {
      const size_t equals = word.find('=');
      options.back().first.append(" ").append(word, 0, equals);
      options.back().second = word.substr(equals + 1);
    } else {
      if (!options.back().second.empty()) options.back().second += ' ';
      options.back().second += word;
    }
  }
  return options;
}

// A value as a person would write it: reals in their shortest exact form, not %.17g.
std::string Readable(const std::string& value) {
  double real = 0;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, real);
  if (error != std::errc() || stop != end || value.find('.') == std::string::npos) return value;
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, real).ptr);
}

// What an option is where an identity leaves it out: a --set the default, others not given.
std::string Absent(const std::string& option) {
  if (option.rfind("--set ", 0) == 0)
    if (const TParameterInfo* info = FindParameter(option.substr(6)))
      return "the default " + Readable(FormatParameter(TParameters(), *info));
  return "not given";
}

// The first option, in rank 0's order and then the other's, whose value differs.
std::string FirstDifference(const std::string& first, const std::string& other, int rank) {
  const auto ours = IdentityOptions(first), theirs = IdentityOptions(other);
  const auto find = [](const auto& options, const std::string& name) -> const std::string* {
    for (const auto& [option, value] : options)
      if (option == name) return &value;
    return nullptr;
  };
  const auto describe = [](const std::string* value, const std::string& name) {
    return value ? (value->empty() ? std::string("given") : Readable(*value)) : Absent(name);
  };
  std::vector<std::string> names;
  for (const auto& [option, value] : ours) names.push_back(option);
  for (const auto& [option, value] : theirs) names.push_back(option);
  for (const std::string& name : names) {
    const std::string *mine = find(ours, name), *its = find(theirs, name);
    if (mine && its && *mine == *its) continue;
    return name + " is " + describe(mine, name) + " on rank 0 but " + describe(its, name) + " on rank " +
           std::to_string(rank);
  }
  return "rank " + std::to_string(rank) + " runs other items than rank 0";  // not reached: identities differ
}

std::string NotEnoughMemory(const TSweep& sweep, uint64_t index, int rank) {
  return "not enough memory for " + sweep.Describe(index) + " on rank " + std::to_string(rank);
}

void RunWorker(const TSweep& sweep, int rank) {
  TSweep::TObserver unobserved;
  MPI_Send(nullptr, 0, MPI_BYTE, Coordinator, Ready, MPI_COMM_WORLD);
  for (;;) {
    uint64_t index = 0;
    MPI_Request request;
    MPI_Status status;
    MPI_Irecv(&index, 1, MPI_UINT64_T, Coordinator, MPI_ANY_TAG, MPI_COMM_WORLD, &request);
    Wait(request, &status);
    if (status.MPI_TAG == Stop) return;
    std::string message(sizeof index, '\0');
    int tag = Result;
    try {
      std::memcpy(message.data(), &index, sizeof index);
      message += sweep.RunItem(index, unobserved);
    } catch (const std::bad_alloc&) {
      message = NotEnoughMemory(sweep, index, rank);
      tag = Failure;
    } catch (const std::exception& e) {
      message = sweep.Describe(index) + ": " + e.what();
      tag = Failure;
    }
    MPI_Send(message.data(), static_cast<int>(message.size()), MPI_BYTE, Coordinator, tag, MPI_COMM_WORLD);
  }
}

// Rank 0: hands out the pending items, runs items itself while it waits for results, and
// puts every result into the output the moment it arrives.
class TCoordinator : public TSweep::TObserver {
 public:
  TCoordinator(const TSweep& sweep, TSweepOutput& output, const TRunnerOptions& options, std::ostream& error,
               int ranks)
      : Sweep_(sweep), Output_(output), Options_(options), Error_(error), Ranks_(ranks),
        Total_(sweep.ItemCount()), Done_(Total_ - output.Pending().size()) {}

  int Run() {
    Working_ = Ranks_ - 1;
    for (;;) {
      Serve();
      uint64_t index = 0;
      if (NextItem(index)) {
        try {
          std::string rows = Sweep_.RunItem(index, *this);
          Finished(index, std::move(rows));
        } catch (const std::bad_alloc&) {
          Fail(NotEnoughMemory(Sweep_, index, Coordinator));
        } catch (const std::exception& e) {
          Fail(Sweep_.Describe(index) + ": " + e.what());
        }
      } else if (Working_ == 0) {
        break;
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - Start_).count();
    if (Output_.Finish(Failure_, Error_) != 0) return 1;
    if (!Options_.Quiet)
      Error_ << Options_.Program << ": " << FormatSummary(TicksHere_, seconds, DoneHere_, static_cast<unsigned>(Ranks_), "rank") << "\n";
    return 0;
  }

  // Between ticks of rank 0's own item, often enough that no worker waits long for its next.
  bool Ticked() override {
    if (++Ticks_ % 16 == 0) Serve();
    return true;
  }

 private:
  bool NextItem(uint64_t& index) {
    if (!Failure_.empty() || Next_ == Output_.Pending().size()) return false;
    index = Output_.Pending()[Next_++];
    return true;
  }

  // Answers every message that has arrived.
  void Serve() {
    for (;;) {
      int arrived = 0;
      MPI_Status status;
      MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &arrived, &status);
      if (!arrived) return;
      int size = 0;
      MPI_Get_count(&status, MPI_BYTE, &size);
      std::string message(static_cast<size_t>(size), '\0');
      MPI_Recv(message.data(), size, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      if (status.MPI_TAG == Result) {
        uint64_t index = 0;
        std::memcpy(&index, message.data(), sizeof index);
        Finished(index, message.substr(sizeof index));
      } else if (status.MPI_TAG == Failure) {
        Fail(message);
      }
      uint64_t index = 0;
      if (NextItem(index)) {
        MPI_Send(&index, 1, MPI_UINT64_T, status.MPI_SOURCE, Assign, MPI_COMM_WORLD);
      } else {
        MPI_Send(&index, 1, MPI_UINT64_T, status.MPI_SOURCE, Stop, MPI_COMM_WORLD);
        --Working_;
      }
    }
  }

  void Finished(uint64_t index, std::string rows) {
    try {
      Output_.Put(index, std::move(rows));
    } catch (const std::bad_alloc&) {
      Fail("not enough memory for keeping the rows of " + Sweep_.Describe(index));
      return;
    } catch (const std::runtime_error& e) {
      Fail(e.what());
      return;
    }
    ++Done_;
    ++DoneHere_;
    TicksHere_ += Sweep_.Ticks(index);
    const auto now = TClock::now();
    if (!Options_.Quiet && now - LastReport_ >= std::chrono::seconds(10)) {
      LastReport_ = now;
      Error_ << Options_.Program << ": " << FormatItemProgress(Done_, Total_, DoneHere_, std::chrono::duration<double>(now - Start_).count())
             << "\n"
             << std::flush;
    }
  }

  // The first failure is the one reported; no item is handed out after it, and the items
  // still running are waited for (their results still go to the journal).
  void Fail(const std::string& message) {
    if (Failure_.empty()) Failure_ = message;
  }

  const TSweep& Sweep_;
  TSweepOutput& Output_;
  const TRunnerOptions& Options_;
  std::ostream& Error_;
  const int Ranks_;
  const uint64_t Total_;
  uint64_t Done_;           // finished items, the journal's included
  uint64_t DoneHere_ = 0;   // finished by this run
  uint64_t TicksHere_ = 0;  // the ticks of those, each item's own
  size_t Next_ = 0;         // the next pending item to hand out
  int Working_ = 0;         // workers not yet told to stop
  uint64_t Ticks_ = 0;
  std::string Failure_;
  const TClock::time_point Start_ = TClock::now();
  TClock::time_point LastReport_ = Start_;
};

}  // namespace

int ShareStatus(int status) {
  MPI_Request request;
  MPI_Ibcast(&status, 1, MPI_INT, Coordinator, MPI_COMM_WORLD, &request);
  Wait(request);
  return status;
}

int CheckSameOptions(const TRunnerOptions& options, std::ostream& error) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  // A single world runs on rank 0 alone: only whether it is one must agree.
  const std::string identity = options.Seeds ? TSweep(options).Identity() : "";
  const std::vector<std::string> identities = GatherAtCoordinator(identity);
  int status = 0;
  for (size_t r = 1; r < identities.size() && status == 0; ++r) {
    if (identities[r] == identities[0]) continue;
    const int other = static_cast<int>(r);
    error << options.Program << ": the ranks were given different options: "
          << (identities[0].empty() || identities[r].empty()
                  ? "--seeds is " + std::string(identities[0].empty() ? "not given" : "given") + " on rank 0 but " +
                        (identities[r].empty() ? "not given" : "given") + " on rank " + std::to_string(other)
                  : FirstDifference(identities[0], identities[r], other))
          << "\n";
    status = 2;
  }
  return ShareStatus(status);
}

int RunSweepOnRanks(const TRunnerOptions& options, std::ostream& out, std::ostream& error) {
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const TSweep sweep(options);

  // Every rank runs one world at a time, so a node holds as many as it has ranks; each node
  // checks its own memory, and rank 0 reports the first that lacks it.
  MPI_Comm node;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &node);
  int nodeRanks = 1;
  MPI_Comm_size(node, &nodeRanks);
  MPI_Comm_free(&node);
  const TMemoryNeed need = BatchMemoryNeed(sweep, static_cast<uint64_t>(nodeRanks), static_cast<uint64_t>(nodeRanks));
  const std::optional<uint64_t> available = AvailableMemory();
  char host[MPI_MAX_PROCESSOR_NAME] = {};
  int hostLength = 0;
  MPI_Get_processor_name(host, &hostLength);
  const std::string where = std::string(host, static_cast<size_t>(hostLength)) + " (" + std::to_string(nodeRanks) +
                            " rank" + (nodeRanks == 1 ? "" : "s") + " there, rank " + std::to_string(rank) + " among them)";
  int refused = 0;
  for (const std::string& refusal : GatherAtCoordinator(options.DryRun ? "" : MemoryRefusal(options.Program, need, available, where)))
    if (!refusal.empty() && refused++ == 0) error << refusal << "\n";
  if (const int status = ShareStatus(refused > 0 ? 2 : 0); status != 0) return status;
  if (options.DryRun) {
    int status = 0;
    if (rank == Coordinator) {
      TMemoryNeed whole = need;
      whole.Worlds = static_cast<uint64_t>(ranks);
      errno = 0;
      out << DescribeBatch(sweep, whole, "rank") << "memory: about " << FormatBytes(need.Total())
          << " needed on this node (" << nodeRanks << " world" << (nodeRanks == 1 ? "" : "s")
          << " at once, each up to " << FormatBytes(need.WorldBytes) << "), "
          << (available ? FormatBytes(*available) : std::string("an unknown amount")) << " available\n";
      status = FinishStandardOutput(out, error, 0, options.Program);
    }
    return ShareStatus(status);
  }

  std::unique_ptr<TSweepOutput> output;
  int opening = 0;
  if (rank == Coordinator) {
    try {
      opening = TSweepOutput::Open(sweep, options, out, error, output);
    } catch (const std::bad_alloc&) {
      error << options.Program << ": not enough memory for reading the journal and opening the outputs\n";
      opening = 1;
    }
  }
  const int opened = ShareStatus(opening);
  if (opened != 0) return opened;
  if (rank != Coordinator) {
    RunWorker(sweep, rank);
    return ShareStatus(0);
  }
  return ShareStatus(TCoordinator(sweep, *output, options, error, ranks).Run());
}

}  // namespace zemlix
