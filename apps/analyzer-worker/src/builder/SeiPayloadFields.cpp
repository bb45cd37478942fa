#include "builder/SeiPayloadFields.h"

#include "bit_reader.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace vexilo::analyzer {
namespace {

using Entries = std::vector<analysis::SyntaxElementInfo>;
using Payload = std::span<const std::uint8_t>;
using hevc::BitReader;

constexpr std::size_t kUuidSize = 16;
constexpr std::size_t kMaxActiveSpsIds = 16;
constexpr std::uint64_t kMaxReferenceDisplays = 32;
constexpr std::size_t kColourComponents = 3;
constexpr std::uint8_t kExtendedCountryCode = 255;
constexpr std::uint64_t kSideBySideQuincunxFreeType = 5;
constexpr unsigned kMaxBitsPerSyntaxRead = 32;
constexpr unsigned kMaxFieldBits = 64;
constexpr std::size_t kMaxByteFieldSize = 8;

// The syntax reader throws where a payload ends early; here that only ends the fields read.
template <typename Read>
auto readOrEmpty(Read read) -> std::optional<decltype(read())>
{
    try {
        return read();
    } catch (const hevc::SyntaxError&) {
        return std::nullopt;
    }
}

// u(n) for n up to 64: the mantissas of reference displays can be wider than one syntax read.
// A field longer than what is left fails without moving, so that later fields still read.
std::optional<std::uint64_t> readBits(BitReader& reader, unsigned n)
{
    if (n > kMaxFieldBits || n > reader.bitsLeft()) {
        return std::nullopt;
    }
    const unsigned lowBits = std::min(n, kMaxBitsPerSyntaxRead);
    const std::uint64_t high = reader.u(n - lowBits);
    return (high << lowBits) | reader.u(lowBits);
}

std::optional<std::uint64_t> readUe(BitReader& reader)
{
    const auto value = readOrEmpty([&reader] { return reader.ue(); });
    return value ? std::optional<std::uint64_t>(*value) : std::nullopt;
}

std::optional<std::int64_t> readSe(BitReader& reader)
{
    const auto value = readOrEmpty([&reader] { return reader.se(); });
    return value ? std::optional<std::int64_t>(*value) : std::nullopt;
}

// i(n): n bits, sign-extended from bit n - 1.
std::optional<std::int64_t> readSigned(BitReader& reader, unsigned n)
{
    const std::optional<std::uint64_t> bits = readBits(reader, n);
    if (!bits) {
        return std::nullopt;
    }
    if (n == 0 || n == kMaxFieldBits) {
        return static_cast<std::int64_t>(*bits);
    }
    const std::uint64_t signBit = std::uint64_t{1} << (n - 1);
    return static_cast<std::int64_t>(*bits ^ signBit) - static_cast<std::int64_t>(signBit);
}

// n bytes (0 to 8) at a byte offset, big-endian; empty when they run past the end.
std::optional<std::uint64_t> readBigEndianValue(Payload bytes, std::size_t offset, std::size_t n)
{
    if (n > kMaxByteFieldSize || offset > bytes.size() || n > bytes.size() - offset) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        value = (value << 8) | bytes[offset + i];
    }
    return value;
}

// Collects entries up to the cap; names carry their array indices.
class EntrySink {
public:
    EntrySink(Entries& entries, bool& overflow) : entries_(entries), overflow_(overflow) {}

    void add(std::string name, std::int64_t value, std::string displayValue = {})
    {
        if (entries_.size() >= kMaxSeiSyntaxElements) {
            overflow_ = true;
            return;
        }
        entries_.push_back({std::move(name), value, std::move(displayValue)});
    }

    void add(std::string name, std::uint64_t value) { add(std::move(name), static_cast<std::int64_t>(value)); }

private:
    Entries& entries_;
    bool& overflow_;
};

template <typename... Indices>
std::string indexed(const char* name, Indices... indices)
{
    std::string text = name;
    const auto appendIndex = [&text](auto index) {
        text += '[';
        text += std::to_string(index);
        text += ']';
    };
    (appendIndex(indices), ...);
    return text;
}

