#pragma once

#include <QStringList>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ui/Recording.h"

namespace zemlix {

// What the window's command line asks for; empty fields keep the window's defaults.
struct TWindowOptions {
  std::string File;  // a world file to open and run at once
  std::optional<uint32_t> Seed;
  std::optional<int32_t> Bugs;
  std::optional<int32_t> Food;
  std::optional<int32_t> Lifetime;
  std::optional<int32_t> Speed;
  // Given: the world file is recorded into this video file without a window on screen.
  std::string Record;
  int32_t Frames = 0;                    // of each world file
  std::vector<std::string> RecordAfter;  // world files recorded after File, in turn
  TRecordingSettings Recording;
};

// The options, or the exit status when the program must stop now: 0 after --help or
// --version (printed on `out`), 2 after an error (a message on `error` naming the option
// and its range). `arguments` starts with the program's name.
struct TWindowParseResult {
  std::optional<TWindowOptions> Options;
  int ExitStatus = 0;
};
TWindowParseResult ParseWindowOptions(const QStringList& arguments, std::ostream& out, std::ostream& error);

}  // namespace zemlix
