#pragma once

#include <ostream>

#include "sim/RunnerOptions.h"

namespace zemlix {

// Runs a batch (`options.Seeds` set) on every rank of MPI_COMM_WORLD; every rank calls it
// with the same options. Rank 0 hands out the work items one at a time to whichever rank
// asks (itself included, between ticks of its own item), so fast and slow items balance; it
// alone reads and writes the journal and the files, with `out` and `error` (other ranks may
// pass streams that discard). Returns rank 0's exit status on every rank, as RunHeadless
// would: 2 when the journal or an output is refused before any work, or when a node's
// memory cannot hold a world for each of its ranks; 1 after a failure (memory running out
// included, naming the item and the rank). With DryRun rank 0 says what would run.
int RunSweepOnRanks(const TRunnerOptions& options, std::ostream& out, std::ostream& error);

// Compares every rank's options that decide the rows (TSweep::Identity; for a single world,
// only that it is one) before anything is read or written: a rank given others would mix
// its rows into the files and the journal. On a difference rank 0 names the first option
// that differs, with both values, on `error`. Returns 2 then, else 0, on every rank.
int CheckSameOptions(const TRunnerOptions& options, std::ostream& error);

// Rank 0's `status` on every rank; waits without keeping a core busy.
int ShareStatus(int status);

}  // namespace zemlix
