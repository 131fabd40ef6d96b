#pragma once

#include <cstdint>
#include <string_view>

#include "world/Parameters.h"

namespace zemlix {

// The memory a world built from `parameters` holds at its peak, in bytes: its bugs (each
// network's weights, body and bookkeeping), the genomes a generation end keeps apart while
// it breeds in place, its pellets with their grid, one more copy of the grid's working
// lists for every further thread that shares a tick (`threads`, as TWorld::Threads), and
// the eating bookkeeping of crowded worlds, where every bug has many pellets within reach.
// Calibrated against the peak resident size of real runs: within a quarter above it for
// the shapes measured, never below. Not counted: the program itself and what its runner
// keeps beside the world (a loaded file, a dump's text).
uint64_t EstimateWorldBytes(const TParameters& parameters, int32_t threads = 1);

// Whether the parameter `name` is one that EstimateWorldBytes reads: a sweep need only be
// sized over those parameters' values.
bool SizesAWorld(std::string_view name);

// The weights of one network of that shape.
uint64_t NetworkWeights(const TParameters& parameters);

}  // namespace zemlix
