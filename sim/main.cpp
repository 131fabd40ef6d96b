#include <unistd.h>

#include <clocale>
#include <iostream>

#include "files/OutputFile.h"
#include "sim/Runner.h"
#include "sim/RunnerOptions.h"

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");  // the log's dates in the user's format; numbers stay C
  std::ios::sync_with_stdio(false);
  // Ctrl+C, a closed terminal or a job scheduler's SIGTERM leave no temporary files behind.
  zemlix::TTemporaryFiles::RemoveOnTerminationSignals();
  auto parsed = zemlix::ParseRunnerOptions(argc, argv, std::cout, std::cerr);
  if (!parsed.Options) return parsed.ExitStatus;
  // A progress bar only where someone watches it; redirected output stays clean.
  parsed.Options->Progress = ::isatty(STDERR_FILENO) == 1;
  return zemlix::RunHeadless(*parsed.Options, std::cout, std::cerr);
}