enum class Coding { Bits, Ue, Se };
enum class OnFailure { Stop, Skip };

// One bit-reader field of a syntax table.
struct Field {
    const char* name;
    Coding coding;
    unsigned bits;
    OnFailure onFailure;
};

// Reads fields in table order. Returns false when a stop field failed; `values` gets
// each field's value (0 for a skipped one) for the conditions that follow.
class FieldReader {
public:
    FieldReader(BitReader& reader, EntrySink& sink) : reader_(reader), sink_(sink) {}

    // Reads one field under `name` (the table name plus indices).
    bool read(const Field& field, const std::string& name, std::int64_t& value)
    {
        value = 0;
        const std::optional<std::int64_t> read = readValue(field);
        if (!read) {
            return field.onFailure == OnFailure::Skip;
        }
        value = *read;
        sink_.add(name, value);
        return true;
    }

    bool read(const Field& field, std::int64_t& value) { return read(field, field.name, value); }

    bool read(const Field& field)
    {
        std::int64_t ignored = 0;
        return read(field, ignored);
    }

    template <std::size_t N>
    bool readAll(const Field (&fields)[N], std::array<std::int64_t, N>* values = nullptr)
    {
        for (std::size_t i = 0; i < N; ++i) {
            std::int64_t value = 0;
            if (!read(fields[i], value)) {
                return false;
            }
            if (values != nullptr) {
                (*values)[i] = value;
            }
        }
        return true;
    }

    std::optional<std::int64_t> readValue(const Field& field)
    {
        switch (field.coding) {
        case Coding::Bits: {
            const auto bits = readBits(reader_, field.bits);
            return bits ? std::optional<std::int64_t>(static_cast<std::int64_t>(*bits)) : std::nullopt;
        }
        case Coding::Ue: {
            const auto ue = readUe(reader_);
            return ue ? std::optional<std::int64_t>(static_cast<std::int64_t>(*ue)) : std::nullopt;
        }
        case Coding::Se:
            return readSe(reader_);
        }
        return std::nullopt;
    }

    BitReader& bits() { return reader_; }
    EntrySink& sink() { return sink_; }

private:
    BitReader& reader_;
    EntrySink& sink_;
};

constexpr Field bitsField(const char* name, unsigned bits, OnFailure onFailure)
{
    return Field{name, Coding::Bits, bits, onFailure};
}

// --- byte-aligned payloads -------------------------------------------------------

void addByteArray(EntrySink& sink, const char* name, Payload payload, std::size_t first)
{
    for (std::size_t i = first; i < payload.size(); ++i) {
        sink.add(indexed(name, i - first), std::int64_t{payload[i]});
    }
}

void decodeUserDataRegistered(Payload payload, EntrySink& sink)
{
    if (payload.empty()) {
        return;
    }
    sink.add("itu_t_t35_country_code", std::int64_t{payload[0]});
    std::size_t first = 1;
    if (payload[0] == kExtendedCountryCode && payload.size() >= 2) {
        sink.add("itu_t_t35_country_code_extension_byte", std::int64_t{payload[1]});
        first = 2;
    }
    addByteArray(sink, "itu_t_t35_payload_byte", payload, first);
}

void decodeUserDataUnregistered(Payload payload, EntrySink& sink)
{
    if (payload.size() < kUuidSize) {
        return;
    }
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string uuid;
    for (std::size_t i = 0; i < kUuidSize; ++i) {
        uuid += kHexDigits[payload[i] >> 4];
        uuid += kHexDigits[payload[i] & 0x0F];
    }
    sink.add("uuid_iso_iec_11578", std::int64_t{0}, uuid);
    addByteArray(sink, "user_data_payload_byte", payload, kUuidSize);
}

// One big-endian byte field present when the payload is long enough.
struct ByteField {
    const char* name;
    std::size_t offset;
    std::size_t size;
};

void addByteFields(EntrySink& sink, Payload payload, std::span<const ByteField> fields)
{
    for (const ByteField& field : fields) {
        if (const auto value = readBigEndianValue(payload, field.offset, field.size)) {
            sink.add(field.name, *value);
        }
    }
}

