#pragma once

#include <ostream>

#include "sim/RunnerOptions.h"

namespace zemlix {

// Runs a batch (`options.Seeds` set) on every rank of MPI_COMM_WORLD; every rank calls it
// with the same options. Rank 0 hands out the work items one at a time to whichever rank
// asks (itself included, between ticks of its own item), so fast and slow items balance; it
// alone reads and writes the journal and the files, with `out` and `error` (other ranks may
// pass streams that discard). Returns rank 0's exit status on every rank, as RunHeadless
// would: 2 when the journal or an output is refused before any work, 1 after a failure.
int RunSweepOnRanks(const TRunnerOptions& options, std::ostream& out, std::ostream& error);

// Rank 0's `status` on every rank; waits without keeping a core busy.
int ShareStatus(int status);

}  // namespace zemlix
