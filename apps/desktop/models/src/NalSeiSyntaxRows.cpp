#include "SyntaxRowBuilders.h"
#include "SyntaxRowFormat.h"

#include "vexilo/models/PictureSyntaxModel.h"

#include <unordered_map>
#include <unordered_set>

namespace vexilo::syntaxrows {
namespace {

using analysis::NalUnitInfo;
using analysis::NalUnitKind;
using analysis::SeiMessageInfo;
using analysis::StableId;
using analysis::StableIdHash;

constexpr const char* kNalHeaderCondition = "nal_unit_header()";
constexpr const char* kSeiMessageName = "sei_message()";
constexpr const char* kSeiRbspName = "sei_rbsp()";
constexpr const char* kSeiNalCondition = "SEI NAL unit";
constexpr std::uint32_t kSeiByteExtension = 255;

bool isSeiNalUnit(const NalUnitInfo& nalUnit)
{
    return nalUnit.kind == NalUnitKind::PrefixSei || nalUnit.kind == NalUnitKind::SuffixSei;
}

void appendNalUnitRows(std::vector<SyntaxRow>& rows, const NalUnitInfo& nalUnit)
{
    const QString header = internedText(kNalHeaderCondition);
    rows.push_back({QStringLiteral("nal_unit()"), nalUnitSummaryText(nalUnit), QStringLiteral("Annex-B NAL byte order"),
                    internedText(kStatusPresent), QStringLiteral("NAL unit identity and byte range exported by FFmpeg")});
    rows.push_back({QStringLiteral("start_code_prefix"), formatOptionalUInt8(nalUnit.startCodeLength),
                    QStringLiteral("Annex-B byte stream"), presentOrUnknown(nalUnit.startCodeLength),
                    QStringLiteral("Start-code length in bytes when the observer can determine it")});
    appendUnsupportedRow(rows, QStringLiteral("forbidden_zero_bit"), header,
                         QStringLiteral("Header bit is validated by FFmpeg but not exported as a field"));
    rows.push_back({QStringLiteral("nal_unit_type"), formatOptionalUInt8(nalUnit.nalUnitType), header,
                    presentOrUnknown(nalUnit.nalUnitType),
                    QStringLiteral("HEVC NAL unit type; decoded kind is shown in nal_unit()")});
    rows.push_back({QStringLiteral("nuh_layer_id"), formatOptionalUInt8(nalUnit.layerId), header,
                    presentOrUnknown(nalUnit.layerId), QStringLiteral("HEVC layer id exported by the analyzer")});
    appendSyntaxRow(rows, QStringLiteral("nuh_temporal_id_plus1"),
                    nalUnit.temporalId ? QString::number(*nalUnit.temporalId + 1) : internedText(kNotAvailable),
                    header, nalUnit.temporalId.has_value(),
                    QStringLiteral("Displayed as temporal_id + 1; repository stores temporal_id"));
    rows.push_back({QStringLiteral("rbsp_byte[]"), QString::fromStdString(nalUnit.contentHash),
                    QStringLiteral("NAL payload"),
                    internedText(nalUnit.contentHash.empty() ? kStatusUnknown : kStatusDerived),
                    QStringLiteral("Payload bytes are not stored; content hash is retained for identity")});
    rows.push_back({QStringLiteral("byte_offset"), QString::number(nalUnit.byteOffset), QStringLiteral("input stream"),
                    internedText(nalUnit.byteSpanReliable ? kStatusDerived : kStatusPartial),
                    QStringLiteral("Input byte offset; partial when FFmpeg could not report reliable location")});
}

QString seiStatusText(analysis::SeiStatus status)
{
    switch (status) {
    case analysis::SeiStatus::Parsed:
        return QStringLiteral("parsed");
    case analysis::SeiStatus::Unsupported:
        return QStringLiteral("unsupported");
    case analysis::SeiStatus::Malformed:
        return QStringLiteral("malformed");
    default:
        return internedText(kStatusUnknown);
    }
}

// ff_byte rows for a payloadType or payloadSize value, then its last byte.
void appendSeiVariableLengthRows(std::vector<SyntaxRow>& rows, std::uint64_t value, const char* what,
                                 const char* lastByteName)
{
    const std::uint64_t extensionBytes = value / kSeiByteExtension;
    if (extensionBytes >= 1) {
        rows.push_back({QStringLiteral("ff_byte"), QStringLiteral("255 × %1").arg(extensionBytes),
                        QStringLiteral("while( next_bits( 8 ) == 0xFF ) for %1").arg(QLatin1String(what)),
                        internedText(kStatusPresent), QStringLiteral("Repeated %1 extension byte").arg(QLatin1String(what))});
    }
    rows.push_back({internedText(lastByteName), QString::number(value - kSeiByteExtension * extensionBytes),
                    internedText(kSeiMessageName), internedText(kStatusPresent), {}});
}

QString seiPayloadSemantics(const SeiMessageInfo& message)
{
    if (message.truncated) {
        return QStringLiteral("Syntax is limited to the first 256 payload bytes; full payload identity %1")
            .arg(QString::fromStdString(message.payloadHash));
    }
    if (!message.payloadHash.empty()) {
        return QStringLiteral("Payload identity %1").arg(QString::fromStdString(message.payloadHash));
    }
    return QStringLiteral("SEI payload bytes are not retained");
}

void appendSeiMessageRows(std::vector<SyntaxRow>& rows, const SeiMessageInfo& message)
{
    const QString payloadName =
        message.payloadType ? seiPayloadTypeName(*message.payloadType) : QStringLiteral("unknown payload type");
    const QString status = seiStatusText(message.status);
    rows.push_back({internedText(kSeiMessageName),
                    QStringLiteral("%1, %2 byte(s)").arg(payloadName, formatOptionalUInt64(message.payloadSize)),
                    QStringLiteral("do ... while( more_rbsp_data() )"), status,
                    QStringLiteral("One SEI message in the enclosing SEI RBSP")});
    if (message.payloadType) {
        appendSeiVariableLengthRows(rows, *message.payloadType, "payloadType", "last_payload_type_byte");
    }
    if (message.payloadSize) {
        appendSeiVariableLengthRows(rows, *message.payloadSize, "payloadSize", "last_payload_size_byte");
    }
    rows.push_back({QStringLiteral("sei_payload( payloadType, payloadSize )"),
                    message.payloadType ? payloadName : internedText(kNotAvailable),
                    internedText(kSeiMessageName), message.truncated ? internedText(kStatusPartial) : status,
                    seiPayloadSemantics(message)});
    for (const analysis::SyntaxElementInfo& element : message.syntaxElements) {
        rows.push_back({QString::fromStdString(element.name),
                        element.displayValue.empty() ? numberText(element.value)
                                                     : QString::fromStdString(element.displayValue),
                        payloadName, internedText(kStatusPresent), QStringLiteral("Syntax parsed from the bounded SEI payload")});
    }
}

}  // namespace

std::vector<SyntaxStructure> nalUnitStructures(const PictureSyntaxModel& model)
{
    std::vector<SyntaxStructure> structures;
    for (const NalUnitInfo& nalUnit : model.analysis().nalUnits) {
        if (model.belongsToShownPicture(nalUnit.pictureId)) {
            structures.emplace_back([&nalUnit](std::vector<SyntaxRow>& rows) { appendNalUnitRows(rows, nalUnit); });
        }
    }
    return structures;
}

void buildSeiSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows)
{
    const analysis::StreamAnalysis& document = model.analysis();
    std::unordered_map<StableId, std::vector<const SeiMessageInfo*>, StableIdHash> messagesByParent;
    for (const SeiMessageInfo& message : document.seiMessages) {
        messagesByParent[message.parentNalUnitId].push_back(&message);
    }

    std::unordered_set<const SeiMessageInfo*> shown;
    for (const NalUnitInfo& nalUnit : document.nalUnits) {
        const auto children = messagesByParent.find(nalUnit.id);
        if (!isSeiNalUnit(nalUnit) || children == messagesByParent.end()) {
            continue;
        }
        std::vector<const SeiMessageInfo*> collected;
        for (const SeiMessageInfo* message : children->second) {
            if (model.belongsToShownPicture(message->pictureId ? message->pictureId : nalUnit.pictureId)) {
                collected.push_back(message);
            }
        }
        if (collected.empty()) {
            continue;
        }
        rows.push_back({internedText(kSeiRbspName), nalUnitSummaryText(nalUnit),
                        internedText(kSeiNalCondition), internedText(kStatusPresent),
                        QStringLiteral("%1 containing %2 SEI message(s)")
                            .arg(nalUnitKindText(nalUnit.kind))
                            .arg(collected.size())});
        for (const SeiMessageInfo* message : collected) {
            appendSeiMessageRows(rows, *message);
            shown.insert(message);
        }
        rows.push_back({internedText(kTrailingBitsName), internedText(kNotAvailable),
                        internedText(kSeiRbspName), internedText(kStatusValidated),
                        internedText(kTrailingBitsSemantics)});
    }

    for (const SeiMessageInfo& message : document.seiMessages) {
        const NalUnitInfo* parent = model.nalUnitById(message.parentNalUnitId);
        if (shown.contains(&message) || (parent != nullptr && isSeiNalUnit(*parent)) ||
            !model.belongsToShownPicture(message.pictureId)) {
            continue;
        }
        rows.push_back({internedText(kSeiRbspName),
                        QStringLiteral("SEI parent=%1").arg(stableIdText(message.parentNalUnitId)),
                        internedText(kSeiNalCondition), internedText(kStatusPartial),
                        QStringLiteral("Parent SEI NAL metadata is unavailable")});
        appendSeiMessageRows(rows, message);
    }
}

}  // namespace vexilo::syntaxrows