constexpr ByteField kMasteringDisplayFields[] = {
    {"display_primaries_x[0]", 0, 2},  {"display_primaries_y[0]", 2, 2},
    {"display_primaries_x[1]", 4, 2},  {"display_primaries_y[1]", 6, 2},
    {"display_primaries_x[2]", 8, 2},  {"display_primaries_y[2]", 10, 2},
    {"white_point_x", 12, 2},          {"white_point_y", 14, 2},
    {"max_display_mastering_luminance", 16, 4}, {"min_display_mastering_luminance", 20, 4},
};
constexpr ByteField kContentLightLevelFields[] = {
    {"max_content_light_level", 0, 2},
    {"max_pic_average_light_level", 2, 2},
};
constexpr ByteField kAlternativeTransferFields[] = {
    {"preferred_transfer_characteristics", 0, 1},
};
constexpr ByteField kAmbientViewingFields[] = {
    {"ambient_illuminance", 0, 4},
    {"ambient_light_x", 4, 2},
    {"ambient_light_y", 6, 2},
};

void decodeDecodedPictureHash(Payload payload, EntrySink& sink)
{
    if (payload.empty()) {
        return;
    }
    const std::uint8_t hashType = payload[0];
    sink.add("hash_type", std::int64_t{hashType});
    std::size_t offset = 1;
    for (std::size_t c = 0; c < kColourComponents; ++c) {
        switch (hashType) {
        case 0:
            if (payload.size() - offset < 16) {
                return;
            }
            for (std::size_t i = 0; i < 16; ++i) {
                sink.add(indexed("picture_md5", c, i), std::int64_t{payload[offset + i]});
            }
            offset += 16;
            break;
        case 1:
        case 2: {
            const std::size_t size = hashType == 1 ? 2 : 4;
            const auto value = readBigEndianValue(payload, offset, size);
            if (!value) {
                return;
            }
            sink.add(indexed(hashType == 1 ? "picture_crc" : "picture_checksum", c), *value);
            offset += size;
            break;
        }
        default:
            return;
        }
    }
}

// --- bit-reader payloads ---------------------------------------------------------

constexpr Field kRecoveryPointFields[] = {
    {"recovery_poc_cnt", Coding::Se, 0, OnFailure::Stop},
    bitsField("exact_match_flag", 1, OnFailure::Skip),
    bitsField("broken_link_flag", 1, OnFailure::Stop),
};

void decodeRecoveryPoint(FieldReader& fields)
{
    fields.readAll(kRecoveryPointFields);
}

constexpr Field kFilmGrainHead[] = {
    bitsField("film_grain_model_id", 2, OnFailure::Stop),
    bitsField("separate_colour_description_present_flag", 1, OnFailure::Stop),
};
constexpr Field kFilmGrainColourDescription[] = {
    bitsField("film_grain_bit_depth_luma_minus8", 3, OnFailure::Stop),
    bitsField("film_grain_bit_depth_chroma_minus8", 3, OnFailure::Stop),
    bitsField("film_grain_full_range_flag", 1, OnFailure::Stop),
    bitsField("film_grain_colour_primaries", 8, OnFailure::Stop),
    bitsField("film_grain_transfer_characteristics", 8, OnFailure::Stop),
    bitsField("film_grain_matrix_coeffs", 8, OnFailure::Stop),
};
constexpr Field kFilmGrainBlending[] = {
    bitsField("blending_mode_id", 2, OnFailure::Stop),
    bitsField("log2_scale_factor", 4, OnFailure::Stop),
};
constexpr Field kCompModelPresent = bitsField("comp_model_present_flag", 1, OnFailure::Stop);
constexpr Field kNumIntensityIntervals = bitsField("num_intensity_intervals_minus1", 8, OnFailure::Stop);
constexpr Field kNumModelValues = bitsField("num_model_values_minus1", 3, OnFailure::Stop);
constexpr Field kIntensityLower = bitsField("intensity_interval_lower_bound", 8, OnFailure::Stop);
constexpr Field kIntensityUpper = bitsField("intensity_interval_upper_bound", 8, OnFailure::Stop);
constexpr Field kCompModelValue = {"comp_model_value", Coding::Se, 0, OnFailure::Stop};
constexpr Field kFilmGrainPersistence = bitsField("film_grain_characteristics_persistence_flag", 1, OnFailure::Skip);

