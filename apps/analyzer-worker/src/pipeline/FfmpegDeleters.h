#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>

// Owning pointers for the FFmpeg objects of one analysis run. The worker keeps its own set
// because it does not link the desktop's media library.
namespace vexilo::media {

struct AvCodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept
    {
        if (context != nullptr) {
            avcodec_free_context(&context);
        }
    }
};

struct AvFormatContextDeleter {
    void operator()(AVFormatContext* context) const noexcept
    {
        if (context != nullptr) {
            avformat_close_input(&context);
        }
    }
};

struct AvFrameDeleter {
    void operator()(AVFrame* frame) const noexcept
    {
        if (frame != nullptr) {
            av_frame_free(&frame);
        }
    }
};

struct AvPacketDeleter {
    void operator()(AVPacket* packet) const noexcept
    {
        if (packet != nullptr) {
            av_packet_free(&packet);
        }
    }
};

using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextDeleter>;
using AvFormatContextPtr = std::unique_ptr<AVFormatContext, AvFormatContextDeleter>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;

}  // namespace vexilo::media
