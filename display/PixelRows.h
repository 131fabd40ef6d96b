#pragma once

#include <cstddef>
#include <cstdint>

// Pixel rows and the kernels that store them, kept free of other headers: the kernels' file is
// built for AVX-512, and nothing inline it includes may be shared with the rest of the program.
namespace zemlix {

// Count pixels of row Y from column X: where a drawing may have written.
struct TSpan {
  std::int32_t X = 0, Y = 0, Count = 0;
};

// A row of at most 16 pixels of a kept picture: pixels[First + i] goes to column Dx + i of row
// Dy wherever bit i of Mask is set.
struct TMaskedRow {
  std::int32_t Dx = 0, Dy = 0;
  std::uint32_t Mask = 0, First = 0;
};

// Whether the processor has the masked 512-bit stores (AVX-512 F) the kernels below use.
bool HasMaskedRowStores();

// Stores the rows with (0, 0) on *origin; each row must lie wholly inside the destination, and
// pixels must hold 16 readable words from every row's First.
void StoreMaskedRowsAvx512(std::uint32_t* origin, std::ptrdiff_t stride, const TMaskedRow* rows, std::size_t count,
                           const std::uint32_t* pixels);
// Sets every span, moved by (dx, dy) and clipped to the width x height picture at bits, to word.
void FillSpansAvx512(std::uint32_t* bits, std::ptrdiff_t stride, int width, int height, const TSpan* spans,
                     std::size_t count, int dx, int dy, std::uint32_t word);

}  // namespace zemlix
