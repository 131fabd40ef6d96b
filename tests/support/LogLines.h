#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace zemlix::testing {

// True for a line NN.log can hold whole (without its CR LF): a header line, a start or
// close line, or an Execute line with all six numbers in the log's fixed format.
inline bool IsWholeLogLine(std::string_view line) {
  for (std::string_view prefix : {"NN Log Created: ", "Program Started: ", "Program Closed: "})
    if (line.substr(0, prefix.size()) == prefix) return true;
  for (std::string_view legend : {"IN0 = Closest Normalized Food Vector X", "IN1 = Closest Normalized Food Vector Y",
                                  "IN2 = Normalized Directional Vector X", "IN3 = Normalized Directional Vector Y",
                                  "OUT0 = Left Impulse", "OUT1 = Right Impulse"})
    if (line == legend) return true;

  const auto take = [&line](std::string_view text) {
    if (line.substr(0, text.size()) != text) return false;
    line.remove_prefix(text.size());
    return true;
  };
  const auto digits = [&line](size_t exactly) {
    size_t count = 0;
    while (count < line.size() && std::isdigit(static_cast<unsigned char>(line[count]))) ++count;
    if (count == 0 || (exactly != 0 && count != exactly)) return false;
    line.remove_prefix(count);
    return true;
  };
  const auto number = [&] {
    take("-");
    return digits(0) && take(".") && digits(8);
  };
  if (!take("Execute[") || !digits(0) || !take("]: IN0: ") || !number()) return false;
  for (std::string_view label : {" IN1: ", " IN2: ", " IN3: ", " OUT0: ", " OUT1: "})
    if (!take(label) || !number()) return false;
  return line.empty();
}

}  // namespace zemlix::testing
