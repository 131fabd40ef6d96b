#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "world/World.h"

namespace zemlix {

// The runner's state dump: a text format that lets anyone compare two builds or two
// machines bit for bit. Reals are printed with %.17g, so they read back exactly.
//   state tick=.. generation=.. ttl=.. total=.. average=.. selfood=.. seed=.. bugs=.. food=.. lifetime=..
//   bug <i> <X> <Y> <Heading> <Speed> <LookX> <LookY> <Fitness>   (every slot)
//   food <j> <X> <Y>                                              (every slot)
//   net <i> <weight 0> ... <weight 43>                            (every slot, flat order)
//   end
std::string FormatDump(const TWorld& world, uint64_t tick, int32_t lifetime);

}  // namespace zemlix
