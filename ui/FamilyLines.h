#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "ai/Chromosome.h"

namespace zemlix {

// The parents of the last few generations, as the family window draws them: a world holds
// only its current generation's, so the window keeps each generation end's here. Generation
// g's entry is what the end of generation g bred, the parents being bugs of generation g - 1.
class TFamilyLines {
 public:
  static constexpr int32_t Capacity = 20;  // the most generations the window goes back

  // Forgets everything and starts at a world's current generation and its bugs' parents.
  void Start(int32_t generation, std::span<const TParentage> parentage);
  // What the end of `generation` bred; the oldest entry goes once Capacity are kept.
  void Add(int32_t generation, std::span<const TParentage> parentage);
  // Bug `bug`'s parents in `generation`; unknown when not kept (or never bred).
  TParentage Of(int32_t generation, int32_t bug) const;
  int32_t Newest() const { return Newest_; }
  // Changes with every Start and Add.
  uint64_t Version() const { return Version_; }

 private:
  uint64_t Version_ = 0;
  std::deque<std::vector<TParentage>> Generations_;  // the newest last
  int32_t Newest_ = 0;
};

// A bug's ancestry row by row: Rows[0] holds the bug itself, Rows[d] its distinct ancestors
// d generations back, by bug number. Parents' positions point into the next row.
struct TAncestry {
  struct TNode {
    int32_t Bug;
    TParentage Origin;      // unknown where no parents are kept
    int32_t ParentA = -1;   // positions in the next row; -1: none drawn
    int32_t ParentB = -1;   // -1 also for a copy, and where both parents are one bug
  };
  int32_t Generation = 0;  // Rows[0]'s
  std::vector<std::vector<TNode>> Rows;
};

// `bug`'s ancestry in the newest generation of `lines`, back at most `generations` and no
// further than the lines know.
TAncestry Ancestry(const TFamilyLines& lines, int32_t bug, int32_t generations);

}  // namespace zemlix
