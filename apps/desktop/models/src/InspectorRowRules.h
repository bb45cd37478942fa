#pragma once

// The status rules and shared rows of the inspector's explainers.

#include "vexilo/models/DisplayFormat.h"
#include "vexilo/models/InspectorModel.h"

namespace vexilo::inspector {

inline const QString kPresent = QStringLiteral("present");
inline const QString kSignaled = QStringLiteral("signaled");
inline const QString kDerived = QStringLiteral("derived");
inline const QString kUnknown = QStringLiteral("unknown");

template <typename Value>
QString signaledRule(const std::optional<Value>& value) {
    return display::presenceStatusText(value, kSignaled);
}

template <typename Value>
QString derivedRule(const std::optional<Value>& value) {
    return display::presenceStatusText(value, kDerived);
}

// `status` when an enumeration code is known (non-zero), else "unknown".
template <typename Code>
QString codeRule(Code code, const QString& status) {
    return display::codeOf(code) != 0 ? status : kUnknown;
}

inline QString unitRule(const analysis::BlockRect& bounds) {
    return bounds.unit == analysis::kBlockRectUnitLumaSample ? kDerived : kUnknown;
}

inline QString bothPresentRule(bool first, bool second) {
    return first && second ? kDerived : kUnknown;
}

inline QString nonEmptyRule(const std::string& text) {
    return text.empty() ? kUnknown : kPresent;
}

// "Y=%1 Cb=%2 Cr=%3" of three already formatted values.
inline QString threeComponentText(const QString& luma, const QString& cb, const QString& cr) {
    return QStringLiteral("Y=%1 Cb=%2 Cr=%3").arg(luma, cb, cr);
}

inline QString qpTripleText(const std::optional<std::int16_t>& qp, const std::optional<std::int16_t>& cb,
                            const std::optional<std::int16_t>& cr) {
    return threeComponentText(display::formatOptionalInt16(qp), display::formatOptionalInt16(cb),
                              display::formatOptionalInt16(cr));
}

inline QString flagTripleText(const std::optional<bool>& luma, const std::optional<bool>& cb,
                              const std::optional<bool>& cr) {
    return threeComponentText(display::formatOptionalBool(luma), display::formatOptionalBool(cb),
                              display::formatOptionalBool(cr));
}

// The reference status of an optional code, "unknown" when absent.
inline QString optionalReferenceStatusText(const std::optional<analysis::ReferenceStatus>& status) {
    return status.has_value() ? display::referenceStatusText(display::codeOf(*status)) : kUnknown;
}

// "idx=%1 poc=%2 status=%3".
inline QString referenceTripleText(const std::optional<std::int8_t>& index, const std::optional<std::int32_t>& poc,
                                   const std::optional<analysis::ReferenceStatus>& status) {
    return QStringLiteral("idx=%1 poc=%2 status=%3")
        .arg(display::formatOptionalInt8(index), display::formatOptionalInt32(poc),
             optionalReferenceStatusText(status));
}

// The row that ends every object explanation.
inline InspectorRow identityRow(const analysis::StableId& id) {
    return {QStringLiteral("Internal object ID"), display::stableIdText(id), QStringLiteral("Vexilo cache"),
            QStringLiteral("debug"), QStringLiteral("Stable internal ID for selection/cache joins")};
}

}  // namespace vexilo::inspector
