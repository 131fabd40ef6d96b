#include "files/LineReader.h"

#include <cstdio>
#include <stdexcept>

namespace zemlix {

bool TLineReader::Next(std::string& line) {
  line.clear();
  std::streambuf& buffer = *In_.rdbuf();
  using TTraits = std::char_traits<char>;
  for (TTraits::int_type c = buffer.sbumpc();; c = buffer.sbumpc()) {
    if (TTraits::eq_int_type(c, TTraits::eof())) {
      if (line.empty()) return false;
      ++LineNumber_;
      LineEnded_ = false;
      return true;
    }
    if (c == '\n') {
      ++LineNumber_;
      LineEnded_ = true;
      return true;
    }
    if (line.size() == Limit_)
      throw std::length_error("line " + std::to_string(LineNumber_ + 1) + " is longer than " +
                              std::to_string(Limit_) + " bytes");
    line.push_back(TTraits::to_char_type(c));
  }
}

std::string Printable(std::string_view text, size_t limit) {
  std::string out;
  for (size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r') out += "\\r";
    else if (byte == '\t') out += "\\t";
    else if (byte == 0) out += "\\0";
    else if (byte == '\\') out += "\\\\";
    else if (byte < 0x20 || byte >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else out += static_cast<char>(byte);
  }
  if (text.size() > limit) out += "...";
  return out;
}

}  // namespace zemlix
