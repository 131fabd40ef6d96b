#include <clocale>
#include <iostream>

#include "sim/Runner.h"
#include "sim/RunnerOptions.h"

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");  // the log's dates in the user's format; numbers stay C
  std::ios::sync_with_stdio(false);
  const auto parsed = zemlix::ParseRunnerOptions(argc, argv, std::cout, std::cerr);
  if (!parsed.Options) return parsed.ExitStatus;
  return zemlix::RunHeadless(*parsed.Options, std::cout, std::cerr);
}
