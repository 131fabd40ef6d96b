#include "video/VideoWriter.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "files/OutputFile.h"
#include "video/FFmpegHandles.h"
#include "video/GifPalette.h"

namespace zemlix {
namespace {

using namespace video;

struct TEncoderChoice {
  const char* Container;  // FFmpeg's muxer name
  const char* Encoder;    // FFmpeg's encoder name
  const char* Description;
  AVPixelFormat PixelFormat;
};

TEncoderChoice ChoiceFor(TVideoKind kind) {
  switch (kind) {
    case TVideoKind::Mp4:
      return {"mp4", "libx264", "H.264 (libx264)", AV_PIX_FMT_YUV420P};
    case TVideoKind::WebM:
      return {"webm", "libvpx-vp9", "VP9 (libvpx-vp9)", AV_PIX_FMT_YUV420P};
    case TVideoKind::Gif:
      break;
  }
  return {"gif", "gif", "GIF", AV_PIX_FMT_PAL8};
}

// Bytes from FFmpeg's muxer go into the output file's stream; MP4 and WebM go back to fill
// in sizes and indexes, which the file's stream buffer allows on a regular file.
int WritePacket(void* opaque, uint8_t* data, int size) {
  std::streambuf& out = *static_cast<TOutputFile*>(opaque)->Stream().rdbuf();
  if (out.sputn(reinterpret_cast<const char*>(data), size) == size) return size;
  const auto* file = dynamic_cast<const TFileBuffer*>(&out);
  return AVERROR(file != nullptr && file->Error() != 0 ? file->Error() : EIO);
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
  std::streambuf& out = *static_cast<TOutputFile*>(opaque)->Stream().rdbuf();
  // Pubseekoff, not seekp: a refused seek must not put the stream in a failed state.
  std::ios_base::seekdir direction = std::ios_base::beg;
  if (whence == SEEK_CUR) direction = std::ios_base::cur;
  else if (whence == SEEK_END) direction = std::ios_base::end;
  else if (whence != SEEK_SET) return AVERROR(ENOSYS);  // AVSEEK_SIZE: not needed by the muxers used
  const auto at = out.pubseekoff(offset, direction, std::ios_base::out);
  return at == std::streampos(std::streamoff(-1)) ? AVERROR(ESPIPE) : static_cast<int64_t>(at);
}

}  // namespace

std::optional<TVideoKind> VideoKindOf(const std::string& path) {
  std::string suffix = std::filesystem::path(path).extension().string();
  std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
  if (suffix == ".mp4") return TVideoKind::Mp4;
  if (suffix == ".webm") return TVideoKind::WebM;
  if (suffix == ".gif") return TVideoKind::Gif;
  return std::nullopt;
}

class TVideoWriter::TState {
 public:
  std::unique_ptr<TOutputFile> File;
  TIOContext IO;
  TOutputFormat Format;
  TCodecContext Codec;
  AVStream* Stream = nullptr;  // owned by Format
  TFrame Frame;
  TPacket Packet;
  TScale Scale;  // RGB to the encoder's YUV; none for GIF
  std::unique_ptr<TGifPalette> Palette;
  bool HeaderWritten = false;
};

TVideoWriter::TVideoWriter(const std::string& path, int width, int height, int framesPerSecond)
    : Path_(path), State_(std::make_unique<TState>()) {
  // The encoders' own progress notes would fill the user's terminal; their errors stay.
  av_log_set_level(AV_LOG_ERROR);
  const std::optional<TVideoKind> kind = VideoKindOf(path);
  if (!kind) Fail("the name must end in .mp4 (H.264), .webm (VP9) or .gif");
  if (width <= 0 || height <= 0) Fail("the picture has no pixels");
  if (framesPerSecond < 1 || framesPerSecond > 100)
    Fail("the frame rate must be from 1 to 100 frames a second, not " + std::to_string(framesPerSecond));
  const TEncoderChoice choice = ChoiceFor(*kind);
  if (choice.PixelFormat == AV_PIX_FMT_YUV420P && (width % 2 != 0 || height % 2 != 0))
    Fail(std::string(choice.Description) + " needs an even width and height, the picture is " + std::to_string(width) +
         " x " + std::to_string(height));
  if (kind == TVideoKind::Gif && (width > 65535 || height > 65535)) Fail("a GIF is at most 65535 pixels wide and high");
  const AVCodec* encoder = avcodec_find_encoder_by_name(choice.Encoder);
  if (encoder == nullptr) Fail(std::string("this FFmpeg has no ") + choice.Description + " encoder");
  const AVOutputFormat* container = av_guess_format(choice.Container, nullptr, nullptr);
  if (container == nullptr) Fail(std::string("this FFmpeg cannot write ") + choice.Container + " files");

  TState& s = *State_;
  s.Codec.reset(avcodec_alloc_context3(encoder));
  s.Frame.reset(av_frame_alloc());
  s.Packet.reset(av_packet_alloc());
  if (!s.Codec || !s.Frame || !s.Packet) Fail(ErrorText(AVERROR(ENOMEM)));
  AVCodecContext& codec = *s.Codec;
  codec.width = width;
  codec.height = height;
  codec.pix_fmt = choice.PixelFormat;
  codec.time_base = AVRational{1, framesPerSecond};
  codec.framerate = AVRational{framesPerSecond, 1};
  codec.sample_aspect_ratio = AVRational{1, 1};
  AVDictionary* options = nullptr;
  if (choice.PixelFormat == AV_PIX_FMT_YUV420P) {
    // The conversion below uses the standard-definition matrix at limited range; say so, so
    // players do not guess another.
    codec.color_range = AVCOL_RANGE_MPEG;
    codec.colorspace = AVCOL_SPC_SMPTE170M;
    codec.color_primaries = AVCOL_PRI_SMPTE170M;
    codec.color_trc = AVCOL_TRC_SMPTE170M;
    codec.gop_size = 10 * framesPerSecond;
  }
  // Quality high enough that the field's thin outlines and small text stay legible.
  if (*kind == TVideoKind::Mp4) {
    av_dict_set(&options, "preset", "fast", 0);
    av_dict_set(&options, "crf", "18", 0);
  } else if (*kind == TVideoKind::WebM) {
    av_dict_set(&options, "crf", "20", 0);
    av_dict_set(&options, "b", "0", 0);
    av_dict_set(&options, "deadline", "good", 0);
    av_dict_set(&options, "cpu-used", "4", 0);
    av_dict_set(&options, "row-mt", "1", 0);
  }
  if (container->flags & AVFMT_GLOBALHEADER) codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = avcodec_open2(&codec, encoder, &options);
  av_dict_free(&options);
  if (opened < 0) Fail("the " + std::string(choice.Description) + " encoder refused the picture: " + ErrorText(opened));

  s.Frame->format = codec.pix_fmt;
  s.Frame->width = width;
  s.Frame->height = height;
  if (const int made = av_frame_get_buffer(s.Frame.get(), 0); made < 0) Fail(ErrorText(made));
  if (*kind == TVideoKind::Gif) {
    s.Palette = std::make_unique<TGifPalette>();
  } else {
    s.Scale.reset(sws_getContext(width, height, AV_PIX_FMT_0RGB32, width, height, codec.pix_fmt,
                                 SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!s.Scale) Fail("the picture cannot be converted for the encoder");
  }

  // Only now is there a file: a temporary beside the target (refusals for a directory, a
  // folder that cannot be written and the like come from here).
  try {
    s.File = std::make_unique<TOutputFile>(path, std::cout);
  } catch (const std::exception& error) {
    FailWithFileReason(error);
  }
  AVFormatContext* format = nullptr;
  if (const int made = avformat_alloc_output_context2(&format, container, nullptr, nullptr); made < 0)
    Fail(ErrorText(made));
  s.Format.reset(format);
  constexpr int BufferSize = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(BufferSize));
  if (buffer == nullptr) Fail(ErrorText(AVERROR(ENOMEM)));
  s.IO.reset(avio_alloc_context(buffer, BufferSize, 1, s.File.get(), nullptr, WritePacket, Seek));
  if (!s.IO) {
    av_free(buffer);
    Fail(ErrorText(AVERROR(ENOMEM)));
  }
  // A pipe or a device cannot go back: formats that need to are then refused by FFmpeg.
  if (Seek(s.File.get(), 0, SEEK_CUR) < 0) {
    if (*kind == TVideoKind::Mp4) Fail("an MP4 file is completed at its start, which a pipe or a device cannot do");
    s.IO->seekable = 0;
  }
  format->pb = s.IO.get();
  format->flags |= AVFMT_FLAG_CUSTOM_IO;

  s.Stream = avformat_new_stream(format, nullptr);
  if (s.Stream == nullptr) Fail(ErrorText(AVERROR(ENOMEM)));
  s.Stream->time_base = codec.time_base;
  s.Stream->avg_frame_rate = codec.framerate;
  if (const int copied = avcodec_parameters_from_context(s.Stream->codecpar, &codec); copied < 0)
    Fail(ErrorText(copied));
  if (const int written = avformat_write_header(format, nullptr); written < 0) Fail(ErrorText(written));
  s.HeaderWritten = true;
}

TVideoWriter::~TVideoWriter() {
  // An abandoned recording is still closed as FFmpeg expects (into the temporary, which goes
  // with it): some muxers, GIF's among them, free the packet they hold back only there.
  if (State_ && State_->HeaderWritten) av_write_trailer(State_->Format.get());
}

void TVideoWriter::Fail(const std::string& reason) const {
  throw EVideoError("cannot record " + Path_ + ": " + reason);
}

void TVideoWriter::FailWithFileReason(const std::exception& error) const {
  // The file's own message is "cannot write PATH: REASON"; the reason is what counts here.
  const std::string message = error.what();
  const std::string prefix = "cannot write " + Path_ + ": ";
  Fail(message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message);
}

namespace {

// Sends one frame (or, for null, the end) to the encoder and writes every packet it gives.
int Encode(AVCodecContext& codec, AVFrame* frame, AVPacket& packet, AVFormatContext& format, AVStream& stream) {
  int result = avcodec_send_frame(&codec, frame);
  while (result >= 0) {
    result = avcodec_receive_packet(&codec, &packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
    if (result < 0) break;
    av_packet_rescale_ts(&packet, codec.time_base, stream.time_base);
    packet.stream_index = stream.index;
    result = av_interleaved_write_frame(&format, &packet);
  }
  return result;
}

}  // namespace

void TVideoWriter::Add(const TPicture& picture) {
  if (!State_ || !State_->HeaderWritten) Fail("the recording is finished");
  TState& s = *State_;
  AVCodecContext& codec = *s.Codec;
  if (picture.Width != codec.width || picture.Height != codec.height)
    Fail("a picture of " + std::to_string(picture.Width) + " x " + std::to_string(picture.Height) +
         " in a recording of " + std::to_string(codec.width) + " x " + std::to_string(codec.height));
  // The encoder may still hold the last frame's buffers.
  if (const int writable = av_frame_make_writable(s.Frame.get()); writable < 0) Fail(ErrorText(writable));
  AVFrame& frame = *s.Frame;
  if (s.Palette) {
    for (int y = 0; y < picture.Height; ++y) {
      const std::uint32_t* row = picture.Pixels + y * picture.Stride;
      uint8_t* out = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
      for (int x = 0; x < picture.Width; ++x) out[x] = s.Palette->Index(row[x]);
    }
    std::copy(s.Palette->Entries().begin(), s.Palette->Entries().end(), reinterpret_cast<uint32_t*>(frame.data[1]));
  } else {
    const uint8_t* source[1] = {reinterpret_cast<const uint8_t*>(picture.Pixels)};
    const int sourceStride[1] = {static_cast<int>(picture.Stride * 4)};
    sws_scale(s.Scale.get(), source, sourceStride, 0, picture.Height, frame.data, frame.linesize);
  }
  frame.pts = Frames_;
  if (const int result = Encode(codec, &frame, *s.Packet, *s.Format, *s.Stream); result < 0) Fail(ErrorText(result));
  ++Frames_;
}

void TVideoWriter::Finish() {
  if (!State_ || !State_->HeaderWritten) Fail("the recording is finished");
  TState& s = *State_;
  s.HeaderWritten = false;
  if (Frames_ == 0) Fail("no frame was recorded");
  if (const int result = Encode(*s.Codec, nullptr, *s.Packet, *s.Format, *s.Stream); result < 0)
    Fail(ErrorText(result));
  if (const int result = av_write_trailer(s.Format.get()); result < 0) Fail(ErrorText(result));
  avio_flush(s.IO.get());
  if (s.IO->error < 0) Fail(ErrorText(s.IO->error));
  try {
    s.File->Commit();
  } catch (const std::exception& error) {
    FailWithFileReason(error);
  }
}

}  // namespace zemlix
