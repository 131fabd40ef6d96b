#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ai/Chromosome.h"

namespace zemlix {

// The CSV of family lines: a header line, then at every generation end one row per child
// it bred, in bug order: the generation that ended, the child's bug number, its parents,
// the crossover point (-1: a copy of parent_a) and its mutations. Integers only, so it
// reads the same in every locale. A batch puts the seed first, as the fitness CSV does.
std::string LineageHeader(bool withSeed);
// The rows of the children 0 .. children.size() - 1 bred at the end of `generation`, each
// led by `lead` (a sweep's values) and, when given, the seed.
std::string FormatLineageRows(int32_t generation, std::span<const TParentage> children,
                              std::optional<uint32_t> seed = std::nullopt, const std::string& lead = {});

}  // namespace zemlix
