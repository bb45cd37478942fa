#pragma once

// Observer events built byte by byte at the documented offsets, independent of the
// structs of the layout header, so that the tests also pin the layouts down.

#include "vexilo/hevc_observer/observer_abi.h"

#include <cstdint>
#include <cstring>
#include <cctype>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::analyzer::testing {

// A GoogleTest parameter name from a case description.
inline std::string caseName(const char* description)
{
    std::string name;
    for (const char* c = description; *c != 0; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
    }
    return name;
}

class EventBytes {
public:
    EventBytes(std::uint32_t kind, std::uint32_t size) : words_((size + 7) / 8 + 1, 0), size_(size)
    {
        put<std::uint32_t>(0, size);
        put<std::uint32_t>(4, VEXILO_OBSERVER_ABI_VERSION);
        put<std::uint32_t>(8, kind);
        put<std::int64_t>(24, -1);
        put<std::int64_t>(32, std::numeric_limits<std::int64_t>::min());
        put<std::int64_t>(40, std::numeric_limits<std::int64_t>::min());
    }

    template <typename T>
    EventBytes& put(std::size_t offset, T value)
    {
        std::memcpy(bytes() + offset, &value, sizeof(T));
        return *this;
    }

    template <typename T>
    [[nodiscard]] T get(std::size_t offset) const
    {
        T value{};
        std::memcpy(&value, bytes() + offset, sizeof(T));
        return value;
    }

    EventBytes& ordinal(std::uint64_t value) { return put<std::uint64_t>(16, value); }
    EventBytes& displayIndex(std::int64_t value) { return put<std::int64_t>(24, value); }
    EventBytes& timestamps(std::int64_t pts, std::int64_t dts) { return put<std::int64_t>(32, pts).put<std::int64_t>(40, dts); }
    EventBytes& size(std::uint32_t width, std::uint32_t height) { return put<std::uint32_t>(48, width).put<std::uint32_t>(52, height); }
    EventBytes& pictureType(std::uint32_t value) { return put<std::uint32_t>(56, value); }

    // Keeps a copy of the SEI payload alive as long as the event, and points the event at it.
    EventBytes& payload(std::vector<std::uint8_t> bytes)
    {
        payload_ = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
        return put<const std::uint8_t*>(96, payload_->empty() ? nullptr : payload_->data());
    }

    [[nodiscard]] const VexiloObserverEventHeader* header() const
    {
        return reinterpret_cast<const VexiloObserverEventHeader*>(words_.data());
    }
    [[nodiscard]] std::uint32_t byteSize() const { return size_; }

private:
    std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(words_.data()); }
    [[nodiscard]] const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(words_.data()); }

    std::vector<std::uint64_t> words_;
    std::uint32_t size_;
    std::shared_ptr<std::vector<std::uint8_t>> payload_;
};

inline EventBytes marker(std::uint32_t kind, std::uint64_t ordinal)
{
    return EventBytes(kind, 64).ordinal(ordinal);
}

inline EventBytes nalUnitEvent(std::uint64_t nalIdentity, std::int64_t byteOffset, std::uint32_t nalUnitType,
                               std::uint64_t ordinal = 0)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_NAL_UNIT, 120);
    event.ordinal(ordinal)
        .put<std::int64_t>(64, byteOffset)
        .put<std::uint64_t>(72, 100)
        .put<std::uint64_t>(80, 0xABCD0000u + nalIdentity)
        .put<std::uint32_t>(92, 4)
        .put<std::uint32_t>(96, nalUnitType)
        .put<std::uint32_t>(108, byteOffset >= 0 ? 1 : 0)
        .put<std::uint64_t>(112, nalIdentity);
    return event;
}

// kind 7, 8 or 9; parameterSetKind 1-3 follows the kind.
inline EventBytes parameterSetEvent(std::uint32_t kind, std::uint32_t parameterSetId, std::uint32_t width = 0,
                                    std::uint32_t height = 0, std::uint64_t contentHash = 0x1234)
{
    EventBytes event(kind, 1176);
    event.put<std::uint64_t>(64, contentHash)
        .put<std::uint32_t>(76, kind - 6)
        .put<std::uint32_t>(80, parameterSetId)
        .put<std::uint32_t>(84, kind == VEXILO_OBSERVER_EVENT_VPS ? 0xFFFFFFFFu : 0u)
        .put<std::uint32_t>(88, width)
        .put<std::uint32_t>(92, height)
        .put<std::uint32_t>(96, 1)
        .put<std::uint32_t>(100, 93)
        .put<std::uint32_t>(104, 1)
        .put<std::uint32_t>(108, 8)
        .put<std::uint32_t>(112, 8)
        .put<std::uint32_t>(116, 6)
        .put<std::uint32_t>(120, 1);
    return event;
}

inline EventBytes seiEvent(std::uint32_t payloadType, const std::vector<std::uint8_t>& payload,
                           std::uint64_t payloadHash = 0x77)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_SEI_MESSAGE, 112);
    event.put<std::uint64_t>(64, payload.size())
        .put<std::uint64_t>(72, payloadHash)
        .put<std::uint32_t>(84, payloadType)
        .put<std::uint32_t>(92, 1)
        .put<std::uint32_t>(104, static_cast<std::uint32_t>(payload.size()))
        .payload(payload);
    return event;
}

