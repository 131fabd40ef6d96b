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
  uint64_t TakenBugs = 0;  // bugs a thread done early took over from another's share
  // What one section between two clock readings counts beyond its own time: the tail of the
  // reading that opens it and the head of the one that closes it (a reading is a system call
  // of a microsecond or more on some virtual machines). Measured when profiling starts and
  // taken out of every section above, so that the profile counts the program, not itself.
  double ReadingSeconds = -1;  // not measured yet
};

// The calling thread's processor time so far, in seconds.
double ThreadSeconds();
// The median of many empty sections' times: what a section's two readings add to it.
double EmptySectionSeconds();

}  // namespace zemlix
