#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "world/World.h"

namespace zemlix {

// The CSV of generation ends: a header line, then one row per generation end, reals with
// %.17g so they read back exactly. A batch puts the seed first.
std::string CsvHeader(bool withSeed);
std::string FormatCsvRow(const TGenerationReport& report, std::optional<uint32_t> seed = std::nullopt);

}  // namespace zemlix
