#include "world/NetworkLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "base/Errors.h"
#include "base/FormatFixed.h"

namespace zemlix {
namespace {

constexpr const char* HeaderLegend[] = {
    "IN0 = Closest Normalized Food Vector X",
    "IN1 = Closest Normalized Food Vector Y",
    "IN2 = Normalized Directional Vector X",
    "IN3 = Normalized Directional Vector Y",
    "OUT0 = Left Impulse",
    "OUT1 = Right Impulse",
};

[[noreturn]] void RaiseFromErrno() { throw EInOutError(InOutErrorCode(errno)); }

// An open file that is closed on every way out; a failed close raises when it is checked.
class TLogFile {
 public:
  TLogFile(const std::filesystem::path& path, int flags) : Fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
    if (Fd_ < 0) RaiseFromErrno();
  }
  ~TLogFile() {
    if (Fd_ >= 0) ::close(Fd_);
  }
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Writes the line and its CR LF. A write that fails part way (a full disk) is cut back
  // off the file, so no half line is ever left in front of the next good one.
  void WriteLine(const std::string& text) {
    const std::string line = text + "\r\n";
    const off_t start = ::lseek(Fd_, 0, SEEK_END);
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t written = ::write(Fd_, line.data() + done, line.size() - done);
      if (written < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        if (done > 0 && start >= 0 && ::ftruncate(Fd_, start) != 0) {
          // Nothing more can be done about the partial line; the write error is the news.
        }
        throw EInOutError(InOutErrorCode(error));
      }
      done += static_cast<size_t>(written);
    }
  }

  void Close() {
    const int fd = Fd_;
    Fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) RaiseFromErrno();
  }

 private:
  int Fd_;
};

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace

TNetworkLog::TNetworkLog(std::filesystem::path directory, Clock clock)
    : Path_(directory.empty() ? std::filesystem::path("NN.log") : directory / "NN.log"),
      Clock_(clock ? std::move(clock) : Clock(LocalNow)) {}

bool TNetworkLog::LogExists() const {
  std::error_code error;
  return std::filesystem::exists(Path_, error);
}

void TNetworkLog::CreateLog() const {
  TLogFile file(Path_, O_WRONLY | O_CREAT | O_TRUNC);
  file.WriteLine("NN Log Created: " + DateTimeText());
  for (const char* line : HeaderLegend) file.WriteLine(line);
  file.Close();
}

void TNetworkLog::WriteLog(const std::string& line) const {
  TLogFile file(Path_, O_WRONLY | O_APPEND);
  file.WriteLine(line);
  file.Close();
}

void TNetworkLog::WriteStarted() const {
  if (!LogExists()) CreateLog();
  WriteLog("Program Started: " + DateTimeText());
}

void TNetworkLog::WriteClosed() const {
  if (!LogExists()) CreateLog();
  WriteLog("Program Closed: " + DateTimeText());
}

std::string TNetworkLog::DateTimeText() const { return FormatLogDateTime(Clock_()); }

std::string FormatLogDateTime(const std::tm& time) {
  char buffer[128];
  std::string text(buffer, std::strftime(buffer, sizeof buffer, "%x", &time));
  if (time.tm_hour != 0 || time.tm_min != 0 || time.tm_sec != 0)
    text.append(" ").append(buffer, std::strftime(buffer, sizeof buffer, "%X", &time));
  return text;
}

std::string ExecuteLine(int bug, const double inputs[4], double left, double right,
                        const std::string& decimalSeparator) {
  const auto real = [&decimalSeparator](double value) {
    std::string text = FormatFixed(value, 9, 8);
    if (const size_t point = text.find('.'); point != std::string::npos && decimalSeparator != ".")
      text.replace(point, 1, decimalSeparator);
    return text;
  };
  std::string line = "Execute[" + std::to_string(bug) + "]: IN0: " + real(inputs[0]);
  line += " IN1: " + real(inputs[1]);
  line += " IN2: " + real(inputs[2]);
  line += " IN3: " + real(inputs[3]);
  line += " OUT0: " + real(left);
  line += " OUT1: " + real(right);
  return line;
}

}  // namespace zemlix
