#include "vexilo/application/CodedPictureCount.h"

#include "nal_unit.h"

#include <array>
#include <fstream>
#include <vector>

namespace vexilo::application {
namespace {

constexpr std::size_t kReadBytes = std::size_t{1} << 20;
constexpr std::size_t kNalHeaderBytes = 2;
constexpr std::uint8_t kStartCodeLastByte = 0x01;
constexpr std::uint8_t kFirstSliceSegmentInPicture = 0x80;

// Slice segments: the VCL NAL unit types that carry one (the others are reserved).
bool carriesSliceSegment(std::uint32_t nalUnitType) noexcept
{
    return nalUnitType <= hevc::RASL_R || (nalUnitType >= hevc::BLA_W_LP && nalUnitType <= hevc::CRA_NUT);
}

// Follows the bytes through start codes and the two header bytes plus the first payload
// byte of each NAL unit; emulation prevention keeps start codes out of NAL unit payloads.
class PictureCounter {
public:
    void feed(const char* data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            take(static_cast<std::uint8_t>(data[i]));
        }
    }

    [[nodiscard]] bool isByteStream() const noexcept { return !notAByteStream_ && sawStartCode_; }
    [[nodiscard]] std::uint64_t pictures() const noexcept { return pictures_; }

private:
    void take(std::uint8_t byte)
    {
        if (headerBytesRead_ < header_.size()) {
            header_[headerBytesRead_++] = byte;
            if (headerBytesRead_ == header_.size()) {
                countIfPictureStarts();
            }
            return;
        }
        if (byte == 0) {
            ++zeros_;
            return;
        }
        if (byte == kStartCodeLastByte && zeros_ >= 2) {
            sawStartCode_ = true;
            headerBytesRead_ = 0;
        } else if (!sawStartCode_) {
            // Anything before the first start code but zeros is some other format.
            notAByteStream_ = true;
        }
        zeros_ = 0;
    }

    void countIfPictureStarts()
    {
        const std::optional<hevc::NalUnitHeader> header = hevc::parseNalUnitHeader(header_);
        if (header && header->nuh_layer_id == 0 && carriesSliceSegment(header->nal_unit_type) &&
            (header_[kNalHeaderBytes] & kFirstSliceSegmentInPicture) != 0) {
            ++pictures_;
        }
    }

    std::array<std::uint8_t, kNalHeaderBytes + 1> header_{};
    std::size_t headerBytesRead_ = header_.size();
    std::uint64_t zeros_ = 0;
    std::uint64_t pictures_ = 0;
    bool sawStartCode_ = false;
    bool notAByteStream_ = false;
};

}  // namespace

std::optional<std::uint64_t> countCodedPictures(const std::filesystem::path& path, const std::stop_token& stop)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    PictureCounter counter;
    std::vector<char> buffer(kReadBytes);
    while (file) {
        if (stop.stop_requested()) {
            return std::nullopt;
        }
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        counter.feed(buffer.data(), static_cast<std::size_t>(file.gcount()));
        if (!counter.isByteStream()) {
            // Not a byte stream from its first megabyte on: not worth reading the rest.
            return std::nullopt;
        }
    }
    if (file.bad() || !counter.isByteStream() || counter.pictures() == 0) {
        return std::nullopt;
    }
    return counter.pictures();
}

}  // namespace vexilo::application
