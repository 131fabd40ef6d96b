#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "base/StealableRange.h"

namespace zemlix {
namespace {

using TPiece = TStealableRange::TPiece;

// Takes from either end in turn, on one thread: the pieces, the halves left behind, the
// cuts at multiples of the alignment and the refusals when a half would be too small.
TEST(StealableRange, TakesFromBothEnds) {
  struct TStep {
    char End;    // 'f': the owner, cutting `cut` items ahead; 'b': another thread, least 16 on lanes of 8
    int32_t Cut;
    TPiece Expected;
  };
  struct TCase {
    const char* Name;
    int32_t First, End;
    std::vector<TStep> Steps;
  };
  const TCase cases[] = {
      {"halves from the back, cut at lanes, until a half would hold fewer than 16",
       0,
       100,
       {{'b', 0, {56, 100}}, {'b', 0, {32, 56}}, {'b', 0, {16, 32}}, {'b', 0, {}}, {'f', 16, {0, 16}}, {'f', 1, {}}}},
      {"the owner's cut is held within what is left",
       8,
       40,
       {{'f', 0, {8, 9}}, {'f', 100, {9, 40}}, {'f', 5, {}}, {'b', 0, {}}}},
      {"an odd end: the thief's cut still lies on a lane",
       24,
       87,
       {{'b', 0, {56, 87}}, {'f', 8, {24, 32}}, {'b', 0, {}}, {'f', 8, {32, 40}}, {'f', 100, {40, 56}}}},
      {"an empty range", 5, 5, {{'f', 1, {}}, {'b', 0, {}}}},
      {"a range given backwards is empty", 9, 3, {{'f', 1, {}}, {'b', 0, {}}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TStealableRange range;
    range.Reset(c.First, c.End);
    for (size_t s = 0; s < c.Steps.size(); ++s) {
      const TStep& step = c.Steps[s];
      const TPiece piece = step.End == 'f'
                               ? range.TakeFront([&](int32_t front, int32_t) { return front + step.Cut; })
                               : range.TakeBack(16, 8);
      EXPECT_EQ(piece.Empty(), step.Expected.Empty()) << "step " << s;
      if (!step.Expected.Empty()) {
        EXPECT_EQ(piece.First, step.Expected.First) << "step " << s;
        EXPECT_EQ(piece.End, step.Expected.End) << "step " << s;
      }
    }
  }
}

// An owner and three thieves at once, many times over: every item is taken exactly once,
// and every thief's piece begins on a lane.
TEST(StealableRange, EveryItemIsTakenOnceUnderContention) {
  constexpr int32_t First = 8, End = 20003, Rounds = 200;
  for (int32_t round = 0; round < Rounds; ++round) {
    TStealableRange range;
    range.Reset(First, End);
    std::vector<std::vector<TPiece>> taken(4);
    std::vector<std::thread> thieves;
    for (int32_t t = 1; t < 4; ++t)
      thieves.emplace_back([&, t] {
        for (int32_t idle = 0; idle < 1000;) {
          const TPiece piece = range.TakeBack(8, 8);
          if (piece.Empty()) {
            ++idle;
            std::this_thread::yield();
            continue;
          }
          taken[t].push_back(piece);
        }
      });
    for (TPiece piece; !(piece = range.TakeFront([](int32_t front, int32_t) { return front + 24; })).Empty();)
      taken[0].push_back(piece);
    for (std::thread& thief : thieves) thief.join();
    std::vector<int32_t> times(End, 0);
    for (int32_t t = 0; t < 4; ++t)
      for (const TPiece& piece : taken[t]) {
        ASSERT_LT(piece.First, piece.End);
        if (t > 0) {
          ASSERT_EQ(piece.First % 8, 0) << "thief " << t;
        }
        for (int32_t item = piece.First; item < piece.End; ++item) ++times[item];
      }
    for (int32_t item = 0; item < End; ++item) ASSERT_EQ(times[item], item >= First ? 1 : 0) << "item " << item;
  }
}

}  // namespace
}  // namespace zemlix
