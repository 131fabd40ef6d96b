#include "world/TickProfile.h"

#include <algorithm>
#include <ctime>
#include <vector>

namespace zemlix {

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double EmptySectionSeconds() {
  std::vector<double> sections(201);
  for (double& section : sections) {
    const double begin = ThreadSeconds();
    section = ThreadSeconds() - begin;
  }
  std::nth_element(sections.begin(), sections.begin() + 100, sections.end());
  return sections[100];
}

}  // namespace zemlix
