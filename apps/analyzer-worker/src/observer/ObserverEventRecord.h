#pragma once

#include "vexilo/hevc_observer/observer_abi.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexilo::analyzer {

inline constexpr std::uint32_t kObserverAbiVersion = VEXILO_OBSERVER_ABI_VERSION;
inline constexpr std::uint32_t kObserverEventHeaderSize = VEXILO_OBSERVER_EVENT_HEADER_SIZE;
inline constexpr std::size_t kObserverEventRecordSize = 2048;
inline constexpr std::size_t kSeiPayloadCopyLimit = VEXILO_OBSERVER_SEI_PAYLOAD_COPY_LIMIT;

// The kind-specific part of a normalised event: the observer's own layout of that
// kind, copied whole. Only the member of the record's kind is meaningful; the SEI
// member's payload pointer is cleared once the bytes are copied.
union ObserverEventPayload {
    std::array<std::uint8_t, sizeof(VexiloObserverParameterSetEvent)> raw{};
    VexiloObserverNalUnitEvent nalUnit;
    VexiloObserverParameterSetEvent parameterSet;
    VexiloObserverSeiMessageEvent sei;
    VexiloObserverSliceEvent slice;
    VexiloObserverShortTermRpsEvent shortTermRps;
    VexiloObserverLongTermRpsEvent longTermRps;
    VexiloObserverReferenceListEvent referenceList;
    VexiloObserverDpbEntryEvent dpbEntry;
    VexiloObserverReferenceStateEvent referenceState;
    VexiloObserverPictureOutputEvent pictureOutput;
    VexiloObserverCtuEvent ctu;
    VexiloObserverCuEvent cu;
    VexiloObserverPuEvent pu;
    VexiloObserverTuEvent tu;
    VexiloObserverVpsLayerSetEvent vpsLayerSet;
    VexiloObserverSyntaxDiagnosticEvent syntaxDiagnostic;
};

// One accepted observer event in a fixed-size, self-contained form, so that the
// collector can keep events in flat preallocated arrays. The header values and the
// slots several kinds share sit outside the kind-specific payload.
struct ObserverEventRecord {
    std::uint32_t abiVersion = 0;
    std::uint32_t kind = 0;
    std::uint64_t ordinal = 0;
    std::int64_t displayIndex = -1;
    std::int64_t pts = 0;
    std::int64_t dts = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t pictureType = 0;
    std::uint32_t headerReserved = 0;

    // Kinds 6 and 11 fill it; the NAL-group kinds inherit it from their thread.
    std::uint64_t nalIdentity = 0;
    std::uint64_t sliceIdentity = 0;
    std::uint64_t pictureIdentity = 0;
    std::uint32_t ctuAddress = 0;
    VexiloObserverBlockBounds bounds{};

    std::uint32_t payloadCopiedSize = 0;
    bool payloadTruncated = false;
    std::array<std::uint8_t, kSeiPayloadCopyLimit> payloadBytes{};

    ObserverEventPayload payload;

    // Pads the record to its fixed 2048 bytes.
    std::array<std::uint8_t, 504> reserved{};
};

static_assert(sizeof(ObserverEventRecord) == kObserverEventRecordSize,
              "the collector sizes its storage in 2048-byte records");

// The least byte size an event of this kind may have (the header size for kinds
// without a payload and for unknown kinds).
[[nodiscard]] std::uint32_t observerEventMinimumSize(std::uint32_t kind) noexcept;

// True when the header is usable at all: present, ABI version 8, at least 64 bytes.
[[nodiscard]] bool isValidObserverEventHeader(const VexiloObserverEventHeader* event) noexcept;

// Copies an event (with a valid header) into a record, resetting the head and the kind's
// part of the payload first (the record may be reused: bytes beyond what the kind uses are
// left as they were); false when the event is shorter than its kind's minimum. The SEI payload is copied here, while the
// decoder's pointer is still valid.
[[nodiscard]] bool normalizeObserverEvent(const VexiloObserverEventHeader& event,
                                          ObserverEventRecord& record) noexcept;

// Clears the values whose presence bit says the event holds none. A "signaled" bit vouches
// only for what exists solely when coded (slice header elements); a block value that H.265
// infers stays whatever that bit says.
void fixUpObserverEvent(ObserverEventRecord& record) noexcept;

// Block events (CTU, CU, PU, TU) travel through the per-thread staging areas.
[[nodiscard]] constexpr bool isBlockEventKind(std::uint32_t kind) noexcept
{
    return kind >= VEXILO_OBSERVER_EVENT_CTU && kind <= VEXILO_OBSERVER_EVENT_TU;
}

// Events that belong to the NAL unit last seen on their thread.
[[nodiscard]] constexpr bool isNalGroupEventKind(std::uint32_t kind) noexcept
{
    return (kind >= VEXILO_OBSERVER_EVENT_NAL_UNIT && kind <= VEXILO_OBSERVER_EVENT_SEI_MESSAGE) ||
           kind == VEXILO_OBSERVER_EVENT_VPS_LAYER_SET || kind == VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC;
}

// The identity a TU event carries for itself (event offset 88); 0 for other kinds.
[[nodiscard]] std::uint64_t tuIdentityOf(const ObserverEventRecord& record) noexcept;
// The owning CU of a CU, PU or TU event; 0 for other kinds.
[[nodiscard]] std::uint64_t cuIdentityOf(const ObserverEventRecord& record) noexcept;

}  // namespace vexilo::analyzer
