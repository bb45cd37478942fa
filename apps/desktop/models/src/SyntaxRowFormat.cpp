#include "SyntaxRowFormat.h"

#include "NalUnitIndex.h"
#include "SyntaxBranches.h"

#include <array>
#include <unordered_map>
#include <utility>

namespace vexilo::syntaxrows {
namespace {

using analysis::ProfileTierLevelInfo;

constexpr const char* kPtlStructureCondition = "profile_tier_level()";
constexpr const char* kProfilePresentCondition = "profilePresentFlag == true";
constexpr const char* kSubLayerProfileCondition = "sub-layer data loop && sub_layer_profile_present_flag[%1] == true";
constexpr const char* kSubLayerLevelCondition = "sub-layer data loop && sub_layer_level_present_flag[%1] == true";
constexpr const char* kSubLayerFlagLoop = "sub-layer flag loop";
constexpr const char* kAlignmentCondition = "maxNumSubLayersMinus1 > 0 && reserved sub-layer loop";
constexpr const char* kCompatibilityLoop = " && profile compatibility loop";
constexpr const char* kConjunction = " && ";
constexpr const char* kReservedBitsSemantics = "Reserved bits are read by the decoder but not exported";
constexpr int kCompatibilityFlagCount = 32;
// profile_tier_level() pads the sub-layer flag pairs to eight sub-layers.
constexpr int kPaddedSubLayerCount = 8;

struct PtlFlagField {
    const char* name;
    std::optional<bool> ProfileTierLevelInfo::*field;
};

// profile_tier_level() codes these after the compatibility flags, in this order.
constexpr std::array<PtlFlagField, 4> kSourceFlags{{
    {"progressive_source_flag", &ProfileTierLevelInfo::progressiveSourceFlag},
    {"interlaced_source_flag", &ProfileTierLevelInfo::interlacedSourceFlag},
    {"non_packed_constraint_flag", &ProfileTierLevelInfo::nonPackedConstraintFlag},
    {"frame_only_constraint_flag", &ProfileTierLevelInfo::frameOnlyConstraintFlag},
}};

// Then, for the format range extensions profiles, these.
constexpr std::array<PtlFlagField, 9> kRangeExtensionFlags{{
    {"max_12bit_constraint_flag", &ProfileTierLevelInfo::max12bitConstraintFlag},
    {"max_10bit_constraint_flag", &ProfileTierLevelInfo::max10bitConstraintFlag},
    {"max_8bit_constraint_flag", &ProfileTierLevelInfo::max8bitConstraintFlag},
    {"max_422chroma_constraint_flag", &ProfileTierLevelInfo::max422chromaConstraintFlag},
    {"max_420chroma_constraint_flag", &ProfileTierLevelInfo::max420chromaConstraintFlag},
    {"max_monochrome_constraint_flag", &ProfileTierLevelInfo::maxMonochromeConstraintFlag},
    {"intra_constraint_flag", &ProfileTierLevelInfo::intraConstraintFlag},
    {"one_picture_only_constraint_flag", &ProfileTierLevelInfo::onePictureOnlyConstraintFlag},
    {"lower_bit_rate_constraint_flag", &ProfileTierLevelInfo::lowerBitRateConstraintFlag},
}};

constexpr PtlFlagField kMax14bitFlag{"max_14bit_constraint_flag", &ProfileTierLevelInfo::max14bitConstraintFlag};
constexpr PtlFlagField kOnePictureOnlyFlag{"one_picture_only_constraint_flag",
                                           &ProfileTierLevelInfo::onePictureOnlyConstraintFlag};
constexpr PtlFlagField kInbldFlag{"inbld_flag", &ProfileTierLevelInfo::inbldFlag};

struct SeiPayloadName {
    std::uint32_t payloadType;
    const char* name;
};

constexpr std::array<SeiPayloadName, 17> kSeiPayloadNames{{
    {0, "buffering_period"},
    {1, "pic_timing"},
    {4, "user_data_registered_itu_t_t35"},
    {5, "user_data_unregistered"},
    {6, "recovery_point"},
    {19, "film_grain_characteristics"},
    {45, "frame_packing_arrangement"},
    {47, "display_orientation"},
    {129, "active_parameter_sets"},
    {132, "decoded_picture_hash"},
    {136, "time_code"},
    {137, "mastering_display_colour_volume"},
    {144, "content_light_level_info"},
    {147, "alternative_transfer_characteristics"},
    {148, "ambient_viewing_environment"},
    {149, "content_colour_volume"},
    {176, "three_dimensional_reference_displays_info"},
}};

// The conditions of one profile_tier_level() entry's rows: where its profile is coded, and
// each profile-dependent branch inside that. Made once per entry, so that its rows share them.
struct PtlConditions {
    PtlConditions(QString profileCondition, bool subLayer) : profile(std::move(profileCondition))
    {
        compatibility = profile + QLatin1String(kCompatibilityLoop);
        for (std::size_t branch = 0; branch < branches.size(); ++branch) {
            branches[branch] = within(profile, static_cast<ProfileBranch>(branch), subLayer);
        }
        // The 14-bit flag and its reserved bits are coded inside the range-extension branch.
        for (const ProfileBranch branch : {ProfileBranch::FourteenBitFlag, ProfileBranch::NoFourteenBitFlag}) {
            of(branch) = within(of(ProfileBranch::RangeExtensionFlags), branch, subLayer);
        }
    }

