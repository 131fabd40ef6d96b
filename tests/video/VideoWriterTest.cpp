#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/PixelDifference.h"
#include "tests/support/Scratch.h"
#include "tests/support/ScratchMount.h"
#include "video/GifPalette.h"
#include "video/VideoReader.h"
#include "video/VideoWriter.h"

namespace zemlix {
namespace {

using testing::TScratchDirectory;

// A small moving scene of the field's kind: black, a red frame, a yellow square that moves,
// and from frame to frame a few colours not seen before (a GIF palette must keep the earlier
// ones where they were).
std::vector<uint32_t> Scene(int width, int height, int frame) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0xFF000000u);
  for (int x = 0; x < width; ++x) pixels[x] = pixels[(height - 1) * width + x] = 0xFFFF0000u;
  for (int y = 8; y < 24; ++y)
    for (int x = 4 + 2 * frame; x < 20 + 2 * frame; ++x) pixels[y * width + x % width] = 0xFFFFFF00u;
  for (int i = 0; i <= frame; ++i)
    pixels[(30 + i % 10) * width + 40 + i / 10] = 0xFF000000u | (0x10203 * (i + 1) + 0x40);
  return pixels;
}

using testing::MeanDifference;

TEST(VideoWriter, DecodesBackAsRecorded) {
  struct Case {
    const char* Name;
    const char* Codec;
    double Tolerance;  // mean difference per channel, in levels; 0 is exact
  };
  const Case cases[] = {{"clip.mp4", "h264", 6.0}, {"clip.WebM", "vp9", 6.0}, {"clip.gif", "gif", 0.0}};
  constexpr int Width = 64, Height = 48, Count = 20, Rate = 25;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TScratchDirectory scratch;
    TVideoWriter writer(scratch / c.Name, Width, Height, Rate);
    for (int frame = 0; frame < Count; ++frame) {
      const std::vector<uint32_t> pixels = Scene(Width, Height, frame);
      writer.Add(TPicture{pixels.data(), Width, Height, Width});
    }
    EXPECT_FALSE(std::filesystem::exists(scratch / c.Name)) << "nothing under the name before Finish";
    writer.Finish();
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{c.Name});

    const TDecodedVideo video = ReadVideo(scratch / c.Name);
    EXPECT_EQ(video.Codec, c.Codec);
    EXPECT_EQ(video.Width, Width);
    EXPECT_EQ(video.Height, Height);
    EXPECT_DOUBLE_EQ(video.FramesPerSecond, Rate);
    ASSERT_EQ(video.Frames.size(), size_t{Count});
    for (int frame = 0; frame < Count; ++frame) {
      const std::vector<uint32_t> expected = Scene(Width, Height, frame);
      if (c.Tolerance == 0)
        ASSERT_EQ(video.Frames[frame], expected) << "frame " << frame;
      else
        ASSERT_LT(MeanDifference(video.Frames[frame], expected), c.Tolerance) << "frame " << frame;
    }
  }
}

TEST(GifPalette, KeepsEntriesAndFallsBackToTheNearest) {
  TGifPalette palette;
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(palette.Index(i * 0x010101u), i);
  EXPECT_EQ(palette.Index(0xFF050505u), 5) << "the top byte is not part of the colour";
  EXPECT_EQ(palette.Entries()[200], 0xFFC8C8C8u);
  EXPECT_EQ(palette.Index(0x0A0B09u), 10) << "full: the nearest entry";
  EXPECT_EQ(palette.Used(), 256);
}

// A refused or failed recording leaves nothing under its name (or the old file whole) and
// no temporary beside it, and says which file and why.
TEST(VideoWriter, FailuresLeaveNoFile) {
  struct Case {
    const char* Name;
    std::function<bool(const TScratchDirectory&)> Prepare;  // false: cannot be set up here
    int Width;
    int Frames;
    const char* Reason;
  };
  const auto none = [](const TScratchDirectory&) { return true; };
  static std::unique_ptr<testing::TScratchMount> mount;
  const auto mounted = [](const TScratchDirectory& scratch, const std::string& options, bool readOnly) {
    std::filesystem::create_directory(scratch.Path / "mnt");
    mount = std::make_unique<testing::TScratchMount>(scratch.Path / "mnt", options);
    return mount->Mounted() && (!readOnly || mount->MakeReadOnly());
  };
  const Case cases[] = {
      {"clip.avi", none, 64, 1, "the name must end in .mp4 (H.264), .webm (VP9) or .gif"},
      {"odd.mp4", none, 63, 1, "H.264 (libx264) needs an even width and height, the picture is 63 x 48"},
      {"odd.webm", none, 63, 1, "needs an even width and height"},
      {"dir.mp4", [](const TScratchDirectory& s) { return std::filesystem::create_directory(s.Path / "dir.mp4"); }, 64,
       1, "Is a directory"},
      {"missing/clip.gif", none, 64, 1, "No such file or directory"},
      {"mnt/clip.mp4", [&](const TScratchDirectory& s) { return mounted(s, "size=1m", true); }, 64, 1,
       "Read-only file system"},
      {"mnt/clip.gif", [&](const TScratchDirectory& s) { return mounted(s, "size=64k", false); }, 64, 400,
       "No space left on device"},
      {"empty.gif", none, 64, 0, "no frame was recorded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TScratchDirectory scratch;
    if (!c.Prepare(scratch)) {
      mount.reset();
      std::cerr << "skipped " << c.Name << ": cannot mount a scratch tmpfs here\n";
      continue;
    }
    const std::string path = scratch / c.Name;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const bool hadFolder = std::filesystem::is_directory(folder);
    const auto before = hadFolder ? std::filesystem::directory_iterator(folder) : std::filesystem::directory_iterator();
    std::vector<std::string> namesBefore;
    for (const auto& entry : before) namesBefore.push_back(entry.path().filename());
    try {
      TVideoWriter writer(path, c.Width, 48, 25);
      for (int frame = 0; frame < c.Frames; ++frame) {
        // Noise, so that the full disk is reached within a few hundred frames.
        std::vector<uint32_t> pixels(64 * 48);
        for (uint32_t& pixel : pixels) pixel = static_cast<uint32_t>(std::rand()) & 0x00E0E0C0u;
        writer.Add(TPicture{pixels.data(), c.Width, 48, 64});
      }
      writer.Finish();
      ADD_FAILURE() << "recorded";
    } catch (const EVideoError& error) {
      EXPECT_EQ(std::string(error.what()).find("cannot record " + path + ": "), 0u) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.Reason), std::string::npos) << error.what();
    }
    std::vector<std::string> namesAfter;
    if (hadFolder)
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        namesAfter.push_back(entry.path().filename());
    EXPECT_EQ(namesAfter, namesBefore);
    mount.reset();
  }
}

TEST(VideoWriter, AFailedRecordingKeepsTheOldFile) {
  TScratchDirectory scratch;
  testing::WriteFile(scratch / "old.gif", "old");
  {
    TVideoWriter writer(scratch / "old.gif", 2, 2, 25);
    const uint32_t pixels[4] = {};
    writer.Add(TPicture{pixels, 2, 2, 2});
  }  // abandoned without Finish
  EXPECT_EQ(testing::ReadFile(scratch / "old.gif"), "old");
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"old.gif"});
}

}  // namespace
}  // namespace zemlix
