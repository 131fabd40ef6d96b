#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zemlix {

// A video file decoded whole: every frame as words 0xFFRRGGBB, row after row, as the
// recordings' pictures are given. Meant for short clips (checks and tests): it holds every
// frame in memory.
struct TDecodedVideo {
  std::string Codec;  // FFmpeg's name of the stream's codec ("h264", "vp9", "gif")
  int Width = 0;
  int Height = 0;
  double FramesPerSecond = 0;
  std::vector<std::vector<std::uint32_t>> Frames;
};

// Throws EVideoError ("cannot read PATH: REASON") when the file cannot be decoded.
TDecodedVideo ReadVideo(const std::string& path);

}  // namespace zemlix
