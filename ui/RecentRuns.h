#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QSettings;

namespace zemlix {

// The user's settings file for the window (recent runs, folders, window position).
// Opened by path each time, so a test that points XDG_CONFIG_HOME elsewhere gets its own.
std::unique_ptr<QSettings> UserSettings();

// A world file the user saved, opened, or that was kept for them, as File → Recent lists it.
struct TRecentRun {
  QString Path;
  int32_t Generation = 0;
  std::optional<uint32_t> Seed;  // empty for a run opened from a file
  QDateTime When;
};

constexpr int MaxRecentRuns = 10;

// Newest first.
std::vector<TRecentRun> LoadRecentRuns(QSettings& settings);
// Puts `run` first, dropping an older entry for the same file and the oldest beyond
// MaxRecentRuns. A seed the older entry knew is kept when `run` has none.
void RememberRecentRun(QSettings& settings, const TRecentRun& run);
void ForgetRecentRun(QSettings& settings, const QString& path);

// The menu's text for the entry at `index` (from 0): a unique mnemonic 1..9, 0, then
// name, generation, seed and when, in the user's locale.
QString RecentRunText(const TRecentRun& run, int index);

}  // namespace zemlix
