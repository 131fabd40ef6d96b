#pragma once

#include <ostream>

#include "sim/RunnerOptions.h"

namespace zemlix {

// Builds a population exactly as the window's Start does and runs it. Returns the exit
// status: 0, or 1 after a fatal or I/O error (its message goes to `error`).
int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error);

}  // namespace zemlix
