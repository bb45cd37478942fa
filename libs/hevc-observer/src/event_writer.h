// Fills the observer event layouts from parsed syntax and decoding state, and nothing else:
// which events are sent, when and to whom is the session's business.
#pragma once

#include "decoding_process.h"
#include "parameter_sets.h"
#include "sei.h"
#include "slice_header.h"

#include <vexilo/hevc_observer/observer_abi.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexilo::hevc {

// Header values every event of one NAL unit or picture shares.
struct EventStamp {
    std::int64_t displayIndex = VEXILO_OBSERVER_NO_DISPLAY_INDEX;
    std::int64_t pts = VEXILO_OBSERVER_NO_TIMESTAMP;
    std::int64_t dts = VEXILO_OBSERVER_NO_TIMESTAMP;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pictureType = 0;
};

struct NalUnitFacts {
    std::optional<std::uint64_t> byteOffset; // file offset of the first header byte
    std::uint64_t byteSize = 0;
    std::uint64_t contentHash = 0;
    std::uint32_t indexInPacket = 0;
    std::uint32_t startCodeLength = 0; // 0 when length-prefixed
    NalUnitHeader header;
    std::uint64_t nalIdentity = 0;
};

struct SliceFacts {
    std::uint64_t nalIdentity = 0;
    std::uint64_t sliceIdentity = 0;
    std::uint64_t pictureIdentity = 0; // 0 when the slice belongs to no decoded picture
    std::optional<std::int32_t> poc;
    bool parsed = false;
    std::int32_t errorCode = 0;
    std::uint64_t sliceDataNalOffset = 0; // slice data start within the NAL unit bytes
};

// A structure the parser refused or kept with a tolerated value, or a session that failed.
struct DiagnosticFacts {
    std::uint64_t nalIdentity = 0;
    std::uint32_t nalUnitType = 0;
    std::uint32_t outcome = 0;                // VEXILO_OBSERVER_DIAGNOSTIC_*
    std::optional<std::uint64_t> bitPosition; // from the NAL unit's first byte
    std::string_view element;
    std::string_view message;
};

struct PictureIdentityFacts {
    std::uint64_t sliceIdentity = 0;
    std::uint64_t pictureIdentity = 0;
};

void fillEventHeader(VexiloObserverEventHeader& header, std::uint32_t kind, std::uint32_t size, const EventStamp& stamp);

VexiloObserverEventHeader writeMarkerEvent(std::uint32_t kind);
// Texts longer than their field are cut to fit, always NUL-terminated.
VexiloObserverSyntaxDiagnosticEvent writeSyntaxDiagnosticEvent(const DiagnosticFacts& facts, const EventStamp& stamp);
VexiloObserverNalUnitEvent writeNalUnitEvent(const NalUnitFacts& nal, const EventStamp& stamp);
VexiloObserverParameterSetEvent writeVpsEvent(const Vps& vps, std::uint64_t contentHash, const EventStamp& stamp);
VexiloObserverVpsLayerSetEvent writeVpsLayerSetEvent(const Vps& vps, const VpsLayerSet& layerSet,
                                                     const EventStamp& stamp);
VexiloObserverParameterSetEvent writeSpsEvent(const Sps& sps, std::uint64_t contentHash, const EventStamp& stamp);
// `sps` (may be null) gives the tile sizes of uniform spacing and of the last column and row.
VexiloObserverParameterSetEvent writePpsEvent(const Pps& pps, const Sps* sps, std::uint64_t contentHash,
                                              const EventStamp& stamp);
VexiloObserverSeiMessageEvent writeSeiMessageEvent(const SeiMessage& message, std::uint32_t indexInNal,
                                                   std::uint32_t nalUnitType, const EventStamp& stamp);
VexiloObserverSliceEvent writeSliceEvent(const SliceSegmentHeader& header, const SliceFacts& facts,
                                         const EventStamp& stamp);
VexiloObserverShortTermRpsEvent writeShortTermRpsEvent(const ShortTermRpsEntry& entry, std::uint32_t entryIndex,
                                                       const SliceSegmentHeader& header,
                                                       const PictureIdentityFacts& identity, const EventStamp& stamp);
VexiloObserverLongTermRpsEvent writeLongTermRpsEvent(const LongTermRpsEntry& entry, std::uint32_t entryIndex,
                                                     const PictureIdentityFacts& identity, const EventStamp& stamp);
// Reference statuses are VEXILO_OBSERVER_REFERENCE_* (reference_status.h judges them).
VexiloObserverReferenceListEvent writeReferenceListEvent(const ReferenceTarget& target, std::uint64_t targetPictureId,
                                                         std::uint32_t status, std::uint32_t list,
                                                         std::uint32_t listIndex, const PictureIdentityFacts& identity,
                                                         const EventStamp& stamp);
VexiloObserverDpbEntryEvent writeDpbEntryEvent(const DpbPicture& picture, std::uint32_t slot, std::uint32_t status,
                                               const PictureIdentityFacts& identity, const EventStamp& stamp);

struct ReferenceStateCounts {
    bool constructed = true;
    std::int32_t errorCode = 0;
    std::uint32_t shortTerm = 0;
    std::uint32_t longTerm = 0;
    std::uint32_t listL0 = 0;
    std::uint32_t listL1 = 0;
    std::uint32_t dpbEntries = 0;
};
VexiloObserverReferenceStateEvent writeReferenceStateEvent(const ReferenceStateCounts& counts,
                                                           const PictureIdentityFacts& identity, const EventStamp& stamp);

struct OutputFacts {
    std::uint64_t pictureIdentity = 0;
    std::int32_t poc = 0;
    std::uint32_t nalUnitType = 0;
    std::uint32_t temporalId = 0;
};
VexiloObserverPictureOutputEvent writePictureOutputEvent(const OutputFacts& facts, const EventStamp& stamp);

} // namespace vexilo::hevc
