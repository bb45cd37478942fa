#include "PictureIdentityMap.h"

#include <charconv>
#include <string_view>

namespace vexilo::application {
namespace {

// How the analyzer's picture errors name their picture in their detail, among fields joined by
// the separator.
constexpr std::string_view kDetailPictureField = "pictureId=";
constexpr std::string_view kDetailSeparator = "; ";
constexpr std::string_view kUnknownPicture = "N/A";

// The picture a detail text names, rewritten as the document's own references are: a log line or
// tooltip that names "Picture ID 3" must not go on to say "pictureId=4" of the same picture. A
// picture the project does not know is not named by the analyzer's number either.
template <typename Rewrite>
void rewriteDetailPictureId(std::string& detail, const Rewrite& rewrite)
{
    std::size_t searchFrom = 0;
    for (std::size_t field = detail.find(kDetailPictureField); field != std::string::npos;
         field = detail.find(kDetailPictureField, searchFrom)) {
        const std::size_t valueStart = field + kDetailPictureField.size();
        searchFrom = valueStart;
        const bool startsField = field == 0 || std::string_view(detail).substr(0, field).ends_with(kDetailSeparator);
        std::uint64_t value = 0;
        const char* const valueText = detail.data() + valueStart;
        const auto [valueEnd, failure] = std::from_chars(valueText, detail.data() + detail.size(), value);
        if (!startsField || failure != std::errc{}) {
            continue;
        }
        std::optional<std::uint64_t> reference = value;
        rewrite(reference);
        const std::string named = reference ? std::to_string(*reference) : std::string(kUnknownPicture);
        detail.replace(valueStart, static_cast<std::size_t>(valueEnd - valueText), named);
        searchFrom = valueStart + named.size();
    }
}

// The analyzer's identity of the document's own picture when the index did not give one: the
// first present decode-picture reference that differs from the project's id.
std::optional<std::uint64_t> searchOwnDecodeId(const analysis::StreamAnalysis& document, std::uint64_t projectId)
{
    std::optional<std::uint64_t> found;
    const auto look = [&found, projectId](const auto& records) {
        for (const auto& record : records) {
            if (!found && record.pictureId && *record.pictureId != projectId) {
                found = record.pictureId;
            }
        }
    };
    look(document.pictures);
    look(document.slices);
    look(document.nalUnits);
    return found;
}

}  // namespace

void PictureIdentityMap::bind(domain::PictureId picture, std::uint64_t decodeId)
{
    const std::lock_guard lock(mutex_);
    decodePictureIds_[picture] = decodeId;
    projectPictureOfDecodeId_[decodeId] = picture;
}

void PictureIdentityMap::clear()
{
    const std::lock_guard lock(mutex_);
    decodePictureIds_.clear();
    projectPictureOfDecodeId_.clear();
}

std::optional<std::uint64_t> PictureIdentityMap::decodeIdOf(domain::PictureId picture) const
{
    const std::lock_guard lock(mutex_);
    const auto found = decodePictureIds_.find(picture);
    return found != decodePictureIds_.end() ? std::optional(found->second) : std::nullopt;
}

void PictureIdentityMap::rewritePictureIdentities(domain::PictureId picture, analysis::StreamAnalysis& document) const
{
    const auto projectId = static_cast<std::uint64_t>(picture);
    const std::lock_guard lock(mutex_);
    std::uint64_t ownDecodeId = projectId;
    if (const auto known = decodePictureIds_.find(picture); known != decodePictureIds_.end()) {
        ownDecodeId = known->second;
    } else {
        ownDecodeId = searchOwnDecodeId(document, projectId).value_or(projectId);
    }
    // The views compare these references with project picture ids, so each one goes through the
    // inverse of the index's mapping.
    const auto rewrite = [&](std::optional<std::uint64_t>& reference) {
        if (!reference) {
            return;
        }
        if (*reference == ownDecodeId) {
            reference = projectId;
        } else if (const auto mapped = projectPictureOfDecodeId_.find(*reference);
                   mapped != projectPictureOfDecodeId_.end()) {
            reference = static_cast<std::uint64_t>(mapped->second);
        } else {
            reference.reset();
        }
    };
    for (auto& record : document.nalUnits) {
        rewrite(record.pictureId);
    }
    for (auto& record : document.seiMessages) {
        rewrite(record.pictureId);
    }
    for (auto& record : document.slices) {
        rewrite(record.pictureId);
    }
    for (auto& record : document.pictures) {
        rewrite(record.pictureId);
    }
    for (auto& record : document.referencePictures) {
        rewrite(record.targetPictureId);
    }
    for (auto& record : document.dpbSnapshotEntries) {
        rewrite(record.pictureId);
    }
    for (auto& record : document.errors) {
        rewriteDetailPictureId(record.detail, rewrite);
    }
}

}  // namespace vexilo::application
