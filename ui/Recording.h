#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "world/NetworkLog.h"
#include "world/Settings.h"

namespace zemlix {

class TMain;
struct TWindowOptions;

// The ranges and defaults of a recording's settings, for the menu and the command line.
inline constexpr TSettingRange RecordFramesRange{1, 1000000, 1, 1};
inline constexpr TSettingRange RecordEveryRange{1, 1000000, 1, 1};
inline constexpr TSettingRange RecordRateRange{1, 100, 1, 25};

// How a recording samples the window.
struct TRecordingSettings {
  int Every = RecordEveryRange.Default;               // one frame per this many ticks
  int FramesPerSecond = RecordRateRange.Default;  // of the video
  bool WithPanel = false;                         // the observation panel below the field
};

// Whether this build can record (it was built with FFmpeg's libraries).
bool RecordingAvailable();
// Why `path` cannot name a recording (its suffix, or a build without recordings); empty
// when it can.
std::string RecordingNameRefusal(const std::string& path);

// What a recording takes of the window now: the world view's picture as last presented on
// screen, with the observation panel (as it is drawn on screen) below it when asked,
// on black and padded by black to an even width and height, which the video formats need.
QImage RecordedPicture(TMain& client, bool withPanel);

// Records the window's world view into a video file while it runs: the window calls
// ViewsDrawn after every drawing of its views, and every `Every`-th tick since the recording
// began gives a frame (a drawing without a tick, as selecting a bug while paused makes,
// gives none). The file appears under its name at Finish only; destroyed before, the
// recording leaves nothing. Every failure throws EVideoError naming the file and the reason
// (std::runtime_error in a build without recordings).
class TWorldRecorder {
 public:
  TWorldRecorder(TMain& client, const std::string& path, const TRecordingSettings& settings);
  ~TWorldRecorder();
  TWorldRecorder(const TWorldRecorder&) = delete;
  TWorldRecorder& operator=(const TWorldRecorder&) = delete;

  void ViewsDrawn();
  // The world was replaced (a new run, an opened file): ticks are counted from its state now.
  void WorldReplaced();
  void Finish();
  const std::string& Path() const { return Path_; }
  int64_t Frames() const;

 private:
  struct TState;
  TMain& Client_;
  std::string Path_;
  TRecordingSettings Settings_;
  std::unique_ptr<TState> State_;
  std::pair<int32_t, int32_t> LastSeen_;  // generation and time to live at the last drawing
  int64_t Ticks_ = 0;
};

// The command line's recording: opens options.File in a window that is never shown, runs
// options.Frames x Every ticks and records a frame every Every ticks; then the same for each
// of options.RecordAfter, into the same video. Returns the exit
// status: 0 when the file is complete, 2 when the world file or the video's name is refused
// before any tick, 1 when the recording fails on the way; messages go to `error`.
// `log` is where the window's NN.log goes (the working directory by default).
int RecordFromCommandLine(const TWindowOptions& options, std::ostream& error, TNetworkLog log = TNetworkLog());

}  // namespace zemlix
