#include "files/Checksum.h"

#include <cinttypes>
#include <cstdio>

namespace zemlix {

std::string FormatChecksum(uint64_t hash) {
  char text[20];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

}  // namespace zemlix
