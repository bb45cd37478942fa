#include "SyntaxBranches.h"

#include "SyntaxRowFormat.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <span>
#include <unordered_map>
#include <utility>

namespace vexilo::syntaxrows {
namespace {

struct BranchKey {
    const char* condition;
    const char* key;
};

// The builders' short condition texts and the branch or loop of the H.265 syntax table they
// stand for. Flag conditions ("name == true", "name == false") need no entry.
constexpr std::array<BranchKey, 32> kBranchKeys{{
    {"nal_unit_header()", "nal_unit_header()"},
    {"while( next_bits( 8 ) == 0xFF ) for payloadType", "while( next_bits( 8 ) == 0xFF )"},
    {"while( next_bits( 8 ) == 0xFF ) for payloadSize", "while( next_bits( 8 ) == 0xFF )"},
    {"profile compatibility loop", "for( j = 0; j < 32; j++ )"},
    {"sub-layer flag loop", "for( i = 0; i < maxNumSubLayersMinus1; i++ )"},
    {"maxNumSubLayersMinus1 > 0", "if( maxNumSubLayersMinus1 > 0 )"},
    {"reserved sub-layer loop", "for( i = maxNumSubLayersMinus1; i < 8; i++ )"},
    {"sub-layer data loop", "for( i = 0; i < maxNumSubLayersMinus1; i++ )"},
    {"vps sub-layer ordering loop",
     "for( i = vps_sub_layer_ordering_info_present_flag ? 0 : vps_max_sub_layers_minus1; "
     "i <= vps_max_sub_layers_minus1; i++ )"},
    {"vps HRD loop", "for( i = 0; i < vps_num_hrd_parameters; i++ )"},
    {"i > 0", "if( i > 0 )"},
    {"VPS extension data loop", "if( vps_extension_flag ) while( more_rbsp_data() )"},
    {"chroma_format_idc == 3", "if( chroma_format_idc == 3 )"},
    {"sps sub-layer ordering loop",
     "for( i = sps_sub_layer_ordering_info_present_flag ? 0 : sps_max_sub_layers_minus1; "
     "i <= sps_max_sub_layers_minus1; i++ )"},
    {"SPS short-term RPS loop", "for( i = 0; i < num_short_term_ref_pic_sets; i++ )"},
    {"SPS long-term picture loop", "for( i = 0; i < num_long_term_ref_pics_sps; i++ )"},
    {"aspect_ratio_idc == 255", "if( aspect_ratio_idc == EXTENDED_SAR )"},
    {"SPS extension data loop", "if( sps_extension_4bits ) while( more_rbsp_data() )"},
    {"tile column loop", "for( i = 0; i < num_tile_columns_minus1; i++ )"},
    {"tile row loop", "for( i = 0; i < num_tile_rows_minus1; i++ )"},
    {"chroma QP offset list loop", "for( i = 0; i <= chroma_qp_offset_list_len_minus1; i++ )"},
    {"PPS extension data loop", "if( pps_extension_4bits ) while( more_rbsp_data() )"},
    {"IRAP picture", "if( nal_unit_type >= BLA_W_LP && nal_unit_type <= RSV_IRAP_VCL23 )"},
    {"not first slice segment", "if( !first_slice_segment_in_pic_flag )"},
    {"independent slice segment", "if( !dependent_slice_segment_flag )"},
    {"non-IDR picture", "if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP )"},
    {"short_term_ref_pic_set_sps_flag == true && num_short_term_ref_pic_sets > 1",
     "else if( num_short_term_ref_pic_sets > 1 )"},
    {"P/B slice", "if( slice_type == P || slice_type == B )"},
    {"B slice", "if( slice_type == B )"},
    {"lists_modification_present_flag == true && NumPicTotalCurr > 1",
     "if( lists_modification_present_flag && NumPicTotalCurr > 1 )"},
    {"weighted prediction", "if( ( weighted_pred_flag && slice_type == P ) || ( weighted_bipred_flag && slice_type == B ) )"},
    {"tiles or WPP", "if( tiles_enabled_flag || entropy_coding_sync_enabled_flag )"},
}};

constexpr const char* kConjunction = " && ";
constexpr const char* kTrueSuffix = " == true";
constexpr const char* kFalseSuffix = " == false";

// The structures whose rows fold below their own row, with the outermost conditions of those rows.

const std::array<SyntaxContainer, 5> kContainers{{
    {"profile_tier_level(", true,
     {"profile_tier_level()", "profilePresentFlag == true", "sub-layer flag loop", "maxNumSubLayersMinus1 > 0",
      "sub-layer data loop"}},
    {"vui_parameters()", false,
     {"vui_parameters()", "aspect_ratio_info_present_flag == true", "overscan_info_present_flag == true",
      "video_signal_type_present_flag == true", "chroma_loc_info_present_flag == true",
      "default_display_window_flag == true", "vui_timing_info_present_flag == true",
      "bitstream_restriction_flag == true"}},
    {"sps_range_extension()", false, {"sps_range_extension()"}},
    {"pps_range_extension()", false,
     {"pps_range_extension()", "transform_skip_enabled_flag == true", "chroma_qp_offset_list_enabled_flag == true"}},
    {"ref_pic_lists_modification()", false, {"ref_pic_lists_modification()", "B slice"}},
}};

constexpr std::array<std::uint8_t, 8> kRangeExtensionProfiles{4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::array<std::uint8_t, 4> kFourteenBitProfiles{5, 9, 10, 11};
constexpr std::array<std::uint8_t, 1> kOnePictureOnlyProfiles{2};
constexpr std::array<std::uint8_t, 7> kInbldProfiles{1, 2, 3, 4, 5, 9, 11};

// How a profile branch reads: the table's keyword, the profiles its test names (the if's own
// profiles for an else), and the short text of the profiles in the builders' conditions.
struct ProfileBranchText {
    ProfileBranch branch;
    const char* keyword;
    std::span<const std::uint8_t> profiles;
    const char* condition;
};

constexpr std::array<ProfileBranchText, kProfileBranchCount> kProfileBranchTexts{{
    {ProfileBranch::RangeExtensionFlags, "if", kRangeExtensionProfiles, "4..11"},
    {ProfileBranch::FourteenBitFlag, "if", kFourteenBitProfiles, "5, 9, 10, 11"},
    {ProfileBranch::NoFourteenBitFlag, "else", {}, "not 5, 9, 10, 11"},
    {ProfileBranch::OnePictureOnlyFlag, "else if", kOnePictureOnlyProfiles, "2, not 4..11"},
    {ProfileBranch::NoConstraintFlags, "else", {}, "neither 2 nor 4..11"},
    {ProfileBranch::InbldFlag, "if", kInbldProfiles, "1..5, 9, 11"},
    {ProfileBranch::NoInbldFlag, "else", {}, "not 1..5, 9, 11"},
}};

bool claims(std::span<const std::uint8_t> profiles, std::uint8_t profileIdc, std::uint32_t compatibilityFlags)
{
    for (const std::uint8_t profile : profiles) {
        if (profileIdc == profile || ((compatibilityFlags >> profile) & 1U) != 0U) {
            return true;
        }
    }
    return false;
}

// "if( general_profile_idc == 4 || general_profile_compatibility_flag[ 4 ] || ... )", or for a
// sub-layer "sub_layer_profile_idc[ i ] == 4 || sub_layer_profile_compatibility_flag[ i ][ 4 ]".
QString profileBranchKey(const ProfileBranchText& text, bool subLayer)
{
    if (text.profiles.empty()) {
        return QString::fromLatin1(text.keyword);
    }
    const QString idc = subLayer ? QStringLiteral("sub_layer_profile_idc[ i ]") : QStringLiteral("general_profile_idc");
    const QString flag = subLayer ? QStringLiteral("sub_layer_profile_compatibility_flag[ i ][ %1 ]")
                                  : QStringLiteral("general_profile_compatibility_flag[ %1 ]");
    QStringList tests;
    for (const std::uint8_t profile : text.profiles) {
        tests << QStringLiteral("%1 == %2").arg(idc).arg(profile) << flag.arg(profile);
    }
    return QStringLiteral("%1( %2 )").arg(QLatin1String(text.keyword), tests.join(QStringLiteral(" || ")));
}

const std::unordered_map<QString, QString>& profileBranchKeys()
{
    static const std::unordered_map<QString, QString> keys = [] {
        std::unordered_map<QString, QString> made;
        for (const ProfileBranchText& text : kProfileBranchTexts) {
            for (const bool subLayer : {false, true}) {
                made.emplace(profileBranchCondition(text.branch, subLayer), profileBranchKey(text, subLayer));
            }
        }
        return made;
    }();
    return keys;
}

bool isNameCharacter(QChar character)
{
    return character.isLetterOrNumber() || character == u'_';
}

// "name == true" is "if( name )", "name == false" "if( !name )"; "name[2] == true" is
// "if( name[ i ] )", the loop that encloses it giving the index.
QString flagBranchKey(const QString& condition)
{
    const bool whenSet = condition.endsWith(QLatin1String(kTrueSuffix));
    if (!whenSet && !condition.endsWith(QLatin1String(kFalseSuffix))) {
        return {};
    }
    const QString flag = condition.chopped(QLatin1String(whenSet ? kTrueSuffix : kFalseSuffix).size());
    const qsizetype index = flag.indexOf(u'[');
    const QString name = index < 0 ? flag : flag.left(index);
    if (name.isEmpty() || name.front().isDigit() || !std::all_of(name.begin(), name.end(), isNameCharacter)) {
        return {};
    }
    return QStringLiteral("if( %1%2%3 )")
        .arg(whenSet ? QString() : QStringLiteral("!"), name, index < 0 ? QString() : QStringLiteral("[ i ]"));
}

}  // namespace

QString conditionBranchKey(const QString& condition)
{
    for (const BranchKey& entry : kBranchKeys) {
        if (condition == QLatin1String(entry.condition)) {
            return internedText(entry.key);
        }
    }
    const auto& profileKeys = profileBranchKeys();
    if (const auto found = profileKeys.find(condition); found != profileKeys.end()) {
        return found->second;
    }
    return flagBranchKey(condition);
}

BranchPath conditionBranchPath(const QString& condition)
{
    if (QString whole = conditionBranchKey(condition); !whole.isEmpty()) {
        return {{std::move(whole), condition}};
    }
    const QLatin1String conjunction(kConjunction);
    const QStringList parts = condition.split(conjunction);
    BranchPath path;
    qsizetype first = 0;
    while (parts.size() > 1 && first < parts.size()) {
        qsizetype end = parts.size();
        QString key;
        while (end > first) {
            key = conditionBranchKey(parts.mid(first, end - first).join(conjunction));
            if (!key.isEmpty()) {
                break;
            }
            --end;
        }
        if (key.isEmpty()) {
            return {};
        }
        path.push_back({std::move(key), parts.mid(0, end).join(conjunction)});
        first = end;
    }
    return path;
}

const SyntaxContainer* containerOpenedBy(const QString& syntax)
{
    for (const SyntaxContainer& container : kContainers) {
        const QLatin1String name(container.name);
        if (container.call ? syntax.startsWith(name) : syntax == name) {
            return &container;
        }
    }
    return nullptr;
}

bool containerHolds(const SyntaxContainer& container, const QString& condition)
{
    const qsizetype conjunction = condition.indexOf(QLatin1String(kConjunction));
    return container.conditions.contains(conjunction < 0 ? condition : condition.left(conjunction));
}

bool profileBranchTaken(ProfileBranch branch, std::uint8_t profileIdc, std::uint32_t compatibilityFlags)
{
    const auto holds = [&](std::span<const std::uint8_t> profiles) {
        return claims(profiles, profileIdc, compatibilityFlags);
    };
    switch (branch) {
    case ProfileBranch::RangeExtensionFlags:
        return holds(kRangeExtensionProfiles);
    case ProfileBranch::FourteenBitFlag:
        return holds(kFourteenBitProfiles);
    case ProfileBranch::NoFourteenBitFlag:
        return !holds(kFourteenBitProfiles);
    case ProfileBranch::OnePictureOnlyFlag:
        return !holds(kRangeExtensionProfiles) && holds(kOnePictureOnlyProfiles);
    case ProfileBranch::NoConstraintFlags:
        return !holds(kRangeExtensionProfiles) && !holds(kOnePictureOnlyProfiles);
    case ProfileBranch::InbldFlag:
        return holds(kInbldProfiles);
    case ProfileBranch::NoInbldFlag:
        return !holds(kInbldProfiles);
    }
    return false;
}

// Made once: rows share the texts, and the model works out each text's branches once.
QString profileBranchCondition(ProfileBranch branch, bool subLayer)
{
    static const std::array<std::array<QString, 2>, kProfileBranchTexts.size()> conditions = [] {
        std::array<std::array<QString, 2>, kProfileBranchTexts.size()> made;
        for (std::size_t index = 0; index < kProfileBranchTexts.size(); ++index) {
            for (const bool ofSubLayer : {false, true}) {
                made[index][ofSubLayer ? 1 : 0] =
                    QStringLiteral("%1 profile %2")
                        .arg(ofSubLayer ? QStringLiteral("sub-layer") : QStringLiteral("general"),
                             QLatin1String(kProfileBranchTexts[index].condition));
            }
        }
        return made;
    }();
    return conditions[static_cast<std::size_t>(branch)][subLayer ? 1 : 0];
}

}  // namespace vexilo::syntaxrows
