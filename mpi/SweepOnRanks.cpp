#include "mpi/SweepOnRanks.h"

#include <mpi.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "sim/Progress.h"
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

void RunWorker(const TSweep& sweep) {
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
      Error_ << FormatSummary(TicksHere_, seconds, DoneHere_, static_cast<unsigned>(Ranks_), "rank") << "\n";
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
      Error_ << FormatItemProgress(Done_, Total_, DoneHere_, std::chrono::duration<double>(now - Start_).count())
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

int RunSweepOnRanks(const TRunnerOptions& options, std::ostream& out, std::ostream& error) {
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const TSweep sweep(options);
  std::unique_ptr<TSweepOutput> output;
  const int opened = ShareStatus(rank == Coordinator ? TSweepOutput::Open(sweep, options, out, error, output) : 0);
  if (opened != 0) return opened;
  if (rank != Coordinator) {
    RunWorker(sweep);
    return ShareStatus(0);
  }
  return ShareStatus(TCoordinator(sweep, *output, options, error, ranks).Run());
}

}  // namespace zemlix
