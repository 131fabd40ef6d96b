#include "video/VideoReader.h"

#include "video/FFmpegHandles.h"
#include "video/VideoWriter.h"

namespace zemlix {

using namespace video;

TDecodedVideo ReadVideo(const std::string& path) {
  const auto fail = [&path](const std::string& reason) -> void {
    throw EVideoError("cannot read " + path + ": " + reason);
  };
  AVFormatContext* opened = nullptr;
  if (const int result = avformat_open_input(&opened, path.c_str(), nullptr, nullptr); result < 0)
    fail(ErrorText(result));
  const TInputFormat format(opened);
  if (const int result = avformat_find_stream_info(opened, nullptr); result < 0) fail(ErrorText(result));
  const AVCodec* decoder = nullptr;
  const int streamIndex = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (streamIndex < 0 || decoder == nullptr) fail("no video stream that this FFmpeg can decode");
  const AVStream& stream = *opened->streams[streamIndex];
  const TCodecContext codec(avcodec_alloc_context3(decoder));
  const TFrame frame(av_frame_alloc());
  const TPacket packet(av_packet_alloc());
  if (!codec || !frame || !packet) fail(ErrorText(AVERROR(ENOMEM)));
  if (const int result = avcodec_parameters_to_context(codec.get(), stream.codecpar); result < 0)
    fail(ErrorText(result));
  if (const int result = avcodec_open2(codec.get(), decoder, nullptr); result < 0) fail(ErrorText(result));

  TDecodedVideo video;
  video.Codec = decoder->name;
  video.Width = codec->width;
  video.Height = codec->height;
  video.FramesPerSecond = av_q2d(stream.avg_frame_rate.num != 0 ? stream.avg_frame_rate : stream.r_frame_rate);
  TScale scale;
  const auto receive = [&]() {
    int result = 0;
    while ((result = avcodec_receive_frame(codec.get(), frame.get())) >= 0) {
      scale.reset(sws_getCachedContext(scale.release(), frame->width, frame->height,
                                       static_cast<AVPixelFormat>(frame->format), video.Width, video.Height,
                                       AV_PIX_FMT_0RGB32, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
      if (!scale) fail("the decoded picture cannot be converted");
      std::vector<std::uint32_t> pixels(static_cast<size_t>(video.Width) * video.Height);
      uint8_t* target[1] = {reinterpret_cast<uint8_t*>(pixels.data())};
      const int targetStride[1] = {video.Width * 4};
      sws_scale(scale.get(), frame->data, frame->linesize, 0, frame->height, target, targetStride);
      for (std::uint32_t& pixel : pixels) pixel |= 0xFF000000u;
      video.Frames.push_back(std::move(pixels));
      av_frame_unref(frame.get());
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) fail(ErrorText(result));
  };
  int result = 0;
  while ((result = av_read_frame(opened, packet.get())) >= 0) {
    if (packet->stream_index == streamIndex) {
      const int sent = avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
      if (sent < 0) fail(ErrorText(sent));
      receive();
    } else {
      av_packet_unref(packet.get());
    }
  }
  if (result != AVERROR_EOF) fail(ErrorText(result));
  avcodec_send_packet(codec.get(), nullptr);
  receive();
  return video;
}

}  // namespace zemlix
