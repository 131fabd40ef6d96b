#include "video/GifPalette.h"

#include <limits>

namespace zemlix {

std::uint8_t TGifPalette::Index(std::uint32_t color) {
  color &= 0x00FFFFFFu;
  if (const auto found = Known_.find(color); found != Known_.end()) return found->second;
  std::uint8_t index = 0;
  if (Used_ < static_cast<int>(Entries_.size())) {
    index = static_cast<std::uint8_t>(Used_++);
    Entries_[index] = 0xFF000000u | color;
  } else {
    const auto channel = [](std::uint32_t value, int shift) { return static_cast<int>((value >> shift) & 0xFF); };
    long best = std::numeric_limits<long>::max();
    for (int i = 0; i < Used_; ++i) {
      long distance = 0;
      for (int shift : {0, 8, 16}) {
        const long d = channel(color, shift) - channel(Entries_[i], shift);
        distance += d * d;
      }
      if (distance < best) {
        best = distance;
        index = static_cast<std::uint8_t>(i);
      }
    }
  }
  Known_.emplace(color, index);
  return index;
}

}  // namespace zemlix
