#pragma once

#include <string>
#include <vector>

#include "files/Dump.h"
#include "files/SavedState.h"

namespace zemlix {

// A world as the window saves and opens it and the runner dumps and loads it: one state
// with the whole fitness history before it and the current generation's parents (see
// Dump.h for the format, SavedState.h for reading it back, TWorldFile and ReadWorldFile).
inline std::string FormatWorldFile(const TWorld& world, uint64_t tick, int32_t lifetime,
                                   const std::vector<TGenerationReport>& history) {
  return FormatDump(world, tick, lifetime, history, true);
}

// Writes `text` to `path` through a temporary file and a rename (TOutputFile): the file
// is replaced whole or not at all. Throws std::runtime_error "cannot write PATH: reason".
void WriteWorldFile(const std::string& path, const std::string& text);

}  // namespace zemlix
