// The laboratory's files: world files opened and saved, the history exported as CSV and
// as an SVG plot. Every byte format comes from files/, shared with the runner.
#include <QFileInfo>
#include <QSettings>
#include <QStatusBar>
#include <iostream>

#include "display/HandlerErrors.h"
#include "files/BrainDrawing.h"
#include "files/FitnessCsv.h"
#include "files/FitnessPlot.h"
#include "files/OutputFile.h"
#include "files/WorldFile.h"
#include "ui/FitnessChart.h"
#include "ui/LaboratoryWindow.h"
#include "ui/RecentRuns.h"
#include "ui/SpinEdit.h"
#include "world/Settings.h"

namespace zemlix {
namespace {

const QString OpenFilter = "World files and runner dumps (*.world *.txt *.dump);;All files (*)";
const QString SaveFilter = "Zemlix worlds (*.world);;All files (*)";

}  // namespace

std::string WhatTheWindowCannotShow(const TParameters& parameters) {
  const auto outside = [](const char* name, int32_t value, const TSettingRange& range) {
    if (value >= range.Minimum && value <= range.Maximum) return std::string();
    return std::string(name) + " is " + std::to_string(value) + ", the window shows " + std::to_string(range.Minimum) +
           " to " + std::to_string(range.Maximum);
  };
  if (parameters.FieldWidth != DefaultFieldWidth || parameters.FieldHeight != DefaultFieldHeight)
    return std::string(parameters.FieldWidth != DefaultFieldWidth ? "field_width" : "field_height") + " is " +
           std::to_string(parameters.FieldWidth != DefaultFieldWidth ? parameters.FieldWidth : parameters.FieldHeight) +
           ", the window shows a field of " + std::to_string(DefaultFieldWidth) + " x " +
           std::to_string(DefaultFieldHeight);
  for (const std::string& reason : {outside("bugs", parameters.Bugs, BugCountRange),
                                    outside("food", parameters.Food, FoodCountRange),
                                    outside("lifetime", parameters.Lifetime, LifetimeRange)})
    if (!reason.empty()) return reason;
  return {};
}

void TLaboratoryWindow::ChooseAndOpen() {
  const QString path = ChooseFile("Open World", OpenFilter, false);
  if (!path.isEmpty()) OpenWorld(path);
}

bool TLaboratoryWindow::ChooseAndSave() {
  if (!Client->World.HasPopulation()) return false;
  QString path = ChooseFile("Save World As", SaveFilter, true);
  if (path.isEmpty()) return false;
  // A name without a suffix gets the world's; the dialog asked about the name as typed, so
  // a file already there under the longer name is asked about here.
  if (QFileInfo(path).suffix().isEmpty()) {
    path += ".world";
    if (QFileInfo::exists(path) && !Confirm(QStringLiteral("%1 already exists.\n\nReplace it?").arg(path))) return false;
  }
  return SaveWorld(path);
}

bool TLaboratoryWindow::OpenWorld(const QString& path) {
  const std::string name = path.toStdString();
  TWorldFile file;
  std::string note;
  try {
    file = ReadWorldFile(name, &note);
    if (const std::string refused = WhatTheWindowCannotShow(file.State.Parameters); !refused.empty())
      throw std::runtime_error(name + ": " + refused);
    // Tried on a scratch world first: a file that fails here changes nothing.
    Client->StartFromSavedState(file.State, name);
  } catch (const std::exception& e) {
    ReportHandlerError(std::string("The world was not opened: ") + e.what());
    return false;
  }
  // Starting cleared the history; the file's history is this run's past.
  History = std::move(file.History);
  OpenedFrom_ = name;
  OpenedAtTick_ = file.State.Tick;
  FilePath = path;
  FileStamp_ = StampOf(path);
  MarkClean();
  RememberRecent(path);
  RememberFolder(path);
  ChartWindow->SetHistory(History, ChartTitle());
  UpdateTitles();
  UpdateStatus();
  // A state cut short at the file's end was skipped: say so without stopping anyone. The
  // world's own parameters go on with it, and are named.
  std::string message = note;
  std::string changed;
  for (const std::string& entry : ExperimentParameters(file.State.Parameters))
    changed += (changed.empty() ? "" : " ") + entry;
  if (!changed.empty()) message += (message.empty() ? "" : "; ") + std::string("Parameters: ") + changed;
  if (!message.empty()) statusBar()->showMessage(QString::fromStdString(message), note.empty() ? 0 : 10000);
  return true;
}

std::optional<uint64_t> TLaboratoryWindow::TickForSave(std::string& reason) const {
  // The lifetime box may have changed during the run. A world file holds one lifetime, the
  // one the run goes on with, and its tick is what the counters give with it; a generation
  // that has more frames left than the new lifetime cannot be written that way.
  const TWorld& world = Client->World;
  const int32_t lifetime = Client->CreatureLifetimeBox->Value();
  if (lifetime < LifetimeRange.Minimum || lifetime > LifetimeRange.Maximum) {
    reason = "the lifetime " + std::to_string(lifetime) + " is outside " + std::to_string(LifetimeRange.Minimum) +
             " to " + std::to_string(LifetimeRange.Maximum);
    return std::nullopt;
  }
  if (world.TimeToLive < 1 || world.TimeToLive > lifetime) {
    reason = "the lifetime was set to " + std::to_string(lifetime) + " while this generation still has " +
             std::to_string(world.TimeToLive) + " frames to live; save again once it has ended";
    return std::nullopt;
  }
  return TickAt(world.Generation, lifetime, world.TimeToLive);
}

bool TLaboratoryWindow::SaveWorld(const QString& path) {
  const TWorld& world = Client->World;
  if (!world.HasPopulation()) return false;
  const std::string name = path.toStdString();
  std::string reason;
  const std::optional<uint64_t> tick = TickForSave(reason);
  // Someone else (another window, the runner) wrote this file since this window did: theirs
  // is not overwritten without asking.
  if (path == FilePath && FileStamp_ && StampOf(path) && StampOf(path) != FileStamp_ &&
      !Confirm(QStringLiteral("%1 was changed on disk since this window opened or saved it.\n\nOverwrite it with "
                              "this run?")
                   .arg(path)))
    return false;
  if (!tick) {
    ReportHandlerError("The world cannot be saved yet: " + reason + ".", name);
    return false;
  }
  try {
    WriteWorldFile(name, FormatWorldFile(world, *tick, Client->CreatureLifetimeBox->Value(), History));
  } catch (const std::exception& e) {
    ReportHandlerError(std::string("The world was not saved: ") + e.what());
    return false;
  }
  FilePath = path;
  FileStamp_ = StampOf(path);
  MarkClean();
  RememberRecent(path);
  RememberFolder(path);
  UpdateTitles();
  ShowFileMessage(QStringLiteral("Saved generation %1 to").arg(world.Generation), path);
  return true;
}

void TLaboratoryWindow::RememberFolder(const QString& path) {
  UserSettings()->setValue("folders/last", QFileInfo(path).absolutePath());
}

bool TLaboratoryWindow::ExportHistory(const QString& path) {
  try {
    TOutputFile file(path.toStdString(), std::cout);
    file.Stream() << CsvHeader(false);
    for (const TGenerationReport& report : History) file.Stream() << FormatCsvRow(report);
    file.Commit();
  } catch (const std::exception& e) {
    ReportHandlerError(std::string("The history was not exported: ") + e.what());
    return false;
  }
  return true;
}

bool TLaboratoryWindow::ExportPlot(const QString& path) {
  try {
    TOutputFile file(path.toStdString(), std::cout);
    file.Stream() << FormatFitnessPlot(History, PlotTitle());
    file.Commit();
  } catch (const std::exception& e) {
    ReportHandlerError(std::string("The plot was not exported: ") + e.what());
    return false;
  }
  return true;
}

bool TLaboratoryWindow::ExportBrain(const QString& path) {
  const TWorld& world = Client->World;
  try {
    if (!world.HasPopulation() || world.SelectedBug < 0 || world.SelectedBug >= world.BugCount)
      throw std::runtime_error("no bug selected");
    TOutputFile file(path.toStdString(), std::cout);
    file.Stream() << FormatBrainSvg(LayOutBugBrain(world, world.SelectedBug));
    file.Commit();
  } catch (const std::exception& e) {
    ReportHandlerError(std::string("The brain was not exported: ") + e.what());
    return false;
  }
  return true;
}

}  // namespace zemlix
