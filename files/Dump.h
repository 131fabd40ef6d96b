#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "world/World.h"

namespace zemlix {

// The world file, which is also the runner's state dump: a text format that lets anyone
// compare two builds or two machines bit for bit. Reals are printed with %.17g, so they
// read back exactly. One state is
//   history <generation> <average> <best> <worst> <total>        (generation ends since the previous state)
//   parameters <name>=<value> ...      (only when some differ from the defaults; never bugs, food, lifetime)
//   state tick=.. generation=.. ttl=.. total=.. average=.. selfood=.. seed=.. bugs=.. food=.. lifetime=..
//   bug <i> <X> <Y> <Heading> <Speed> <LookX> <LookY> <Fitness>   (every slot)
//   food <j> <X> <Y>                                              (every slot)
//   net <i> <weight 0> ... <weight 43>                            (every slot, flat order; 43 for the default layers)
//   parent <i> <parent a> <parent b> <crossover point> <mutations> (every slot, only when asked and known; see TParentage)
//   check <FNV-1a of the lines above, from the first history or state line, 16 hex digits>
//   end
// A file holds one state or (the runner's --dump-every) several in a row. The parent lines
// are written when `withParentage` is set and some bug has parents: a state without them
// is the plain format that earlier builds and independent tools read, and loads with every
// parent unknown.
std::string FormatDump(const TWorld& world, uint64_t tick, int32_t lifetime,
                       std::span<const TGenerationReport> history = {}, bool withParentage = false);

// The history lines alone, as FormatDump writes them.
std::string FormatHistory(std::span<const TGenerationReport> history);

}  // namespace zemlix
