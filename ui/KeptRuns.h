#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace zemlix {

// Runs that Restart, Open, Quit or a closing session would throw away are written into a
// folder of the user's first, so that no keystroke loses a run. The folder holds only the
// newest few, within a size a user never has to think about.
struct TKeptRunsLimits {
  size_t MaxRuns = 20;
  uintmax_t MaxBytes = uintmax_t{256} << 20;
};

// Where kept runs live: runs/ in the user's data folder for this program.
QString KeptRunsFolder();

// "2026-12-09_10-37-46_seed-4242.world"; "seed-unknown" for a run opened from a file, whose
// starting seed is not recorded. Names sort oldest first.
QString KeptRunName(const QDateTime& when, std::optional<uint32_t> seed);

// Writes `text` as a new kept run named `name` in `folder` (created when missing), through
// the same atomic writer as Save, then prunes (PruneKeptRuns). A name already taken within
// the same second gets "-2", "-3"... Returns the path written; throws std::runtime_error
// naming the file and the reason.
std::filesystem::path KeepRun(const std::filesystem::path& folder, const QString& name, const std::string& text,
                              const TKeptRunsLimits& limits = {});

// Removes the oldest kept runs (*.world in `folder`, by name) until at most limits.MaxRuns
// remain and together they take at most limits.MaxBytes. The newest always stays, however
// large. Anything else in the folder is left alone.
void PruneKeptRuns(const std::filesystem::path& folder, const TKeptRunsLimits& limits);

}  // namespace zemlix
