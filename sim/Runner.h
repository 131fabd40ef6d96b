#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "sim/RunnerOptions.h"

namespace zemlix {

class TSweep;

// Runs what the options ask for: one world, built exactly as the window's Start does or
// loaded from a dump, or a batch of worlds over a range of seeds on several threads.
// Writes data only to `out` (and the files asked for) and everything else to `error`.
// Returns the exit status: 0; 1 after a fatal, I/O or output error, or when memory ran out
// (one line naming what was being done, no temporary file left); 2 when the file to load is
// unreadable or inconsistent, or the run's memory estimate exceeds `availableMemory`, in
// which case nothing has run and nothing is written. `availableMemory` is the machine's
// free memory in bytes, unknown (no check) when empty; the three-argument form reads it
// from /proc/meminfo. With DryRun it says what would run and what memory it takes.
int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error,
                std::optional<uint64_t> availableMemory);
int RunHeadless(const TRunnerOptions& options, std::ostream& out, std::ostream& error);

// MemAvailable of a /proc/meminfo text, in bytes; empty when it has none.
std::optional<uint64_t> ReadAvailableMemory(std::istream& meminfo);
// This machine's, from /proc/meminfo; empty when it cannot be read.
std::optional<uint64_t> AvailableMemory();

// The memory a run takes at its peak: `Programs` processes (ranks sharing a node), each
// with the program's own, and `Worlds` worlds at once, each with what its runner keeps
// beside it (a loaded file, a dump's text).
struct TMemoryNeed {
  uint64_t WorldBytes = 0;
  uint64_t Worlds = 1;
  uint64_t Programs = 1;
  std::string World;  // the largest world in words: "20000 bugs, 40 pellets, hidden layers [64,64,64,64]"
  uint64_t Total() const;
};
// A batch's: the largest world of its grid, `worldsAtOnce` of them in `programs` processes.
TMemoryNeed BatchMemoryNeed(const TSweep& sweep, uint64_t worldsAtOnce, uint64_t programs);
// Empty when the need fits in `available` (or that is unknown); otherwise the refusal, one
// line with the estimate and the memory available, `where` naming the machine if not empty.
std::string MemoryRefusal(const std::string& program, const TMemoryNeed& need, std::optional<uint64_t> available,
                          const std::string& where = "");
// What --dry-run prints for a batch: the worlds, their ticks, and the memory.
std::string DescribeBatch(const TSweep& sweep, const TMemoryNeed& need, const std::string& workers);
// "1.2 GB", "350 MB", "64 KB": three figures, decimal units.
std::string FormatBytes(uint64_t bytes);

}  // namespace zemlix