// One modelled component: its two counts, then at once its intervals, each with its bounds
// and its model values, as the film grain syntax orders them.
bool readComponentModel(FieldReader& fields, std::size_t c)
{
    std::int64_t intervals = 0;
    std::int64_t modelValues = 0;
    if (!fields.read(kNumIntensityIntervals, indexed(kNumIntensityIntervals.name, c), intervals) ||
        !fields.read(kNumModelValues, indexed(kNumModelValues.name, c), modelValues)) {
        return false;
    }
    for (std::int64_t i = 0; i <= intervals; ++i) {
        std::int64_t ignored = 0;
        if (!fields.read(kIntensityLower, indexed(kIntensityLower.name, c, i), ignored) ||
            !fields.read(kIntensityUpper, indexed(kIntensityUpper.name, c, i), ignored)) {
            return false;
        }
        for (std::int64_t j = 0; j <= modelValues; ++j) {
            if (!fields.read(kCompModelValue, indexed(kCompModelValue.name, c, i, j), ignored)) {
                return false;
            }
        }
    }
    return true;
}

bool readFilmGrainModels(FieldReader& fields)
{
    std::array<std::int64_t, kColourComponents> present{};
    for (std::size_t c = 0; c < kColourComponents; ++c) {
        if (!fields.read(kCompModelPresent, indexed(kCompModelPresent.name, c), present[c])) {
            return false;
        }
    }
    for (std::size_t c = 0; c < kColourComponents; ++c) {
        if (present[c] != 0 && !readComponentModel(fields, c)) {
            return false;
        }
    }
    return true;
}

void decodeFilmGrain(FieldReader& fields)
{
    std::int64_t cancel = 0;
    if (!fields.read(bitsField("film_grain_characteristics_cancel_flag", 1, OnFailure::Stop), cancel) || cancel != 0) {
        return;
    }
    std::array<std::int64_t, std::size(kFilmGrainHead)> head{};
    if (!fields.readAll(kFilmGrainHead, &head)) {
        return;
    }
    if (head[1] != 0 && !fields.readAll(kFilmGrainColourDescription)) {
        return;
    }
    if (!fields.readAll(kFilmGrainBlending) || !readFilmGrainModels(fields)) {
        return;
    }
    fields.read(kFilmGrainPersistence);
}

constexpr Field kFramePackingBody[] = {
    bitsField("frame_packing_arrangement_type", 7, OnFailure::Stop),
    bitsField("quincunx_sampling_flag", 1, OnFailure::Stop),
    bitsField("content_interpretation_type", 6, OnFailure::Stop),
    bitsField("spatial_flipping_flag", 1, OnFailure::Stop),
    bitsField("frame0_flipped_flag", 1, OnFailure::Stop),
    bitsField("field_views_flag", 1, OnFailure::Stop),
    bitsField("current_frame_is_frame0_flag", 1, OnFailure::Stop),
    bitsField("frame0_self_contained_flag", 1, OnFailure::Stop),
    bitsField("frame1_self_contained_flag", 1, OnFailure::Stop),
};
constexpr Field kFramePackingGrid[] = {
    bitsField("frame0_grid_position_x", 4, OnFailure::Stop),
    bitsField("frame0_grid_position_y", 4, OnFailure::Stop),
    bitsField("frame1_grid_position_x", 4, OnFailure::Stop),
    bitsField("frame1_grid_position_y", 4, OnFailure::Stop),
};
constexpr Field kFramePackingTail[] = {
    bitsField("frame_packing_arrangement_reserved_byte", 8, OnFailure::Stop),
    bitsField("frame_packing_arrangement_persistence_flag", 1, OnFailure::Stop),
};
constexpr Field kUpsampledAspectRatio = bitsField("upsampled_aspect_ratio_flag", 1, OnFailure::Stop);

