#include "vexilo/ai/AiQuestionTemplates.h"

namespace vexilo::ai {

std::vector<AiQuestionTemplate> aiQuestionTemplates()
{
    return {
        {0, QStringLiteral("Frame Size Spike"),
         QStringLiteral("Use the Vexilo evidence to explain why the selected frame, current compare frame, or "
                        "user-specified frame has a sudden encoded size increase. Start by listing the exact "
                        "byte-size evidence, neighboring frame sizes, picture type, slice QP, reference picture, and "
                        "analysis gaps. If per-picture NAL byte sizes or QP/reference evidence is unavailable, say so "
                        "and identify the next analysis step."),
         QStringLiteral("Requires stream analysis with per-picture NAL byte sizes; slice QP and references improve "
                        "the explanation.")},
        {1, QStringLiteral("Quality Drop"),
         QStringLiteral("Use the Vexilo evidence to diagnose why the selected frame, current compare frame, or "
                        "user-specified frame has worse quality. Start with PSNR/MSE evidence, worst block regions, "
                        "picture type, frame-size evidence, QP/reference evidence, and missing data. Do not claim "
                        "visual artifacts, QP changes, motion-vector causes, or block-level causes unless those facts "
                        "appear in the evidence."),
         QStringLiteral("Requires Reference YUV and Quality Detect results; structure analysis improves codec-level "
                        "causes.")},
        {2, QStringLiteral("A/B Quality Difference"),
         QStringLiteral("Use the Vexilo evidence to explain why stream A is better or worse than stream B. Start with "
                        "A/B total and plane PSNR deltas, winner counts, largest per-frame gaps, matched-frame status, "
                        "reference YUV alignment, and any structure-analysis differences that are explicitly "
                        "available. If only one stream or no reference metrics are available, say the comparison "
                        "evidence is incomplete."),
         QStringLiteral("Requires A/B stream pairing plus Reference YUV quality metrics for both streams.")},
    };
}

}  // namespace vexilo::ai
