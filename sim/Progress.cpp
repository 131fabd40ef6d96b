#include "sim/Progress.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace zemlix {
namespace {

constexpr int BarWidth = 24;

std::string FormatDuration(double seconds) {
  const auto whole = static_cast<uint64_t>(std::max(0.0, std::round(seconds)));
  char text[48];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02d:%02d", whole / 3600, static_cast<int>(whole / 60 % 60),
                  static_cast<int>(whole % 60));
  else
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(whole / 60), static_cast<int>(whole % 60));
  return text;
}

}  // namespace

std::string FormatProgress(uint64_t ticksDone, uint64_t ticksTotal, uint64_t generationsDone,
                           uint64_t generationsTotal, double seconds) {
  const bool inGenerations = generationsTotal > 0;
  const uint64_t done = inGenerations ? generationsDone : ticksDone;
  const uint64_t total = inGenerations ? generationsTotal : ticksTotal;
  const double fraction = total == 0 ? 1.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  const int filled = static_cast<int>(fraction * BarWidth);

  std::string line(BarWidth + 4, ' ');
  line[0] = '[';
  std::fill_n(line.begin() + 1, filled, '#');
  std::fill_n(line.begin() + 1 + filled, BarWidth - filled, '.');
  line[BarWidth + 1] = ']';
  line += std::to_string(done) + "/" + std::to_string(total) + (inGenerations ? " generations" : " ticks");
  if (seconds > 0 && ticksDone > 0) {
    const double rate = static_cast<double>(ticksDone) / seconds;
    char text[96];
    std::snprintf(text, sizeof text, "  %.0f ticks/s", rate);
    line += text;
    const uint64_t left = ticksTotal > ticksDone ? ticksTotal - ticksDone : 0;
    line += "  " + FormatDuration(static_cast<double>(left) / rate) + " left";
  }
  return line;
}

std::string FormatSummary(uint64_t ticks, double seconds, uint64_t worlds, unsigned threads,
                          const std::string& worker) {
  char text[160];
  const double rate = seconds > 0 ? static_cast<double>(ticks) / seconds : 0.0;
  std::snprintf(text, sizeof text, "%" PRIu64 " ticks in %.2f s, %.0f ticks/s", ticks, seconds, rate);
  std::string line = text;
  if (worlds > 1 || threads > 1)
    line += " (" + std::to_string(worlds) + (worlds == 1 ? " world" : " worlds") + " on " + std::to_string(threads) +
            " " + worker + (threads == 1 ? ")" : "s)");
  return line;
}

std::string FormatTickProfile(const TTickProfile& profile, int32_t cores) {
  const double ticks = profile.Ticks > 0 ? static_cast<double>(profile.Ticks) : 1.0;
  const auto perTick = [&](double seconds) { return seconds / ticks * 1e6; };
  double work = 0, waits = 0;
  for (double seconds : profile.WorkSeconds) work += seconds;
  for (double seconds : profile.WaitSeconds) waits += seconds;
  const size_t threads = profile.WorkSeconds.size();
  const double total = profile.SerialSeconds + work;
  const double serialShare = total > 0 ? profile.SerialSeconds / total : 0.0;
  char line[160];
  std::snprintf(line, sizeof line, "profile of %" PRIu64 " ticks on %zu thread%s, processor time per tick:\n",
                profile.Ticks, threads, threads == 1 ? "" : "s");
  std::string table = line;
  std::snprintf(line, sizeof line, "  serial          %10.2f us  %5.2f %%\n", perTick(profile.SerialSeconds),
                100 * serialShare);
  table += line;
  for (size_t t = 0; t < threads; ++t) {
    std::snprintf(line, sizeof line, "  thread %-3zu work %10.2f us  waits %8.2f us\n", t,
                  perTick(profile.WorkSeconds[t]), perTick(profile.WaitSeconds[t]));
    table += line;
  }
  // The balancing: bugs a thread done early took from another's share.
  if (threads > 1) {
    std::snprintf(line, sizeof line, "  taken over      %10.2f bugs\n", static_cast<double>(profile.TakenBugs) / ticks);
    table += line;
  }
  // One tick on one thread does the serial part and all the work; on `cores` threads the
  // serial part, a share of the work and the barrier waits as measured here.
  const double meanWait = threads > 0 ? waits / static_cast<double>(threads) : 0.0;
  const double oneCore = perTick(total);
  const double manyCores = perTick(profile.SerialSeconds + work / cores + meanWait);
  std::snprintf(line, sizeof line, "  Amdahl on %d cores (serial %.2f %%, waits %.2f us): %.1fx\n", cores,
                100 * serialShare, perTick(meanWait), manyCores > 0 ? oneCore / manyCores : 0.0);
  table += line;
  if (profile.ReadingSeconds >= 0) {
    std::snprintf(line, sizeof line, "  (each section less its clock readings' %.2f us)\n", profile.ReadingSeconds * 1e6);
    table += line;
  }
  return table;
}

std::string FormatItemProgress(uint64_t done, uint64_t total, uint64_t doneHere, double seconds) {
  std::string line = std::to_string(done) + "/" + std::to_string(total) + " items";
  if (doneHere > 0 && seconds > 0) {
    const double rate = static_cast<double>(doneHere) / seconds;
    char text[64];
    std::snprintf(text, sizeof text, ", %.1f items/s", rate);
    line += text;
    line += ", " + FormatDuration(static_cast<double>(total > done ? total - done : 0) / rate) + " left";
  }
  return line;
}

TProgressBar::TProgressBar(std::ostream& out, bool enabled, uint64_t ticksTotal, uint64_t generationsTotal)
    : Out_(out), TicksTotal_(ticksTotal), GenerationsTotal_(generationsTotal) {
  if (!enabled) return;
  Thread_ = std::thread([this] {
    std::unique_lock lock(Mutex_);
    while (!Wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return Stopping_; })) Draw();
  });
}

TProgressBar::~TProgressBar() {
  if (!Thread_.joinable()) return;
  {
    std::lock_guard lock(Mutex_);
    Stopping_ = true;
  }
  Wake_.notify_one();
  Thread_.join();
  Out_ << "\r\033[K" << std::flush;  // leave the terminal's line as it was
}

void TProgressBar::WriteLine(std::ostream& out, const std::string& line) {
  std::lock_guard lock(Mutex_);
  if (Thread_.joinable()) Out_ << "\r\033[K" << std::flush;
  if (!out) return;
  errno = 0;  // a failed write leaves its reason here for the caller
  out << line << std::flush;
}

std::string FormatGridProgress(uint64_t worldsDone, uint64_t worlds, uint64_t pointsDone, uint64_t points) {
  return "  " + std::to_string(worldsDone) + "/" + std::to_string(worlds) + " worlds, " + std::to_string(pointsDone) +
         "/" + std::to_string(points) + " grid points";
}

void TProgressBar::Draw() {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start_).count();
  Out_ << "\r\033[K" << FormatProgress(Ticks(), TicksTotal_, Generations_.load(std::memory_order_relaxed),
                                       GenerationsTotal_, seconds);
  if (Worlds_ > 0) Out_ << FormatGridProgress(WorldsDone_, Worlds_, PointsDone_, Points_);
  Out_ << std::flush;
}

}  // namespace zemlix
