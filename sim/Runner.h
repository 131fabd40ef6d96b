#pragma once

#include <ostream>

#include "sim/RunnerOptions.h"

namespace zemlix {

// Runs what the options ask for: one world, built exactly as the window's Start does or
// loaded from a dump, or a batch of worlds over a range of seeds on several threads.
// Writes data only to `out` (and the files asked for) and everything else to `error`.
// Returns the exit status: 0; 1 after a fatal, I/O or output error; 2 when the file to load
// is unreadable or inconsistent, in which case nothing has run and nothing is written.
int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error);

}  // namespace zemlix
