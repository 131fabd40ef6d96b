#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zemlix {

// FNV-1a, 64 bits: the checksum of world-file states and journal records. Spelled out so
// the files read the same with any standard library.
class TChecksum {
 public:
  void Add(std::string_view bytes) {
    for (unsigned char byte : bytes) Value = (Value ^ byte) * 1099511628211ull;
  }
  uint64_t Value = 14695981039346656037ull;
};

// The 16 hex digits a file writes for a checksum.
std::string FormatChecksum(uint64_t hash);

}  // namespace zemlix