    [[nodiscard]] QString& of(ProfileBranch branch) { return branches[static_cast<std::size_t>(branch)]; }

    QString profile;
    QString compatibility;
    std::array<QString, kProfileBranchCount> branches;

private:
    static QString within(const QString& outer, ProfileBranch branch, bool subLayer)
    {
        return outer + QLatin1String(kConjunction) + profileBranchCondition(branch, subLayer);
    }
};

// The rows of one profile_tier_level() entry: prefix "general_" or "sub_layer_",
// suffix "" or "[i]".
class PtlEntryRows {
public:
    PtlEntryRows(std::vector<SyntaxRow>& rows, const ProfileTierLevelInfo& entry)
        : rows_(rows), entry_(entry), subLayer_(entry.subLayerId), conditions_(conditionsOf(entry.subLayerId))
    {
        if (subLayer_) {
            prefix_ = QStringLiteral("sub_layer_");
            suffix_ = QStringLiteral("[%1]").arg(*subLayer_);
        } else {
            prefix_ = QStringLiteral("general_");
        }
    }

    void append()
    {
        if (entry_.profileIdc) {
            appendProfile();
        }
        // general_level_idc is coded whatever profilePresentFlag says; a sub-layer's
        // level follows its own level-present flag.
        appendNumber("level_idc", entry_.levelIdc,
                     subLayer_ ? internedText(kSubLayerLevelCondition).arg(*subLayer_)
                               : internedText(kPtlStructureCondition));
    }

private:
    static const PtlConditions& conditionsOf(const std::optional<std::uint8_t>& subLayer)
    {
        if (!subLayer) {
            thread_local const PtlConditions general(internedText(kProfilePresentCondition), false);
            return general;
        }
        thread_local std::unordered_map<std::uint8_t, PtlConditions> subLayers;
        const auto found = subLayers.find(*subLayer);
        if (found != subLayers.end()) {
            return found->second;
        }
        return subLayers.emplace(*subLayer, PtlConditions(internedText(kSubLayerProfileCondition).arg(*subLayer), true))
            .first->second;
    }

    // The order of the table: the profile's own fields, the compatibility flags, the source
    // flags, then the flags and reserved bits of the branches the profile takes.
    void appendProfile()
    {
        appendNumber("profile_space", entry_.profileSpace, conditions_.profile);
        appendFlag("tier_flag", entry_.tierFlag, conditions_.profile);
        appendNumber("profile_idc", entry_.profileIdc, conditions_.profile);
        appendCompatibilityFlags();
        for (const PtlFlagField& flag : kSourceFlags) {
            appendFlag(flag, conditions_.profile);
        }
        if (taken(ProfileBranch::RangeExtensionFlags)) {
            appendRangeExtensionFlags();
        } else if (taken(ProfileBranch::OnePictureOnlyFlag)) {
            const QString& branch = branchCondition(ProfileBranch::OnePictureOnlyFlag);
            appendReserved("reserved_zero_7bits", branch);
            appendFlag(kOnePictureOnlyFlag, branch);
            appendReserved("reserved_zero_35bits", branch);
        } else {
            appendReserved("reserved_zero_43bits", branchCondition(ProfileBranch::NoConstraintFlags));
        }
        if (taken(ProfileBranch::InbldFlag)) {
            appendFlag(kInbldFlag, branchCondition(ProfileBranch::InbldFlag));
        } else {
            appendReserved("reserved_zero_bit", branchCondition(ProfileBranch::NoInbldFlag));
        }
    }

