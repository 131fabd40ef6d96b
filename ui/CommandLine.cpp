#include "ui/CommandLine.h"

#include <QCommandLineParser>

#include "base/Version.h"
#include "world/Settings.h"

namespace zemlix {
namespace {

// A whole number within [minimum, maximum], or an error message naming the option.
std::optional<int64_t> ReadNumber(const QString& text, const char* name, int64_t minimum, int64_t maximum,
                                  std::string& message) {
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok);
  if (ok && value >= minimum && value <= maximum) return value;
  message = "--" + std::string(name) + ": '" + text.toStdString() + "' is not a whole number from " +
            std::to_string(minimum) + " to " + std::to_string(maximum);
  return std::nullopt;
}

}  // namespace

TWindowParseResult ParseWindowOptions(const QStringList& arguments, std::ostream& out, std::ostream& error) {
  const auto range = [](const TSettingRange& r) {
    return QStringLiteral(" (%1 to %2, default %3)").arg(r.Minimum).arg(r.Maximum).arg(r.Default);
  };
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Zemlix: bugs with small neural networks evolving by a genetic algorithm.\n"
      "FILE is a world file, saved by the window or dumped by zemlix-sim; it opens and runs at once.");
  const QCommandLineOption help({"h", "help"}, "Shows this help and exits.");
  const QCommandLineOption version({"v", "version"}, "Shows the version and exits.");
  const QCommandLineOption seed("seed", "Seed of every Start (0 to 4294967295; the clock's when not given).", "N");
  const QCommandLineOption bugs("bugs", "Number of bugs" + range(BugCountRange) + ".", "N");
  const QCommandLineOption food("food", "Number of food pellets" + range(FoodCountRange) + ".", "N");
  const QCommandLineOption lifetime("lifetime", "Frames per generation" + range(LifetimeRange) + ".", "N");
  const QCommandLineOption speed("speed", "World speed, 0 fastest" + range(WorldSpeedRange) + ".", "N");
  const QCommandLineOption record("record",
                                  "Records FILE into a video (.mp4 H.264, .webm VP9 or .gif) without showing a window, "
                                  "then exits; needs --frames. With several world files, each gives its frames "
                                  "in turn.",
                                  "OUT");
  const QCommandLineOption frames("frames",
                                  QStringLiteral("Frames to record of each world (%1 to %2).")
                                      .arg(RecordFramesRange.Minimum)
                                      .arg(RecordFramesRange.Maximum),
                                  "N");
  const QCommandLineOption every("every", "One frame every K ticks" + range(RecordEveryRange) + ".", "K");
  const QCommandLineOption fps("fps", "Frames per second of the video" + range(RecordRateRange) + ".", "F");
  const QCommandLineOption withPanel("with-panel", "Records the observation panel below the field.");
  parser.addOptions({help, version, seed, bugs, food, lifetime, speed, record, frames, every, fps, withPanel});
  parser.addPositionalArgument("FILE", "World file to open.", "[FILE]");

  TWindowParseResult result;
  const auto fail = [&](const std::string& message) {
    error << "zemlix: " << message << "\nTry 'zemlix --help'.\n";
    result.ExitStatus = 2;
    return result;
  };
  if (!parser.parse(arguments)) return fail(parser.errorText().toStdString());
  if (parser.isSet(help)) {
    out << parser.helpText().toStdString();
    return result;
  }
  if (parser.isSet(version)) {
    out << "zemlix " << Version << "\n";
    return result;
  }

  TWindowOptions options;
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1 && !parser.isSet(record))
    return fail("one world file at most, found " + std::to_string(files.size()));
  if (!files.isEmpty()) options.File = files.front().toStdString();
  for (qsizetype i = 1; i < files.size(); ++i) options.RecordAfter.push_back(files[i].toStdString());
  std::string message;
  if (parser.isSet(seed)) {
    const auto value = ReadNumber(parser.value(seed), "seed", 0, UINT32_MAX, message);
    if (!value) return fail(message);
    options.Seed = static_cast<uint32_t>(*value);
  }
  const std::pair<const QCommandLineOption*, std::pair<std::optional<int32_t>*, TSettingRange>> settings[] = {
      {&bugs, {&options.Bugs, BugCountRange}},
      {&food, {&options.Food, FoodCountRange}},
      {&lifetime, {&options.Lifetime, LifetimeRange}},
      {&speed, {&options.Speed, WorldSpeedRange}},
  };
  for (const auto& [option, target] : settings) {
    if (!parser.isSet(*option)) continue;
    const std::string name = option->names().front().toStdString();
    const auto value =
        ReadNumber(parser.value(*option), name.c_str(), target.second.Minimum, target.second.Maximum, message);
    if (!value) return fail(message);
    *target.first = static_cast<int32_t>(*value);
  }
  if (parser.isSet(record)) {
    options.Record = parser.value(record).toStdString();
    if (const std::string refused = RecordingNameRefusal(options.Record); !refused.empty())
      return fail("--record: " + refused);
    if (options.File.empty()) return fail("--record needs a world file to record");
    if (!parser.isSet(frames)) return fail("--record needs --frames");
    const std::pair<const QCommandLineOption*, std::pair<int*, TSettingRange>> numbers[] = {
        {&frames, {&options.Frames, RecordFramesRange}},
        {&every, {&options.Recording.Every, RecordEveryRange}},
        {&fps, {&options.Recording.FramesPerSecond, RecordRateRange}},
    };
    for (const auto& [option, target] : numbers) {
      if (!parser.isSet(*option)) continue;
      const std::string name = option->names().front().toStdString();
      const auto value =
          ReadNumber(parser.value(*option), name.c_str(), target.second.Minimum, target.second.Maximum, message);
      if (!value) return fail(message);
      *target.first = static_cast<int>(*value);
    }
    options.Recording.WithPanel = parser.isSet(withPanel);
  } else {
    for (const QCommandLineOption* option : {&frames, &every, &fps, &withPanel})
      if (parser.isSet(*option)) return fail("--" + option->names().front().toStdString() + " needs --record");
  }
  result.Options = options;
  return result;
}

}  // namespace zemlix
