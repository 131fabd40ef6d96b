#include "ui/FamilyLines.h"

#include <algorithm>

namespace zemlix {

void TFamilyLines::Start(int32_t generation, std::span<const TParentage> parentage) {
  Generations_.clear();
  Newest_ = generation;
  Generations_.emplace_back(parentage.begin(), parentage.end());
  ++Version_;
}

void TFamilyLines::Add(int32_t generation, std::span<const TParentage> parentage) {
  // A generation that does not follow the last (never so in one run) starts the lines again.
  if (generation != Newest_ + 1) Generations_.clear();
  Newest_ = generation;
  Generations_.emplace_back(parentage.begin(), parentage.end());
  while (Generations_.size() > static_cast<size_t>(Capacity)) Generations_.pop_front();
  ++Version_;
}

TParentage TFamilyLines::Of(int32_t generation, int32_t bug) const {
  const int64_t back = static_cast<int64_t>(Newest_) - generation;
  if (back < 0 || back >= static_cast<int64_t>(Generations_.size()) || bug < 0) return {};
  const std::vector<TParentage>& entry = Generations_[Generations_.size() - 1 - back];
  return static_cast<size_t>(bug) < entry.size() ? entry[bug] : TParentage{};
}

TAncestry Ancestry(const TFamilyLines& lines, int32_t bug, int32_t generations) {
  TAncestry ancestry;
  ancestry.Generation = lines.Newest();
  ancestry.Rows.push_back({{bug, lines.Of(lines.Newest(), bug)}});
  for (int32_t back = 1; back <= generations; ++back) {
    std::vector<TAncestry::TNode>& children = ancestry.Rows.back();
    std::vector<int32_t> parents;
    for (const TAncestry::TNode& child : children)
      if (child.Origin.Known()) {
        parents.push_back(child.Origin.ParentA);
        if (child.Origin.CrossoverPoint >= 0) parents.push_back(child.Origin.ParentB);
      }
    if (parents.empty()) break;
    std::sort(parents.begin(), parents.end());
    parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
    const auto position = [&parents](int32_t parent) {
      return static_cast<int32_t>(std::lower_bound(parents.begin(), parents.end(), parent) - parents.begin());
    };
    for (TAncestry::TNode& child : children) {
      if (!child.Origin.Known()) continue;
      child.ParentA = position(child.Origin.ParentA);
      if (child.Origin.CrossoverPoint >= 0 && child.Origin.ParentB != child.Origin.ParentA)
        child.ParentB = position(child.Origin.ParentB);
    }
    std::vector<TAncestry::TNode> row;
    for (int32_t parent : parents) row.push_back({parent, lines.Of(ancestry.Generation - back, parent)});
    ancestry.Rows.push_back(std::move(row));
  }
  return ancestry;
}

}  // namespace zemlix