    void appendRangeExtensionFlags()
    {
        for (const PtlFlagField& flag : kRangeExtensionFlags) {
            appendFlag(flag, branchCondition(ProfileBranch::RangeExtensionFlags));
        }
        if (taken(ProfileBranch::FourteenBitFlag)) {
            const QString& branch = branchCondition(ProfileBranch::FourteenBitFlag);
            appendFlag(kMax14bitFlag, branch);
            appendReserved("reserved_zero_33bits", branch);
        } else {
            appendReserved("reserved_zero_34bits", branchCondition(ProfileBranch::NoFourteenBitFlag));
        }
    }

    [[nodiscard]] bool taken(ProfileBranch branch) const
    {
        return profileBranchTaken(branch, entry_.profileIdc.value_or(0), entry_.profileCompatibilityFlags.value_or(0));
    }

    [[nodiscard]] const QString& branchCondition(ProfileBranch branch) const
    {
        return conditions_.branches[static_cast<std::size_t>(branch)];
    }

    // The general names repeat for every parameter set: they are made once.
    QString nameOf(const char* field) const
    {
        if (subLayer_) {
            return prefix_ + QLatin1String(field) + suffix_;
        }
        thread_local std::unordered_map<const char*, QString> generalNames;
        const auto [entry, inserted] = generalNames.try_emplace(field);
        if (inserted) {
            entry->second = prefix_ + QLatin1String(field);
        }
        return entry->second;
    }

    static QString generalCompatibilityName(int j)
    {
        thread_local const std::array<QString, kCompatibilityFlagCount> names = [] {
            std::array<QString, kCompatibilityFlagCount> made;
            for (int flag = 0; flag < kCompatibilityFlagCount; ++flag) {
                made[static_cast<std::size_t>(flag)] = QStringLiteral("general_profile_compatibility_flag[%1]").arg(flag);
            }
            return made;
        }();
        return names[static_cast<std::size_t>(j)];
    }

    void appendNumber(const char* field, const std::optional<std::uint8_t>& value, const QString& condition)
    {
        if (value) {
            rows_.push_back({nameOf(field), numberText(*value), condition, internedText(kStatusPresent), {}});
        }
    }

    void appendFlag(const char* field, const std::optional<bool>& value, const QString& condition)
    {
        if (value) {
            rows_.push_back({nameOf(field), boolText(*value), condition, internedText(kStatusPresent), {}});
        }
    }

    void appendFlag(const PtlFlagField& flag, const QString& condition)
    {
        appendFlag(flag.name, entry_.*(flag.field), condition);
    }

    void appendReserved(const char* field, const QString& condition)
    {
        appendUnsupportedRow(rows_, nameOf(field), condition, internedText(kReservedBitsSemantics));
    }

    void appendCompatibilityFlags()
    {
        if (!entry_.profileCompatibilityFlags) {
            return;
        }
        const std::uint32_t mask = *entry_.profileCompatibilityFlags;
        for (int j = 0; j < kCompatibilityFlagCount; ++j) {
            const QString name = subLayer_ ? QStringLiteral("sub_layer_profile_compatibility_flag[%1][%2]")
                                                 .arg(*subLayer_)
                                                 .arg(j)
                                           : generalCompatibilityName(j);
            rows_.push_back({name, boolText(((mask >> j) & 1U) != 0U), conditions_.compatibility,
                             internedText(kStatusPresent), {}});
        }
    }