void decodeFramePacking(FieldReader& fields)
{
    // The identifier and the cancel flag count only together.
    const Field id{"frame_packing_arrangement_id", Coding::Ue, 0, OnFailure::Stop};
    const Field cancelFlag = bitsField("frame_packing_arrangement_cancel_flag", 1, OnFailure::Stop);
    const std::optional<std::int64_t> idValue = fields.readValue(id);
    const std::optional<std::int64_t> cancel = idValue ? fields.readValue(cancelFlag) : std::nullopt;
    if (!cancel) {
        return;
    }
    fields.sink().add(id.name, *idValue);
    fields.sink().add(cancelFlag.name, *cancel);
    if (*cancel == 0) {
        std::array<std::int64_t, std::size(kFramePackingBody)> body{};
        if (!fields.readAll(kFramePackingBody, &body)) {
            return;
        }
        const bool quincunx = body[1] != 0;
        if (!quincunx && body[0] != static_cast<std::int64_t>(kSideBySideQuincunxFreeType) &&
            !fields.readAll(kFramePackingGrid)) {
            return;
        }
        if (!fields.readAll(kFramePackingTail)) {
            return;
        }
    }
    fields.read(kUpsampledAspectRatio);
}

constexpr Field kDisplayOrientationFields[] = {
    bitsField("hor_flip", 1, OnFailure::Skip),
    bitsField("ver_flip", 1, OnFailure::Skip),
    bitsField("anticlockwise_rotation", 16, OnFailure::Skip),
    bitsField("display_orientation_persistence_flag", 1, OnFailure::Stop),
};

void decodeDisplayOrientation(FieldReader& fields)
{
    std::int64_t cancel = 0;
    if (!fields.read(bitsField("display_orientation_cancel_flag", 1, OnFailure::Stop), cancel) || cancel != 0) {
        return;
    }
    fields.readAll(kDisplayOrientationFields);
}

constexpr Field kActiveParameterSetsHead[] = {
    bitsField("active_video_parameter_set_id", 4, OnFailure::Skip),
    bitsField("self_contained_cvs_flag", 1, OnFailure::Skip),
    bitsField("no_parameter_set_update_flag", 1, OnFailure::Skip),
    {"num_sps_ids_minus1", Coding::Ue, 0, OnFailure::Stop},
};
constexpr Field kActiveSpsId = {"active_seq_parameter_set_id", Coding::Ue, 0, OnFailure::Skip};

void decodeActiveParameterSets(FieldReader& fields)
{
    std::array<std::int64_t, std::size(kActiveParameterSetsHead)> head{};
    if (!fields.readAll(kActiveParameterSetsHead, &head)) {
        return;
    }
    for (std::int64_t i = 0; i <= head[3] && i < static_cast<std::int64_t>(kMaxActiveSpsIds); ++i) {
        std::int64_t ignored = 0;
        fields.read(kActiveSpsId, indexed(kActiveSpsId.name, i), ignored);
    }
}

// Reads one clock timestamp; false when a stop field failed.
bool readClockTimestamp(FieldReader& fields, std::int64_t i)
{
    const auto field = [&](const char* name, unsigned bits, OnFailure onFailure, std::int64_t& value) {
        return fields.read(bitsField(name, bits, onFailure), indexed(name, i), value);
    };
    std::int64_t value = 0;
    std::int64_t flag = 0;
    if (!field("clock_timestamp_flag", 1, OnFailure::Stop, flag)) {
        return false;
    }
    if (flag == 0) {
        return true;
    }
    field("units_field_based_flag", 1, OnFailure::Skip, value);
    field("counting_type", 5, OnFailure::Skip, value);
    std::int64_t fullTimestamp = 0;
    if (!field("full_timestamp_flag", 1, OnFailure::Stop, fullTimestamp)) {
        return false;
    }
    field("discontinuity_flag", 1, OnFailure::Skip, value);
    field("cnt_dropped_flag", 1, OnFailure::Skip, value);
    field("n_frames", 9, OnFailure::Skip, value);
    if (fullTimestamp != 0) {
        field("seconds_value", 6, OnFailure::Skip, value);
        field("minutes_value", 6, OnFailure::Skip, value);
        field("hours_value", 5, OnFailure::Skip, value);
    } else {
        // Each unit is present only when the previous one is; a clear flag skips
        // straight to the time offset.
        static constexpr std::array<std::pair<const char*, const char*>, 3> kUnits = {
            std::pair{"seconds_flag", "seconds_value"}, std::pair{"minutes_flag", "minutes_value"},
            std::pair{"hours_flag", "hours_value"}};
        static constexpr std::array<unsigned, 3> kUnitBits = {6, 6, 5};
        for (std::size_t unit = 0; unit < kUnits.size(); ++unit) {
            if (!field(kUnits[unit].first, 1, OnFailure::Stop, flag)) {
                return false;
            }
            if (flag == 0) {
                break;
            }
            field(kUnits[unit].second, kUnitBits[unit], OnFailure::Skip, value);
        }
    }
    std::int64_t offsetLength = 0;
    if (!field("time_offset_length", 5, OnFailure::Stop, offsetLength)) {
        return false;
    }
    if (offsetLength != 0) {
        if (const auto offset = readSigned(fields.bits(), static_cast<unsigned>(offsetLength))) {
            fields.sink().add(indexed("time_offset_value", i), *offset);
        }
    }
    return true;
}

