#include "ui/Recording.h"

#include <QGroupBox>
#include <QPainter>
#include <stdexcept>

#include "files/WorldFile.h"
#include "display/HandlerErrors.h"
#include "ui/CommandLine.h"
#include "ui/LaboratoryWindow.h"
#include "ui/MainUnit.h"
#if ZEMLIX_VIDEO
#include "video/VideoWriter.h"
#endif

namespace zemlix {

QImage RecordedPicture(TMain& client, bool withPanel) {
  const QImage& field = client.WorldView->Presented();
  QImage panel;
  if (withPanel) panel = client.ObservationGroup->grab().toImage();
  const int width = std::max(field.width(), panel.width());
  const int height = field.height() + panel.height();
  QImage picture((width + 1) / 2 * 2, (height + 1) / 2 * 2, QImage::Format_RGB32);
  // The one picture the view paints is taken as it is, word for word; only the panel
  // (a widget tree) is painted in.
  if (!withPanel && picture.size() == field.size()) {
    picture = field;
    return picture;
  }
  picture.fill(Qt::black);
  QPainter painter(&picture);
  painter.drawImage(0, 0, field);
  if (withPanel) painter.drawImage(0, field.height(), panel);
  return picture;
}

#if ZEMLIX_VIDEO

bool RecordingAvailable() { return true; }

std::string RecordingNameRefusal(const std::string& path) {
  return VideoKindOf(path) ? std::string() : "'" + path + "' must end in .mp4, .webm or .gif";
}

struct TWorldRecorder::TState {
  TState(const std::string& path, QSize size, int framesPerSecond)
      : Writer(path, size.width(), size.height(), framesPerSecond) {}
  TVideoWriter Writer;
};

TWorldRecorder::TWorldRecorder(TMain& client, const std::string& path, const TRecordingSettings& settings)
    : Client_(client), Path_(path), Settings_(settings), LastSeen_(client.World.Generation, client.World.TimeToLive) {
  if (client.WorldView->Presented().isNull())
    throw EVideoError("cannot record " + path + ": the world view is not shown");
  const QImage picture = RecordedPicture(client, settings.WithPanel);
  State_ = std::make_unique<TState>(path, picture.size(), settings.FramesPerSecond);
}

TWorldRecorder::~TWorldRecorder() = default;

void TWorldRecorder::ViewsDrawn() {
  const std::pair state(Client_.World.Generation, Client_.World.TimeToLive);
  if (state == LastSeen_) return;
  LastSeen_ = state;
  if (++Ticks_ % Settings_.Every != 0) return;
  const QImage picture = RecordedPicture(Client_, Settings_.WithPanel);
  State_->Writer.Add(TPicture{reinterpret_cast<const uint32_t*>(picture.constBits()), picture.width(),
                              picture.height(), picture.bytesPerLine() / 4});
}

void TWorldRecorder::WorldReplaced() { LastSeen_ = {Client_.World.Generation, Client_.World.TimeToLive}; }

void TWorldRecorder::Finish() { State_->Writer.Finish(); }

int64_t TWorldRecorder::Frames() const { return State_->Writer.Frames(); }

#else

bool RecordingAvailable() { return false; }

std::string RecordingNameRefusal(const std::string&) {
  return "this build cannot record videos (it was built without FFmpeg's libraries)";
}

struct TWorldRecorder::TState {};

TWorldRecorder::TWorldRecorder(TMain& client, const std::string& path, const TRecordingSettings& settings)
    : Client_(client), Path_(path), Settings_(settings) {
  throw std::runtime_error("cannot record " + path + ": " + RecordingNameRefusal(path));
}

TWorldRecorder::~TWorldRecorder() = default;
void TWorldRecorder::ViewsDrawn() {}
void TWorldRecorder::WorldReplaced() {}
void TWorldRecorder::Finish() {}
int64_t TWorldRecorder::Frames() const { return 0; }

#endif

int RecordFromCommandLine(const TWindowOptions& options, std::ostream& error, TNetworkLog log) {
  // No box may open where no one looks: what a handler would report ends the recording.
  std::string reported;
  SetErrorReporter([&reported](const std::string& message) {
    if (reported.empty()) reported = message;
  });
  struct TRestoreReporter {
    ~TRestoreReporter() { SetErrorReporter({}); }
  } restore;
  TMain client(std::move(log));
  // Never shown: the views get their pictures as a shown window's would.
  for (TSurfaceView* view : {client.WorldView, client.GenomeMap, client.LeftImpulseMeter, client.RightImpulseMeter})
    view->Initialize();
  // Every world is read before anything is recorded, so that a bad one is refused at once.
  std::vector<std::pair<std::string, TSavedState>> worlds;
  try {
    std::vector<std::string> names{options.File};
    names.insert(names.end(), options.RecordAfter.begin(), options.RecordAfter.end());
    for (const std::string& name : names) {
      TWorldFile file = ReadWorldFile(name);
      if (const std::string refused = WhatTheWindowCannotShow(file.State.Parameters); !refused.empty())
        throw std::runtime_error(name + ": " + refused);
      worlds.emplace_back(name, std::move(file.State));
    }
    client.StartFromSavedState(worlds.front().second, worlds.front().first);
  } catch (const std::exception& e) {
    error << "zemlix: " << e.what() << "\n";
    return 2;
  }
  // The frames are run here, one after another, as fast as they go. Like every output of
  // the runner, the file is opened before the first tick: a name that cannot be written is
  // refused before any work.
  client.Timer.SetEnabled(false);
  std::unique_ptr<TWorldRecorder> recorder;
  try {
    client.DrawViews();
    recorder = std::make_unique<TWorldRecorder>(client, options.Record, options.Recording);
  } catch (const std::exception& e) {
    error << "zemlix: " << e.what() << "\n";
    return 2;
  }
  try {
    client.OnViewsDrawn = [&recorder] { recorder->ViewsDrawn(); };
    for (size_t world = 0; world < worlds.size(); ++world) {
      if (world > 0) {
        client.StartFromSavedState(worlds[world].second, worlds[world].first);
        client.Timer.SetEnabled(false);
        recorder->WorldReplaced();
      }
      for (int64_t tick = 0; tick < int64_t{options.Frames} * options.Recording.Every && reported.empty(); ++tick)
        client.TimerTimer(0);
    }
    client.OnViewsDrawn = nullptr;
    if (!reported.empty()) throw std::runtime_error(reported);
    recorder->Finish();
  } catch (const std::exception& e) {
    client.OnViewsDrawn = nullptr;
    error << "zemlix: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace zemlix