    std::vector<SyntaxRow>& rows_;
    const ProfileTierLevelInfo& entry_;
    std::optional<std::uint8_t> subLayer_;
    const PtlConditions& conditions_;
    QString prefix_;
    QString suffix_;
};

template <typename T>
QString formatOptionalNumber(const std::optional<T>& value)
{
    return value ? numberText(*value) : internedText(kNotAvailable);
}

// A "_minus<offset>" syntax value from a stored quantity; "N/A" below the offset.
template <typename T>
QString formatOptionalMinus(const std::optional<T>& value, T offset)
{
    if (!value || *value < offset) {
        return internedText(kNotAvailable);
    }
    return numberText(static_cast<T>(*value - offset));
}

template <std::size_t N>
QString textOfCode(unsigned code, const std::array<const char*, N>& texts, const char* otherwise)
{
    return internedText(code < N && texts[code] != nullptr ? texts[code] : otherwise);
}

}  // namespace

QString internedText(const char* literal)
{
    thread_local std::unordered_map<const char*, QString> texts;
    const auto [entry, inserted] = texts.try_emplace(literal);
    if (inserted) {
        entry->second = QString::fromLatin1(literal);
    }
    return entry->second;
}

QString sharedNumberText(int value)
{
    thread_local const std::vector<QString> numbers = [] {
        std::vector<QString> made;
        made.reserve(static_cast<std::size_t>(kSharedNumberCount));
        for (int number = 0; number < kSharedNumberCount; ++number) {
            made.push_back(QString::number(number));
        }
        return made;
    }();
    return numbers[static_cast<std::size_t>(value)];
}

void appendSyntaxRow(std::vector<SyntaxRow>& rows, QString syntax, QString value, QString condition, bool present,
                     QString semantics)
{
    rows.push_back({std::move(syntax), std::move(value), std::move(condition),
                    internedText(present ? kStatusPresent : kStatusUnknown), std::move(semantics)});
}

void appendUnsupportedRow(std::vector<SyntaxRow>& rows, QString syntax, QString condition, QString semantics)
{
    rows.push_back({std::move(syntax), internedText(kNotAvailable), std::move(condition),
                    internedText(kStatusUnsupported), std::move(semantics)});
}

void appendExportedSyntaxRow(std::vector<SyntaxRow>& rows, const analysis::ParameterSetInfo& parameterSet,
                             const QString& syntax, QString condition, QString semantics)
{
    const QByteArray name = syntax.toUtf8();
    if (const analysis::SyntaxElementInfo* element =
            findSyntaxElement(parameterSet, std::string_view(name.constData(), static_cast<std::size_t>(name.size())))) {
        rows.push_back({syntax, numberText(element->value), std::move(condition),
                        internedText(kStatusPresent), std::move(semantics)});
    }
}

void appendProfileTierLevelRows(std::vector<SyntaxRow>& rows, const analysis::ParameterSetInfo& parameterSet)
{
    const std::vector<ProfileTierLevelInfo>& entries = parameterSet.profileTierLevels;
    if (entries.empty()) {
        return;
    }
    PtlEntryRows(rows, entries.front()).append();
    std::vector<const ProfileTierLevelInfo*> subLayers;
    for (const ProfileTierLevelInfo& entry : entries) {
        if (entry.subLayerId) {
            subLayers.push_back(&entry);
        }
    }
    // The present flags of every sub-layer come first, then the padding, then each sub-layer's data.
    for (const ProfileTierLevelInfo* entry : subLayers) {
        const QString suffix = QStringLiteral("[%1]").arg(*entry->subLayerId);
        const QString condition = internedText(kSubLayerFlagLoop);
        rows.push_back({QStringLiteral("sub_layer_profile_present_flag") + suffix, boolText(entry->profilePresentFlag),
                        condition, internedText(kStatusPresent), {}});
        rows.push_back({QStringLiteral("sub_layer_level_present_flag") + suffix, boolText(entry->levelPresentFlag),
                        condition, internedText(kStatusPresent), {}});
    }
    // Without the stored sub-layer count, the highest listed sub-layer bounds it.
    const int maxNumSubLayersMinus1 = parameterSet.maxSubLayers && *parameterSet.maxSubLayers > 0
                                          ? *parameterSet.maxSubLayers - 1
                                          : (subLayers.empty() ? 0 : *subLayers.back()->subLayerId + 1);
    if (maxNumSubLayersMinus1 > 0) {
        for (int i = maxNumSubLayersMinus1; i < kPaddedSubLayerCount; ++i) {
            appendUnsupportedRow(rows, QStringLiteral("reserved_zero_2bits[%1]").arg(i),
                                 internedText(kAlignmentCondition), internedText(kReservedBitsSemantics));
        }
    }
    for (const ProfileTierLevelInfo* entry : subLayers) {
        PtlEntryRows(rows, *entry).append();
    }
}

const analysis::SyntaxElementInfo* findSyntaxElement(const analysis::ParameterSetInfo& parameterSet,
                                                     std::string_view name)
{
    for (const analysis::SyntaxElementInfo& element : parameterSet.syntaxElements) {
        if (element.name == name) {
            return &element;
        }
    }
    return nullptr;
}

bool syntaxFieldIsSet(const analysis::ParameterSetInfo& parameterSet, std::string_view name)
{
    const analysis::SyntaxElementInfo* element = findSyntaxElement(parameterSet, name);
    return element != nullptr && element->value != 0;
}

bool startsWithAscii(std::string_view text, const char* prefix)
{
    return text.starts_with(std::string_view(prefix));
}

QString nalUnitSummaryText(const analysis::NalUnitInfo& nalUnit)
{
    return QStringLiteral("%1 byte=%2 size=%3 %4")
        .arg(nalUnitKindText(nalUnit.kind))
        .arg(nalUnit.byteOffset)
        .arg(nalUnit.byteSize)
        .arg(stableIdText(nalUnit.id));
}

QString nalUnitSummaryById(const NalUnitIndex& nalUnits, const analysis::StableId& id)
{
    const analysis::NalUnitInfo* nalUnit = nalUnits.find(id);
    return nalUnit != nullptr ? nalUnitSummaryText(*nalUnit) : internedText(kNotAvailable);
}

QString parameterSetRbspName(analysis::ParameterSetKind kind)
{
    static constexpr std::array<const char*, 4> kNames{nullptr, "video_parameter_set_rbsp()",
                                                       "seq_parameter_set_rbsp()", "pic_parameter_set_rbsp()"};
    return textOfCode(static_cast<unsigned>(kind), kNames, "parameter_set_rbsp()");
}

QString sliceSummaryText(const analysis::SliceInfo& slice)
{
    return QStringLiteral("Slice %1 POC=%2 CTU=%3 %4")
        .arg(sliceTypeText(slice.type), formatOptionalInt32(slice.poc), formatOptionalUInt32(slice.firstCtuAddress),
             stableIdText(slice.id));
}

QString seiPayloadTypeName(std::uint32_t payloadType)
{
    for (const SeiPayloadName& entry : kSeiPayloadNames) {
        if (entry.payloadType == payloadType) {
            return internedText(entry.name);
        }
    }
    return QStringLiteral("payload_type_%1").arg(payloadType);
}

QString formatOptionalUInt8(const std::optional<std::uint8_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt16(const std::optional<std::uint16_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt32(const std::optional<std::uint32_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt64(const std::optional<std::uint64_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalInt16(const std::optional<std::int16_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalInt32(const std::optional<std::int32_t>& value) { return formatOptionalNumber(value); }

QString formatOptionalBool(const std::optional<bool>& value)
{
    return value ? boolText(*value) : internedText(kNotAvailable);
}

QString formatOptionalUInt8Minus8(const std::optional<std::uint8_t>& value)
{
    return formatOptionalMinus<std::uint8_t>(value, 8);
}

QString formatOptionalUInt8Minus1(const std::optional<std::uint8_t>& value)
{
    return formatOptionalMinus<std::uint8_t>(value, 1);
}

QString formatOptionalUInt16Minus1(const std::optional<std::uint16_t>& value)
{
    return formatOptionalMinus<std::uint16_t>(value, 1);
}

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

QString nalUnitKindText(analysis::NalUnitKind kind)
{
    static constexpr std::array<const char*, 8> kTexts{nullptr, "VPS", "SPS", "PPS", "AUD",
                                                       "Prefix SEI", "Suffix SEI", "Slice"};
    return textOfCode(static_cast<unsigned>(kind), kTexts, "Unknown");
}

QString parameterSetKindText(analysis::ParameterSetKind kind)
{
    static constexpr std::array<const char*, 4> kTexts{nullptr, "VPS", "SPS", "PPS"};
    return textOfCode(static_cast<unsigned>(kind), kTexts, "Unknown");
}

QString profileText(analysis::StreamProfile profile)
{
    static constexpr std::array<const char*, 3> kTexts{nullptr, "Main", "Main 10"};
    return textOfCode(static_cast<unsigned>(profile), kTexts, "Unknown");
}

QString sliceTypeText(analysis::SliceType type)
{
    static constexpr std::array<const char*, 4> kTexts{nullptr, "I", "P", "B"};
    return textOfCode(static_cast<unsigned>(type), kTexts, "Unknown");
}

QString parseStatusText(analysis::ParseStatus status)
{
    static constexpr std::array<const char*, 3> kTexts{nullptr, "parsed", "malformed"};
    return textOfCode(static_cast<unsigned>(status), kTexts, "unknown");
}

QString rpsSourceText(analysis::ValueOrigin origin)
{
    static constexpr std::array<const char*, 4> kTexts{nullptr, "slice-header", "sps", "derived"};
    return textOfCode(static_cast<unsigned>(origin), kTexts, "unknown");
}

QString referenceStatusText(analysis::ReferenceStatus status)
{
    static constexpr std::array<const char*, 5> kTexts{nullptr, "available", "unavailable", "corrupt",
                                                       "current-picture"};
    return textOfCode(static_cast<unsigned>(status), kTexts, "unknown");
}

QString stableIdText(const analysis::StableId& id)
{
    return QStringLiteral("id:%1").arg(id.low, 8, 16, QLatin1Char('0'));
}

}  // namespace vexilo::syntaxrows
