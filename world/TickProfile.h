#pragma once

#include <cstdint>
#include <vector>

namespace zemlix {

// Where the ticks' time goes, in each thread's own processor time (so that other programs
// on the machine do not count): the serial sections on the calling thread (the generation
// end, the eating, the bookkeeping), and for each thread t its share of the update
// (sensing, networks, moves; the grid it loads for itself) and its waits, at the barrier
// inside the tick and, for the calling thread, for the others to finish. A tick on one
// thread counts its update as thread 0's work. Collected only while Enabled.
struct TTickProfile {
  bool Enabled = false;
  uint64_t Ticks = 0;
  double SerialSeconds = 0;
  std::vector<double> WorkSeconds;  // by thread
  std::vector<double> WaitSeconds;  // by thread
};

// The calling thread's processor time so far, in seconds.
double ThreadSeconds();

}  // namespace zemlix
