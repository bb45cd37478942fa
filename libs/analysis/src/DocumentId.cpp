#include "vexilo/analysis/DocumentId.h"

#include <QByteArray>

namespace vexilo::analyzer {
namespace {

std::uint64_t bigEndianWord(const QByteArray& bytes, qsizetype first)
{
    std::uint64_t word = 0;
    for (qsizetype index = first; index < first + 8 && index < bytes.size(); ++index) {
        word = (word << 8) | static_cast<std::uint8_t>(bytes.at(index));
    }
    return word;
}

}  // namespace

analysis::StableId documentIdFromFingerprint(std::string_view fingerprint)
{
    const auto colon = fingerprint.find(':');
    const std::string_view digestText =
        colon == std::string_view::npos ? fingerprint : fingerprint.substr(colon + 1);
    // Qt's hex decoding skips non-hex characters and pairs digits from the end;
    // the identity must match what the desktop derives with the same call.
    const QByteArray digest = QByteArray::fromHex(
        QByteArray(digestText.data(), static_cast<qsizetype>(digestText.size())));

    analysis::StableId id{bigEndianWord(digest, 0), bigEndianWord(digest, 8)};
    if (id.isNull()) {
        id.low = 1;
    }
    return id;
}

std::uint64_t compactIdFromStableId(const analysis::StableId& id) noexcept
{
    return id.low != 0 ? id.low : id.high;
}

}  // namespace vexilo::analyzer