inline EventBytes sliceEvent(std::uint64_t nalIdentity, std::uint64_t sliceIdentity, std::uint64_t pictureIdentity,
                             std::uint32_t sliceSegmentAddress = 0)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER, 216);
    event.put<std::uint64_t>(64, nalIdentity)
        .put<std::uint64_t>(72, sliceIdentity)
        .put<std::uint64_t>(80, pictureIdentity)
        .put<std::uint64_t>(88, 0x1FFFF)
        .put<std::uint64_t>(96, 0x3F)
        .put<std::uint32_t>(104, 1)
        .put<std::uint32_t>(124, sliceSegmentAddress == 0 ? 1 : 0)
        .put<std::uint32_t>(140, sliceSegmentAddress)
        .put<std::uint32_t>(144, 2)
        .put<std::uint32_t>(148, 2)
        .put<std::int32_t>(160, static_cast<std::int32_t>(pictureIdentity))
        .put<std::int32_t>(196, 30)
        .put<std::int32_t>(168, -1)
        .put<std::uint32_t>(176, 1)
        .put<std::uint32_t>(180, 1)
        .put<std::uint32_t>(200, sliceSegmentAddress);
    return event;
}

// Kinds 12, 13, 15 and 16 share their first fields; `index` goes to offset 80 (or 88
// for a DPB slot).
inline EventBytes sliceChildEvent(std::uint32_t kind, std::uint64_t sliceIdentity, std::uint64_t pictureIdentity,
                                  std::uint32_t index)
{
    const std::uint32_t size = kind == VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY ? 104 : 112;
    EventBytes event(kind, size);
    event.put<std::uint64_t>(64, sliceIdentity).put<std::uint64_t>(72, pictureIdentity);
    if (kind == VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY) {
        event.put<std::uint32_t>(88, index).put<std::uint32_t>(96, 0x3).put<std::uint32_t>(100, 1);
    } else {
        event.put<std::uint32_t>(80, index).put<std::int32_t>(84, -1).put<std::int32_t>(88, 7).put<std::uint32_t>(92, 1);
    }
    return event;
}

inline EventBytes referenceListEvent(std::uint64_t sliceIdentity, std::uint64_t pictureIdentity, std::uint32_t list,
                                     std::uint32_t listIndex, std::uint64_t targetPictureId)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY, 112);
    event.put<std::uint64_t>(64, sliceIdentity)
        .put<std::uint64_t>(72, pictureIdentity)
        .put<std::uint64_t>(80, targetPictureId)
        .put<std::uint32_t>(88, list)
        .put<std::uint32_t>(92, listIndex)
        .put<std::int32_t>(96, 0)
        .put<std::uint32_t>(104, 1);
    return event;
}

inline EventBytes pictureOutputEvent(std::uint64_t pictureIdentity, std::int64_t displayIndex,
                                     std::int64_t decodeIndex, std::uint32_t width = 64, std::uint32_t height = 64)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT, 96);
    event.displayIndex(displayIndex).timestamps(displayIndex * 100, decodeIndex * 100).size(width, height).pictureType(1);
    event.put<std::uint64_t>(64, pictureIdentity).put<std::int64_t>(72, decodeIndex).put<std::int32_t>(80, 2 * static_cast<std::int32_t>(displayIndex));
    return event;
}

inline EventBytes ctuEvent(std::uint64_t sliceIdentity, std::uint64_t pictureIdentity, std::uint32_t ctuAddress,
                           std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_CTU, 120);
    event.put<std::uint64_t>(64, sliceIdentity)
        .put<std::uint64_t>(72, pictureIdentity)
        .put<std::uint32_t>(80, ctuAddress)
        .put<std::uint32_t>(84, ctuAddress)
        .put<std::uint32_t>(92, x)
        .put<std::uint32_t>(96, y)
        .put<std::uint32_t>(100, width)
        .put<std::uint32_t>(104, height)
        .put<std::uint32_t>(108, 1);
    return event;
}

inline EventBytes cuEvent(std::uint64_t sliceIdentity, std::uint64_t pictureIdentity, std::uint32_t ctuAddress,
                          std::uint64_t cuIdentity, std::uint64_t parentCuIdentity, std::uint32_t x, std::uint32_t y,
                          std::uint32_t size)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_CU, 208);
    event.put<std::uint64_t>(64, sliceIdentity)
        .put<std::uint64_t>(72, pictureIdentity)
        .put<std::uint64_t>(80, cuIdentity)
        .put<std::uint64_t>(88, parentCuIdentity)
        .put<std::uint64_t>(104, 0x1FFE)
        .put<std::uint32_t>(112, ctuAddress)
        .put<std::uint32_t>(120, static_cast<std::uint32_t>(cuIdentity))
        .put<std::uint32_t>(124, x)
        .put<std::uint32_t>(128, y)
        .put<std::uint32_t>(132, size)
        .put<std::uint32_t>(136, size)
        .put<std::uint32_t>(152, 2)
        .put<std::uint32_t>(156, 1)
        .put<std::int32_t>(168, 30)
        .put<std::uint32_t>(172, 1)
        .put<std::int32_t>(180, 29)
        .put<std::int32_t>(184, 29)
        .put<std::int32_t>(196, 0);
    return event;
}

