#include "ui/RecentRuns.h"

#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>

namespace zemlix {

std::unique_ptr<QSettings> UserSettings() {
  return std::make_unique<QSettings>(
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/window.conf", QSettings::IniFormat);
}

std::vector<TRecentRun> LoadRecentRuns(QSettings& settings) {
  std::vector<TRecentRun> runs;
  const int size = settings.beginReadArray("recent");
  for (int i = 0; i < size && i < MaxRecentRuns; ++i) {
    settings.setArrayIndex(i);
    TRecentRun run;
    run.Path = settings.value("path").toString();
    run.Generation = settings.value("generation").toInt();
    if (settings.contains("seed")) run.Seed = settings.value("seed").toUInt();
    run.When = settings.value("when").toDateTime();
    if (!run.Path.isEmpty()) runs.push_back(run);
  }
  settings.endArray();
  return runs;
}

namespace {

void StoreRecentRuns(QSettings& settings, const std::vector<TRecentRun>& runs) {
  settings.remove("recent");
  settings.beginWriteArray("recent", static_cast<int>(runs.size()));
  for (int i = 0; i < static_cast<int>(runs.size()); ++i) {
    settings.setArrayIndex(i);
    settings.setValue("path", runs[i].Path);
    settings.setValue("generation", runs[i].Generation);
    if (runs[i].Seed) settings.setValue("seed", *runs[i].Seed);
    settings.setValue("when", runs[i].When);
  }
  settings.endArray();
  settings.sync();
}

}  // namespace

void RememberRecentRun(QSettings& settings, const TRecentRun& run) {
  std::vector<TRecentRun> runs{run};
  for (const TRecentRun& old : LoadRecentRuns(settings)) {
    // A file does not record its starting seed: what was known when it was written stays.
    if (old.Path == run.Path && !runs.front().Seed) runs.front().Seed = old.Seed;
    if (old.Path != run.Path && static_cast<int>(runs.size()) < MaxRecentRuns) runs.push_back(old);
  }
  StoreRecentRuns(settings, runs);
}

void ForgetRecentRun(QSettings& settings, const QString& path) {
  std::vector<TRecentRun> runs = LoadRecentRuns(settings);
  std::erase_if(runs, [&](const TRecentRun& run) { return run.Path == path; });
  StoreRecentRuns(settings, runs);
}

QString RecentRunText(const TRecentRun& run, int index) {
  const QLocale locale;
  QString name = QFileInfo(run.Path).fileName();
  name.replace("&", "&&");
  return QStringLiteral("&%1 %2 — generation %3, seed %4, %5")
      .arg((index + 1) % 10)
      .arg(name)
      .arg(locale.toString(run.Generation))
      .arg(run.Seed ? QString::number(*run.Seed) : QString("unknown"))
      .arg(locale.toString(run.When, QLocale::ShortFormat));
}

}  // namespace zemlix
