#include "files/LineageCsv.h"

#include <charconv>

namespace zemlix {

std::string LineageHeader(bool withSeed) {
  return std::string(withSeed ? "seed," : "") + "generation,child,parent_a,parent_b,crossover_point,mutations\n";
}

std::string FormatLineageRows(int32_t generation, std::span<const TParentage> children, std::optional<uint32_t> seed,
                              const std::string& lead) {
  std::string rows;
  rows.reserve(children.size() * (lead.size() + 40));
  char field[16];
  const auto append = [&](auto value, char after) {
    rows.append(field, std::to_chars(field, field + sizeof field, value).ptr);
    rows += after;
  };
  for (size_t child = 0; child < children.size(); ++child) {
    const TParentage& origin = children[child];
    rows += lead;
    if (seed) append(*seed, ',');
    append(generation, ',');
    append(child, ',');
    append(origin.ParentA, ',');
    append(origin.ParentB, ',');
    append(origin.CrossoverPoint, ',');
    append(origin.Mutations, '\n');
  }
  return rows;
}

}  // namespace zemlix
