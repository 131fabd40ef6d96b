#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace zemlix {

// A recording that cannot be made or finished; the message names the file and the reason.
class EVideoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a recording's file name asks for: MP4 (H.264), WebM (VP9) or an animated GIF.
enum class TVideoKind { Mp4, WebM, Gif };
// By the name's suffix, in any letter case; empty for any other suffix.
std::optional<TVideoKind> VideoKindOf(const std::string& path);

// A picture to add: `Width` x `Height` words of 0x..RRGGBB (the top byte is ignored, as in
// QImage::Format_RGB32), row after row `Stride` words apart. The caller keeps the pixels.
struct TPicture {
  const std::uint32_t* Pixels = nullptr;
  int Width = 0;
  int Height = 0;
  std::ptrdiff_t Stride = 0;
};

// Encodes pictures of one size into a video file at a fixed frame rate.
//
// Everything is written under a temporary name beside the file (as TOutputFile writes) and
// renamed over it by Finish only; a failure at any point, or destruction without Finish,
// removes the temporary and leaves whatever was under the name before untouched. The
// suffix, the encoder and the size are checked before any file is made. MP4 and WebM use
// 4:2:0 colour, which needs an even width and height: odd sizes are refused, and the caller
// pads. A GIF is exact while the recording has no more than 256 colours (each new colour
// takes the next palette entry); past that, a colour takes the nearest entry.
//
// Every failure is an EVideoError "cannot record PATH: REASON".
class TVideoWriter {
 public:
  TVideoWriter(const std::string& path, int width, int height, int framesPerSecond);
  ~TVideoWriter();
  TVideoWriter(const TVideoWriter&) = delete;
  TVideoWriter& operator=(const TVideoWriter&) = delete;

  // The picture must have the size given at construction.
  void Add(const TPicture& picture);
  // Drains the encoder, completes the file and puts it under its name.
  void Finish();

  const std::string& Path() const { return Path_; }
  std::int64_t Frames() const { return Frames_; }

 private:
  class TState;
  [[noreturn]] void Fail(const std::string& reason) const;
  [[noreturn]] void FailWithFileReason(const std::exception& error) const;

  std::string Path_;
  std::unique_ptr<TState> State_;
  std::int64_t Frames_ = 0;
};

}  // namespace zemlix
