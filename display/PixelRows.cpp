#include "display/PixelRows.h"

namespace zemlix {

bool HasMaskedRowStores() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool has = __builtin_cpu_supports("avx512f");
  return has;
#else
  return false;
#endif
}

}  // namespace zemlix
