#include "files/FitnessCsv.h"

#include <cinttypes>
#include <cstdio>

namespace zemlix {

std::string CsvHeader(bool withSeed) {
  return withSeed ? "seed,generation,average,best,worst,total\n" : "generation,average,best,worst,total\n";
}

std::string FormatCsvRow(const TGenerationReport& report, std::optional<uint32_t> seed) {
  char row[160];
  std::snprintf(row, sizeof row, "%d,%.17g,%d,%d,%" PRId64 "\n", report.Generation, report.AverageFitness, report.BestFitness,
                report.WorstFitness, report.TotalFitness);
  return seed ? std::to_string(*seed) + "," + row : std::string(row);
}

}  // namespace zemlix
