#pragma once

// Owners for FFmpeg's contexts, each freed by the call FFmpeg names for it.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace zemlix::video {

struct TCodecContextFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct TFrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TScaleFree {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
// An output context whose byte stream belongs to the caller (AVFMT_FLAG_CUSTOM_IO).
struct TOutputFormatFree {
  void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct TInputFormatFree {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// A byte stream made by avio_alloc_context; its buffer may have been replaced by FFmpeg,
// so the one it holds now is freed.
struct TIOContextFree {
  void operator()(AVIOContext* context) const {
    av_freep(&context->buffer);
    avio_context_free(&context);
  }
};

using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;
using TScale = std::unique_ptr<SwsContext, TScaleFree>;
using TOutputFormat = std::unique_ptr<AVFormatContext, TOutputFormatFree>;
using TInputFormat = std::unique_ptr<AVFormatContext, TInputFormatFree>;
using TIOContext = std::unique_ptr<AVIOContext, TIOContextFree>;

// FFmpeg's words for an error code ("No space left on device", "Invalid argument").
inline std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace zemlix::video
