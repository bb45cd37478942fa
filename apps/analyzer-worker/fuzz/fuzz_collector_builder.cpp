// Feeds well-sized observer events with random contents to the collector and the
// document builder. Whatever the events say, the result must be either a builder error
// or a document that passes domain validation.

#include "builder/StreamAnalysisBuilder.h"
#include "collector/ObserverEventCollector.h"
#include "vexilo/analysis/DomainValidation.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

using namespace vexilo::analyzer;

// Identities drawn from small ranges, so that events refer to each other often.
constexpr std::uint64_t kIdentityRange = 4;
constexpr std::uint64_t kBlockIdentityRange = 8;

class FuzzInput {
public:
    explicit FuzzInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] bool empty() const { return position_ >= bytes_.size(); }

    std::uint8_t byte()
    {
        return empty() ? 0 : bytes_[position_++];
    }

    void fill(std::uint8_t* target, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            target[i] = byte();
        }
    }

    std::span<const std::uint8_t> take(std::size_t size)
    {
        const std::size_t available = std::min(size, bytes_.size() - std::min(position_, bytes_.size()));
        const std::span<const std::uint8_t> taken = bytes_.subspan(std::min(position_, bytes_.size()), available);
        position_ += available;
        return taken;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

template <typename T>
void put(std::vector<std::uint8_t>& event, std::size_t offset, T value)
{
    std::memcpy(event.data() + offset, &value, sizeof(T));
}

// The identity fields every kind shares, pulled into the small ranges.
void narrowIdentities(std::vector<std::uint8_t>& event, std::uint32_t kind, FuzzInput& input)
{
    const auto small = [&](std::uint64_t range) { return std::uint64_t{input.byte()} % range; };
    switch (kind) {
    case VEXILO_OBSERVER_EVENT_NAL_UNIT:
        put<std::uint64_t>(event, 112, small(kIdentityRange));
        put<std::int64_t>(event, 64, static_cast<std::int64_t>(small(64)) - 1);
        break;
    case VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER:
        put<std::uint64_t>(event, 64, small(kIdentityRange));
        put<std::uint64_t>(event, 72, small(kIdentityRange));
        put<std::uint64_t>(event, 80, small(kIdentityRange));
        break;
    case VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY:
    case VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY:
    case VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY:
    case VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY:
    case VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER:
        put<std::uint64_t>(event, 64, small(kIdentityRange));
        put<std::uint64_t>(event, 72, small(kIdentityRange));
        break;
    case VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT:
        put<std::uint64_t>(event, 64, small(kIdentityRange));
        break;
    case VEXILO_OBSERVER_EVENT_CTU:
    case VEXILO_OBSERVER_EVENT_CU:
    case VEXILO_OBSERVER_EVENT_PU:
    case VEXILO_OBSERVER_EVENT_TU:
        put<std::uint64_t>(event, 64, small(kIdentityRange));
        put<std::uint64_t>(event, 72, small(kIdentityRange));
        if (kind != VEXILO_OBSERVER_EVENT_CTU) {
            put<std::uint64_t>(event, 80, small(kBlockIdentityRange));
        }
        if (kind == VEXILO_OBSERVER_EVENT_CU || kind == VEXILO_OBSERVER_EVENT_TU) {
            put<std::uint64_t>(event, 88, small(kBlockIdentityRange));
        }
        break;
    default:
        break;
    }
}

std::vector<std::uint8_t> nextEvent(FuzzInput& input, const std::uint8_t* seiPayload, std::size_t seiSize)
{
    const std::uint32_t kind = 1u + input.byte() % VEXILO_OBSERVER_EVENT_KIND_COUNT;
    const std::uint32_t size = observerEventMinimumSize(kind);
    std::vector<std::uint8_t> event(size);
    input.fill(event.data(), size);
    put<std::uint32_t>(event, 0, size);
    put<std::uint32_t>(event, 4, VEXILO_OBSERVER_ABI_VERSION);
    put<std::uint32_t>(event, 8, kind);
    put<std::int64_t>(event, 24, static_cast<std::int64_t>(input.byte() % 8) - 1);
    narrowIdentities(event, kind, input);
    if (kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
        put<const std::uint8_t*>(event, 96, seiSize == 0 ? nullptr : seiPayload);
        put<std::uint32_t>(event, 104, static_cast<std::uint32_t>(seiSize));
    }
    return event;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(std::span<const std::uint8_t>(data, size));
    const std::span<const std::uint8_t> extradata = input.take(input.byte() % 64);
    const std::span<const std::uint8_t> seiPayload = input.take(input.byte());

    ObserverEventCollector collector(input.byte() % 2 == 0 ? 64 : 4096, 0, ObserverCollectorLimits{4, 16});
    while (!input.empty()) {
        const std::vector<std::uint8_t> event = nextEvent(input, seiPayload.data(), seiPayload.size());
        // The collector reads the whole event through the header's address.
        collector.onEvent(reinterpret_cast<const VexiloObserverEventHeader*>(event.data()));
    }
    collector.finalize();

    DecoderContextInfo context;
    context.width = 64 * (1 + (static_cast<int>(size) % 4));
    context.height = 64;
    context.profile = 1;
    context.lumaBitDepth = 8;
    context.extradata = extradata;
    const StreamAnalysisBuildResult result =
        buildStreamAnalysis("fuzz.hevc", "sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
                            context, collector);
    if (const auto* document = std::get_if<vexilo::analysis::StreamAnalysis>(&result)) {
        const vexilo::analysis::ValidationIssues issues = vexilo::analysis::validateStreamAnalysis(*document);
        if (!issues.empty()) {
            std::fprintf(stderr, "%s\n", vexilo::analysis::formatValidationIssues(issues).c_str());
            std::abort();
        }
    }
    return 0;
}
