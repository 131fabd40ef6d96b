#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

namespace zemlix {

// The plain-text log NN.log. Every line (CR LF ended) is written by its own open, write and
// close, so the file is complete after each line. Failures raise EInOutError at once; the
// rest of the line or header is not written.
class TNetworkLog {
 public:
  using Clock = std::function<std::tm()>;  // local date and time, broken down

  // The log lives in `directory` (the working directory when empty); `clock` gives the
  // local time for the date lines (the system clock when empty).
  explicit TNetworkLog(std::filesystem::path directory = {}, Clock clock = {});

  bool LogExists() const;
  // Creates (or empties) the file and writes the seven header lines.
  void CreateLog() const;
  // Appends one line to the existing file; a missing file fails with "File not found".
  void WriteLog(const std::string& line) const;

  // The start and close lines, creating the file with its header first when it is missing.
  void WriteStarted() const;
  void WriteClosed() const;

  std::string DateTimeText() const;
  // The Execute line's reals carry this separator: the user's in the window, whose log is
  // read by a person; a point unless set.
  void SetDecimalSeparator(std::string separator) { DecimalSeparator_ = std::move(separator); }
  const std::string& DecimalSeparator() const { return DecimalSeparator_; }
  const std::filesystem::path& Path() const { return Path_; }

 private:
  std::filesystem::path Path_;
  Clock Clock_;
  std::string DecimalSeparator_ = ".";
};

// The user's short date, then, unless the clock shows exactly 00:00:00, a space and the
// long time, both in the user's locale (LC_TIME).
std::string FormatLogDateTime(const std::tm& time);

// "Execute[3]: IN0: 0.70710678 IN1: ... OUT1: 0.48765432", reals with FormatFixed(v, 9, 8)
// and `decimalSeparator` in place of the point.
std::string ExecuteLine(int bug, const double inputs[4], double left, double right,
                        const std::string& decimalSeparator = ".");

}  // namespace zemlix
