#include "builder/BuilderCodes.h"
#include "builder/DocumentBuilder.h"

#include <string>

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;

// The error record each outcome of the observer's syntax diagnostics becomes. A tolerated
// value is a warning beside a structure that is there; a refused structure leaves a gap.
struct DiagnosticRecordKind {
    std::uint32_t outcome;
    const char* code;
    const char* message;
    std::uint8_t severity;
    bool errorFlag;
};

constexpr DiagnosticRecordKind kDiagnosticRecordKinds[] = {
    {VEXILO_OBSERVER_DIAGNOSTIC_TOLERATED, codes::kSyntaxValueTolerated, codes::kSyntaxValueToleratedMessage, 1, false},
    {VEXILO_OBSERVER_DIAGNOSTIC_REJECTED, codes::kSyntaxStructureRejected, codes::kSyntaxStructureRejectedMessage, 3,
     true},
    {VEXILO_OBSERVER_DIAGNOSTIC_SESSION_FAILED, codes::kSyntaxObserverFailed, codes::kSyntaxObserverFailedMessage, 4,
     true},
};

const DiagnosticRecordKind* recordKindOf(std::uint32_t outcome) noexcept
{
    for (const DiagnosticRecordKind& kind : kDiagnosticRecordKinds) {
        if (kind.outcome == outcome) {
            return &kind;
        }
    }
    return nullptr;
}

// The NAL unit is named in the detail, not as the record's related object: the cache keeps
// an error with a related object in the document of that object's picture, and parameter
// sets belong to no picture, so the error would be lost. A refused slice segment of a picture
// the decoder put out names that picture once the slices are linked to their pictures.
std::string diagnosticDetail(const ObserverEventRecord& record, const analysis::NalUnitInfo* nal)
{
    const VexiloObserverSyntaxDiagnosticEvent& event = record.payload.syntaxDiagnostic;
    std::string detail = "nalUnit=" + std::to_string(record.nalIdentity);
    if (nal != nullptr && nal->byteSpanReliable) {
        detail += "; byteOffset=" + std::to_string(nal->byteOffset);
    }
    detail += "; nalUnitType=" + std::to_string(event.nalUnitType);
    if (event.element[0] != '\0') {
        detail += "; element=";
        detail += event.element;
    }
    if (event.bitPositionKnown != 0) {
        detail += "; bitPosition=" + std::to_string(event.bitPosition);
    }
    return detail;
}

}  // namespace

// A diagnostic follows its NAL unit in the builder's order, so that unit is the last one kept.
const analysis::NalUnitInfo* DocumentBuilder::nalUnitOfDiagnostic(std::uint64_t nalIdentity) const
{
    const auto found = nalByIdentity_.find(nalIdentity);
    if (found == nalByIdentity_.end() || document_.nalUnits.empty() || document_.nalUnits.back().id != found->second) {
        return nullptr;
    }
    return &document_.nalUnits.back();
}

void DocumentBuilder::handleSyntaxDiagnostic(const ObserverEventRecord& record)
{
    const DiagnosticRecordKind* kind = recordKindOf(record.payload.syntaxDiagnostic.outcome);
    if (kind == nullptr) {
        return;  // an outcome this worker does not know says nothing it could report
    }
    const char* observerMessage = record.payload.syntaxDiagnostic.message;
    const analysis::NalUnitInfo* nal = nalUnitOfDiagnostic(record.nalIdentity);
    analysis::AnalysisErrorInfo error = analyzerErrorRecord(
        document_.id, deriveStableId(document_.id, ObjectKind::SyntaxDiagnostic, ++syntaxDiagnosticCount_), kind->code,
        observerMessage[0] != '\0' ? observerMessage : kind->message, issues_.detailText(diagnosticDetail(record, nal)));
    error.severity = kind->severity;
    error.errorFlag = kind->errorFlag;
    if (kind->errorFlag && nal != nullptr && nal->kind == analysis::NalUnitKind::Slice) {
        refusedSlices_.push_back(RefusedSlice{document_.errors.size(), document_.nalUnits.size() - 1});
    }
    document_.errors.push_back(std::move(error));
}

}  // namespace vexilo::analyzer
