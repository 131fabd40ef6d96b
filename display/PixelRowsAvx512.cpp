// Built with -mavx512f; called only where the processor has it.
#include <immintrin.h>

#include "display/PixelRows.h"

namespace zemlix {

void StoreMaskedRowsAvx512(std::uint32_t* origin, std::ptrdiff_t stride, const TMaskedRow* rows, std::size_t count,
                           const std::uint32_t* pixels) {
  for (std::size_t i = 0; i < count; ++i) {
    const TMaskedRow& row = rows[i];
    // Lanes outside the mask are neither written nor able to fault.
    _mm512_mask_storeu_epi32(origin + row.Dy * stride + row.Dx, static_cast<__mmask16>(row.Mask),
                             _mm512_loadu_si512(pixels + row.First));
  }
}

void FillSpansAvx512(std::uint32_t* bits, std::ptrdiff_t stride, int width, int height, const TSpan* spans,
                     std::size_t count, int dx, int dy, std::uint32_t word) {
  const __m512i words = _mm512_set1_epi32(static_cast<int>(word));
  for (std::size_t i = 0; i < count; ++i) {
    if (i + 16 < count) {
      const TSpan& ahead = spans[i + 16];
      const std::int64_t ay = std::int64_t{ahead.Y} + dy, ax = std::int64_t{ahead.X} + dx;
      if (ay >= 0 && ay < height && ax >= 0 && ax < width) __builtin_prefetch(bits + ay * stride + ax, 1, 3);
    }
    const std::int64_t y = std::int64_t{spans[i].Y} + dy;
    if (y < 0 || y >= height) continue;
    std::int64_t from = std::int64_t{spans[i].X} + dx;
    std::int64_t to = from + spans[i].Count;
    if (from < 0) from = 0;
    if (to > width) to = width;
    if (from >= to) continue;
    std::uint32_t* line = bits + y * stride + from;
    std::int64_t left = to - from;
    for (; left > 16; left -= 16, line += 16) _mm512_storeu_si512(line, words);
    _mm512_mask_storeu_epi32(line, static_cast<__mmask16>((1u << left) - 1u), words);
  }
}

}  // namespace zemlix
