#include "test_support.h"

#include "parameter_sets.h"

#include <vexilo/hevc_observer/observer_feed.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fstream>
#include <iterator>
#include <cstdio>
#include <sstream>

namespace vexilo::hevc::test {

std::filesystem::path hmStreamsDir() { return std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm"; }
std::filesystem::path testMediaDir() { return std::filesystem::path(VEXILO_TEST_MEDIA_DIR); }

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {
std::vector<std::string> splitCells(const std::string& line)
{
    std::vector<std::string> cells;
    std::stringstream stream(line);
    std::string cell;
    while (std::getline(stream, cell, '|')) {
        const auto begin = cell.find_first_not_of(' ');
        const auto end = cell.find_last_not_of(' ');
        cells.push_back(begin == std::string::npos ? std::string() : cell.substr(begin, end - begin + 1));
    }
    return cells;
}

std::vector<std::int32_t> pocList(const std::string& text)
{
    std::vector<std::int32_t> pocs;
    std::stringstream stream(text);
    std::int32_t value = 0;
    while (stream >> value) {
        pocs.push_back(value);
    }
    return pocs;
}
} // namespace

void PrintTo(const ManifestRow& row, std::ostream* out) { *out << row.file; }

std::vector<ManifestRow> readManifest()
{
    std::ifstream in(hmStreamsDir() / "MANIFEST.md");
    std::vector<ManifestRow> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| `s", 0) != 0) {
            continue;
        }
        const auto cells = splitCells(line);
        // cells[0] is empty (text before the first bar).
        ManifestRow row;
        row.file = cells[1].substr(1, cells[1].size() - 2);
        unsigned a = 0;
        unsigned b = 0;
        unsigned c = 0;
        unsigned d = 0;
        const int sizes = std::sscanf(cells[4].c_str(), "%ux%u (coded %ux%u)", &a, &b, &c, &d);
        row.width = sizes == 4 ? c : a;
        row.height = sizes == 4 ? d : b;
        row.chromaFormatIdc = cells[5] == "4:0:0" ? 0U : cells[5] == "4:2:0" ? 1U : cells[5] == "4:2:2" ? 2U : 3U;
        const int depths = std::sscanf(cells[6].c_str(), "%u/%u", &a, &b);
        row.bitDepthLuma = a;
        row.bitDepthChroma = depths == 2 ? b : a;
        std::sscanf(cells[7].c_str(), "%u (%u)", &row.ctuSize, &row.minCuSize);
        std::sscanf(cells[8].c_str(), "%u/%u/%u", &a, &row.picturesDecoded, &c);
        row.decodeOrderPocs = pocList(cells[9]);
        row.outputOrderPocs = pocList(cells[10]);
        rows.push_back(row);
    }
    return rows;
}

int EventRecorder::callback(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* event)
{
    auto* recorder = static_cast<EventRecorder*>(opaque);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(event);
    recorder->events.emplace_back(bytes, bytes + event->size);
    return VEXILO_OBSERVER_RESULT_OK;
}

VexiloObserverRegistration EventRecorder::registration(std::uint64_t mask)
{
    VexiloObserverRegistration record{};
    record.size = VEXILO_OBSERVER_REGISTRATION_SIZE;
    record.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
    record.eventMask = mask;
    record.callback = &EventRecorder::callback;
    record.opaque = this;
    return record;
}

namespace {
struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

int drain(AVCodecContext* codec, AVFrame* frame, DecodeRun& run)
{
    for (;;) {
        const int result = avcodec_receive_frame(codec, frame);
        if (result < 0) {
            return result;
        }
        vexilo::hevc_observer::feedFrame(codec, frame, run.framesReturned++);
        av_frame_unref(frame);
    }
}
} // namespace

DecodeRun decodeWithObserver(const std::filesystem::path& path, EventRecorder& recorder, std::uint64_t mask,
                             int frameThreads)
{
    DecodeRun run;
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.string().c_str(), nullptr, nullptr) < 0) {
        run.error = "open failed";
        return run;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        run.error = "probe failed";
        return run;
    }
    const AVCodec* decoder = nullptr;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || decoder == nullptr) {
        run.error = "no video stream";
        return run;
    }
    std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), format->streams[streamIndex]->codecpar);
    if (frameThreads > 1) {
        codec->thread_count = frameThreads;
        codec->thread_type = FF_THREAD_FRAME;
    }
    const VexiloObserverRegistration registration = recorder.registration(mask);
    if (av_vexilo_set_observer(codec.get(), &registration) < 0 || avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        run.error = "decoder setup failed";
        return run;
    }
    vexilo::hevc_observer::feedExtradata(codec.get());
    run.opened = true;
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex) {
            codec->reordered_opaque = vexilo::hevc_observer::feedPacket(codec.get(), packet.get(), packet->pos);
            int result = avcodec_send_packet(codec.get(), packet.get());
            while (result == AVERROR(EAGAIN)) {
                drain(codec.get(), frame.get(), run);
                result = avcodec_send_packet(codec.get(), packet.get());
            }
            drain(codec.get(), frame.get(), run);
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    drain(codec.get(), frame.get(), run);
    vexilo::hevc_observer::feedFlush(codec.get());
    av_vexilo_clear_observer(codec.get());
    return run;
}

void keepParameterSet(ParameterSetStore& store, const NalUnitHeader& header, std::span<const std::uint8_t> rbsp)
{
    if (header.nal_unit_type == SPS_NUT) {
        if (auto sps = parseSps(rbsp); sps.value) {
            store.sps[sps.value->sps_seq_parameter_set_id] = std::make_shared<const Sps>(*sps.value);
        }
    } else if (header.nal_unit_type == PPS_NUT) {
        if (auto pps = parsePps(rbsp); pps.value) {
            store.pps[pps.value->pps_pic_parameter_set_id] = std::make_shared<const Pps>(*pps.value);
        }
    } else if (header.nal_unit_type == VPS_NUT) {
        if (auto vps = parseVps(rbsp); vps.value) {
            store.vps[vps.value->vps_video_parameter_set_id] = std::make_shared<const Vps>(*vps.value);
        }
    }
}

} // namespace vexilo::hevc::test
