// The walk every stream-level syntax test makes, written once: an Annex-B stream split into
// NAL units and unescaped, its parameter sets kept as a decoder keeps them, and each slice
// segment header parsed in the context of the segments before it.
#pragma once

#include "nal_unit.h"
#include "parameter_sets.h"
#include "slice_header.h"

#include <vexilo/test/ReferenceStreamManifest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace vexilo::hevc::test {

using vexilo::test::readReferenceStreamManifest;
using vexilo::test::ReferenceStream;
using vexilo::test::referenceStreamsDir;

inline std::filesystem::path testMediaDir()
{
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR);
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

struct WalkedSliceSegment {
    const NalUnitHeader& nal;
    const Rbsp& rbsp;
    const SliceHeaderParse& header; // parsed or not; a failed parse carries its error
};

class StreamWalker {
public:
    // Every NAL unit with a valid header, after its parameter set (if any) is kept and before a
    // slice segment header is parsed from it.
    std::function<void(const NalUnitHeader&)> onNalUnit;
    // Every slice segment, after its header is parsed.
    std::function<void(const WalkedSliceSegment&)> onSliceSegment;

    void walk(std::span<const std::uint8_t> stream);

private:
    void keepParameterSet(const NalUnitHeader& header, std::span<const std::uint8_t> rbsp);
    void visitSliceSegment(const NalUnitHeader& header, const Rbsp& rbsp);

    ParameterSetStore store_;
    SliceSegmentHeader independent_;
    bool haveIndependent_ = false;
    std::shared_ptr<const PictureLayout> layout_;
    const Sps* layoutSps_ = nullptr;
    const Pps* layoutPps_ = nullptr;
};

} // namespace vexilo::hevc::test
