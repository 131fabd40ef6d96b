#pragma once

#include <charconv>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace zemlix {

// Whether `text` is one whole integer in `base` that fits T; `value` holds it then.
template <typename T>
bool ParseInteger(std::string_view text, T& value, int base = 10) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && error == std::errc() && stop == end;
}

// Reads a text file line by line with a bound on the line length, so a file without line
// ends (a device of zeros, a huge binary) fails at once instead of filling the memory.
class TLineReader {
 public:
  // Larger than any line a world file of the largest networks holds.
  static constexpr size_t DefaultLimit = size_t{16} << 20;

  explicit TLineReader(std::istream& in, size_t limit = DefaultLimit) : In_(in), Limit_(limit) {}

  // The next line without its '\n'; false at the end of the input. Throws std::length_error
  // "line N is longer than L bytes".
  bool Next(std::string& line);

  uint64_t LineNumber() const { return LineNumber_; }
  // Whether the last line read ended with '\n' (a line cut short by the file's end did not).
  bool LineEnded() const { return LineEnded_; }
  // Whether nothing follows the last line read.
  bool AtEnd() const { return In_.rdbuf()->sgetc() == std::char_traits<char>::eof(); }

 private:
  std::istream& In_;
  size_t Limit_;
  uint64_t LineNumber_ = 0;
  bool LineEnded_ = true;
};

// The text as a message may show it: at most `limit` bytes, then "...", with control and
// other non-printable bytes written as \r, \t, \0 or \xHH.
std::string Printable(std::string_view text, size_t limit = 40);

}  // namespace zemlix
