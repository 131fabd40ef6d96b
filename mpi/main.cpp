#include <mpi.h>
#include <unistd.h>

#include <clocale>
#include <iostream>
#include <streambuf>

#include "files/OutputFile.h"
#include "mpi/SweepOnRanks.h"
#include "sim/Runner.h"
#include "sim/RunnerOptions.h"

namespace {

const std::string Program = "zemlix-sim-mpi";

// Where the other ranks' messages go: every rank checks the options, rank 0 alone speaks.
class TDiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

int Run(int argc, char** argv) {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  TDiscardBuffer discard;
  std::ostream silent(&discard);
  std::ostream& out = rank == 0 ? std::cout : silent;
  std::ostream& error = rank == 0 ? std::cerr : silent;

  auto parsed = zemlix::ParseRunnerOptions(argc, argv, out, error, Program);
  // Ranks on other nodes may see other files: the run goes on only where all agree.
  const int mine = parsed.Options ? -1 : parsed.ExitStatus;
  int lowest = 0, highest = 0;
  MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  MPI_Allreduce(&mine, &highest, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (lowest != highest) {
    if (parsed.Options) error << Program << ": the options are not accepted on every rank: check the paths on every node\n";
    return 2;
  }
  if (!parsed.Options) return parsed.ExitStatus;
  if (const int status = zemlix::CheckSameOptions(*parsed.Options, error); status != 0) return status;

  zemlix::TRunnerOptions& options = *parsed.Options;
  // Under mpirun or srun standard error is a pipe: progress comes as lines, not a bar.
  options.Progress = false;
  if (options.Seeds) return zemlix::RunSweepOnRanks(options, out, error);
  // A single world has nothing to share out: rank 0 runs it, as zemlix-sim would.
  return zemlix::ShareStatus(rank == 0 ? zemlix::RunHeadless(options, out, error) : 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");  // the log's dates in the user's format; numbers stay C
  std::ios::sync_with_stdio(false);
  MPI_Init(&argc, &argv);
  // After MPI_Init, which may install handlers of its own: a job scheduler's SIGTERM, or
  // mpirun ending the job when a rank dies, leaves no temporary files behind.
  zemlix::TTemporaryFiles::RemoveOnTerminationSignals();
  const int status = Run(argc, argv);
  std::cout.flush();
  MPI_Finalize();
  return status;
}
