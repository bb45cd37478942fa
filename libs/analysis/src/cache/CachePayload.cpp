#include "vexilo/analysis/cache/CachePayload.h"

#include "vexilo/analysis/AnalysisCodec.h"

#include <utility>

namespace vexilo::analysis {
namespace {

CacheError invalidPayload(AnalysisReadError& error, const std::filesystem::path& path)
{
    return makeCacheError(CacheErrorKind::invalid_payload, std::filesystem::path(path),
                          std::move(error.message));
}

}  // namespace

CacheResult<std::vector<std::uint8_t>> serializeCachePayload(const StreamAnalysis& analysis,
                                                             const std::filesystem::path& path)
{
    auto serialized = serializeStreamAnalysis(analysis);
    if (auto* error = std::get_if<AnalysisReadError>(&serialized)) {
        return invalidPayload(*error, path);
    }
    return std::move(std::get<std::vector<std::uint8_t>>(serialized));
}

CacheResult<StreamAnalysis> decodeCachedAnalysisPayload(std::span<const std::uint8_t> payload,
                                                        const std::filesystem::path& path, AnalysisReadExtent extent)
{
    auto decoded = readStreamAnalysis(payload, extent);
    if (auto* error = std::get_if<AnalysisReadError>(&decoded)) {
        return invalidPayload(*error, path);
    }
    return std::move(std::get<StreamAnalysis>(decoded));
}

}  // namespace vexilo::analysis