void decodeTimeCode(FieldReader& fields)
{
    std::int64_t clockCount = 0;
    if (!fields.read(bitsField("num_clock_ts", 2, OnFailure::Stop), clockCount)) {
        return;
    }
    for (std::int64_t i = 0; i < clockCount; ++i) {
        if (!readClockTimestamp(fields, i)) {
            return;
        }
    }
}

// u(n) with n from an exponent and a precision; a negative n reads nothing.
unsigned mantissaBits(std::int64_t exponent, std::int64_t precision)
{
    const std::int64_t n = exponent != 0 ? exponent + precision - 31 : precision - 30;
    return n < 0 ? 0u : static_cast<unsigned>(std::min<std::int64_t>(n, 65));
}

bool readReferenceDisplay(FieldReader& fields, std::int64_t i, std::int64_t precisionWidth, bool viewingDistance,
                          std::int64_t precisionDistance)
{
    BitReader& bits = fields.bits();
    const auto left = readUe(bits);
    const auto right = left ? readUe(bits) : std::nullopt;
    const auto exponentWidth = right ? readBits(bits, 6) : std::nullopt;
    if (!exponentWidth) {
        return false;
    }
    EntrySink& sink = fields.sink();
    sink.add(indexed("left_view_id", i), *left);
    sink.add(indexed("right_view_id", i), *right);
    sink.add(indexed("exponent_ref_display_width", i), *exponentWidth);
    const auto mantissaWidth = readBits(bits, mantissaBits(static_cast<std::int64_t>(*exponentWidth), precisionWidth));
    if (!mantissaWidth) {
        return false;
    }
    sink.add(indexed("mantissa_ref_display_width", i), *mantissaWidth);
    if (viewingDistance) {
        const auto exponentDistance = readBits(bits, 6);
        if (!exponentDistance) {
            return false;
        }
        sink.add(indexed("exponent_ref_viewing_distance", i), *exponentDistance);
        const auto mantissaDistance =
            readBits(bits, mantissaBits(static_cast<std::int64_t>(*exponentDistance), precisionDistance));
        if (!mantissaDistance) {
            return false;
        }
        sink.add(indexed("mantissa_ref_viewing_distance", i), *mantissaDistance);
    }
    const auto shiftPresent = readBits(bits, 1);
    if (!shiftPresent) {
        return false;
    }
    sink.add(indexed("additional_shift_present_flag", i), *shiftPresent);
    if (*shiftPresent != 0) {
        if (const auto shift = readBits(bits, 10)) {
            sink.add(indexed("num_sample_shift_plus512", i), *shift);
        }
    }
    return true;
}

