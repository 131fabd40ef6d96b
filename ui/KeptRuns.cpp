#include "ui/KeptRuns.h"

#include <QStandardPaths>
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "files/WorldFile.h"

namespace zemlix {

namespace fs = std::filesystem;

QString KeptRunsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/runs";
}

QString KeptRunName(const QDateTime& when, std::optional<uint32_t> seed) {
  // Always in the C locale: a file name, not a sentence.
  return when.toString("yyyy-MM-dd_HH-mm-ss") + "_seed-" + (seed ? QString::number(*seed) : QString("unknown")) +
         ".world";
}

fs::path KeepRun(const fs::path& folder, const QString& name, const std::string& text,
                 const TKeptRunsLimits& limits) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) throw std::runtime_error("cannot write " + (folder / name.toStdString()).string() + ": " + error.message());
  const fs::path wanted = folder / name.toStdString();
  fs::path path = wanted;
  for (int copy = 2; fs::exists(path, error); ++copy)
    path = folder / (wanted.stem().string() + "-" + std::to_string(copy) + wanted.extension().string());
  WriteWorldFile(path.string(), text);
  PruneKeptRuns(folder, limits);
  return path;
}

void PruneKeptRuns(const fs::path& folder, const TKeptRunsLimits& limits) {
  struct TRun {
    fs::path Path;
    uintmax_t Bytes;
  };
  std::vector<TRun> runs;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error) || entry.path().extension() != ".world") continue;
    runs.push_back({entry.path(), entry.file_size(error)});
  }
  std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.Path < b.Path; });
  uintmax_t total = 0;
  for (const TRun& run : runs) total += run.Bytes;
  size_t count = runs.size();
  for (const TRun& run : runs) {
    if (count <= 1 || (count <= limits.MaxRuns && total <= limits.MaxBytes)) break;
    if (!fs::remove(run.Path, error)) continue;
    --count;
    total -= run.Bytes;
  }
}

}  // namespace zemlix