inline EventBytes puEvent(std::uint64_t sliceIdentity, std::uint64_t pictureIdentity, std::uint32_t ctuAddress,
                          std::uint64_t cuIdentity, std::uint32_t partIndex, std::uint32_t x, std::uint32_t y,
                          std::uint32_t size, std::int32_t refIdxL0)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_PU, 240);
    const std::uint64_t maskB = (1u << 2) | (1u << 3) | (1u << 8) | (1u << 9) | (1u << 11) | (1u << 15) | (1u << 17);
    event.put<std::uint64_t>(64, sliceIdentity)
        .put<std::uint64_t>(72, pictureIdentity)
        .put<std::uint64_t>(80, cuIdentity)
        .put<std::uint64_t>(88, (1u << 7))
        .put<std::uint64_t>(96, maskB)
        .put<std::uint32_t>(104, ctuAddress)
        .put<std::uint32_t>(112, partIndex)
        .put<std::uint32_t>(116, 1)
        .put<std::uint32_t>(120, 1)
        .put<std::uint32_t>(124, x)
        .put<std::uint32_t>(128, y)
        .put<std::uint32_t>(132, size)
        .put<std::uint32_t>(136, size)
        .put<std::int32_t>(140, -1)
        .put<std::int32_t>(144, -1)
        .put<std::uint32_t>(156, 1)
        .put<std::int32_t>(160, refIdxL0)
        .put<std::int32_t>(164, -1)
        .put<std::int32_t>(168, 4)
        .put<std::int32_t>(172, -1)
        .put<std::int32_t>(192, 5)
        .put<std::int32_t>(196, -3)
        .put<std::int32_t>(208, 1)
        .put<std::int32_t>(212, 2)
        .put<std::uint32_t>(224, 1)
        .put<std::uint32_t>(232, 1);
    return event;
}

inline EventBytes tuEvent(std::uint64_t sliceIdentity, std::uint64_t pictureIdentity, std::uint32_t ctuAddress,
                          std::uint64_t cuIdentity, std::uint64_t tuIdentity, std::uint64_t parentTuIdentity,
                          std::uint32_t x, std::uint32_t y, std::uint32_t size)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_TU, 264);
    event.put<std::uint64_t>(64, sliceIdentity)
        .put<std::uint64_t>(72, pictureIdentity)
        .put<std::uint64_t>(80, cuIdentity)
        .put<std::uint64_t>(88, tuIdentity)
        .put<std::uint64_t>(96, parentTuIdentity)
        .put<std::uint64_t>(112, (1u << 1) | (1u << 3) | (1u << 18))
        .put<std::uint32_t>(120, ctuAddress)
        .put<std::uint32_t>(128, static_cast<std::uint32_t>(tuIdentity))
        .put<std::uint32_t>(132, x)
        .put<std::uint32_t>(136, y)
        .put<std::uint32_t>(140, size)
        .put<std::uint32_t>(144, size)
        .put<std::uint32_t>(156, 1)
        .put<std::int32_t>(220, 31)
        .put<std::uint32_t>(252, 1);
    return event;
}

// Kind 23; `element` and `message` are cut to their fields.
inline EventBytes syntaxDiagnosticEvent(std::uint64_t nalIdentity, std::uint32_t nalUnitType, std::uint32_t outcome,
                                        std::string_view element, std::string_view message,
                                        std::optional<std::uint64_t> bitPosition)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC, VEXILO_OBSERVER_MIN_SIZE_SYNTAX_DIAGNOSTIC);
    event.put<std::uint64_t>(64, nalIdentity)
        .put<std::uint64_t>(72, bitPosition.value_or(0))
        .put<std::uint32_t>(80, nalUnitType)
        .put<std::uint32_t>(84, outcome)
        .put<std::uint32_t>(88, bitPosition ? 1U : 0U);
    for (std::size_t i = 0; i < element.size() && i + 1 < VEXILO_OBSERVER_DIAGNOSTIC_ELEMENT_BYTES; ++i) {
        event.put<char>(96 + i, element[i]);
    }
    for (std::size_t i = 0; i < message.size() && i + 1 < VEXILO_OBSERVER_DIAGNOSTIC_MESSAGE_BYTES; ++i) {
        event.put<char>(144 + i, message[i]);
    }
    return event;
}

inline EventBytes vpsLayerSetEvent(std::uint32_t vpsId, std::uint32_t layerSetIndex, std::uint32_t maxLayerId,
                                   std::uint64_t mask)
{
    EventBytes event(VEXILO_OBSERVER_EVENT_VPS_LAYER_SET, 88);
    event.put<std::uint64_t>(64, mask)
        .put<std::uint32_t>(72, vpsId)
        .put<std::uint32_t>(76, layerSetIndex)
        .put<std::uint32_t>(80, maxLayerId);
    return event;
}

}  // namespace vexilo::analyzer::testing