void decodeThreeDimensionalReferenceDisplays(FieldReader& fields)
{
    std::int64_t precisionWidth = 0;
    std::int64_t viewingDistance = 0;
    std::int64_t precisionDistance = 0;
    std::int64_t displaysMinus1 = 0;
    if (!fields.read({"prec_ref_display_width", Coding::Ue, 0, OnFailure::Stop}, precisionWidth) ||
        !fields.read(bitsField("ref_viewing_distance_flag", 1, OnFailure::Stop), viewingDistance)) {
        return;
    }
    if (viewingDistance != 0 &&
        !fields.read({"prec_ref_viewing_dist", Coding::Ue, 0, OnFailure::Stop}, precisionDistance)) {
        return;
    }
    if (!fields.read({"num_ref_displays_minus1", Coding::Ue, 0, OnFailure::Stop}, displaysMinus1)) {
        return;
    }
    const std::int64_t displays = std::min<std::int64_t>(displaysMinus1 + 1, kMaxReferenceDisplays);
    for (std::int64_t i = 0; i < displays; ++i) {
        if (!readReferenceDisplay(fields, i, precisionWidth, viewingDistance != 0, precisionDistance)) {
            break;
        }
    }
    fields.read(bitsField("three_dimensional_reference_displays_extension_flag", 1, OnFailure::Stop));
}

enum PayloadType : std::uint32_t {
    kUserDataRegistered = 4,
    kUserDataUnregistered = 5,
    kRecoveryPoint = 6,
    kFilmGrainCharacteristics = 19,
    kFramePackingArrangement = 45,
    kDisplayOrientation = 47,
    kActiveParameterSets = 129,
    kDecodedPictureHash = 132,
    kTimeCode = 136,
    kMasteringDisplayColourVolume = 137,
    kContentLightLevelInfo = 144,
    kAlternativeTransferCharacteristics = 147,
    kAmbientViewingEnvironment = 148,
    kThreeDimensionalReferenceDisplaysInfo = 176,
};

struct BitPayloadDecoder {
    std::uint32_t payloadType;
    void (*decode)(FieldReader& fields);
};

constexpr BitPayloadDecoder kBitPayloadDecoders[] = {
    {kRecoveryPoint, decodeRecoveryPoint},
    {kFilmGrainCharacteristics, decodeFilmGrain},
    {kFramePackingArrangement, decodeFramePacking},
    {kDisplayOrientation, decodeDisplayOrientation},
    {kActiveParameterSets, decodeActiveParameterSets},
    {kTimeCode, decodeTimeCode},
    {kThreeDimensionalReferenceDisplaysInfo, decodeThreeDimensionalReferenceDisplays},
};

struct BytePayloadDecoder {
    std::uint32_t payloadType;
    void (*decode)(Payload payload, EntrySink& sink);
};

constexpr BytePayloadDecoder kBytePayloadDecoders[] = {
    {kUserDataRegistered, decodeUserDataRegistered},
    {kUserDataUnregistered, decodeUserDataUnregistered},
    {kDecodedPictureHash, decodeDecodedPictureHash},
    {kMasteringDisplayColourVolume,
     [](Payload payload, EntrySink& sink) { addByteFields(sink, payload, kMasteringDisplayFields); }},
    {kContentLightLevelInfo,
     [](Payload payload, EntrySink& sink) { addByteFields(sink, payload, kContentLightLevelFields); }},
    {kAlternativeTransferCharacteristics,
     [](Payload payload, EntrySink& sink) { addByteFields(sink, payload, kAlternativeTransferFields); }},
    {kAmbientViewingEnvironment,
     [](Payload payload, EntrySink& sink) { addByteFields(sink, payload, kAmbientViewingFields); }},
};

}  // namespace

void appendSeiPayloadFields(std::uint32_t payloadType, Payload payload, Entries& entries, bool& overflow)
{
    EntrySink sink(entries, overflow);
    for (const BytePayloadDecoder& decoder : kBytePayloadDecoders) {
        if (decoder.payloadType == payloadType) {
            decoder.decode(payload, sink);
            return;
        }
    }
    for (const BitPayloadDecoder& decoder : kBitPayloadDecoders) {
        if (decoder.payloadType == payloadType) {
            BitReader reader(payload);
            FieldReader fields(reader, sink);
            decoder.decode(fields);
            return;
        }
    }
}

}  // namespace vexilo::analyzer
