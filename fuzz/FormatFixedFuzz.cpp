// FormatFixed against the slow big-integer formatter: any difference is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/FormatFixed.h"
#include "fuzz/SlowFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // Mostly the widths the program uses, sometimes wide ones (past the 40 digits that
  // FormatFixed reads first, up to beyond the 767 a double can have).
  const bool wide = input.ConsumeBool();
  const int precision = wide ? input.ConsumeIntegralInRange(1, 1100) : input.ConsumeIntegralInRange(1, 20);
  const int decimals = wide ? input.ConsumeIntegralInRange(0, 1100) : input.ConsumeIntegralInRange(0, 20);
  const double value = input.ConsumeFloatingPoint<double>();
  if (!std::isfinite(value)) return 0;

  const std::string fast = zemlix::FormatFixed(value, precision, decimals);
  const std::string slow = zemlix::fuzzing::SlowFormatFixed(value, precision, decimals);
  if (fast != slow) {
    std::fprintf(stderr, "FormatFixed(%a, %d, %d)\n  gives    %s\n  expected %s\n", value, precision, decimals,
                 fast.c_str(), slow.c_str());
    std::abort();
  }
  return 0;
}
