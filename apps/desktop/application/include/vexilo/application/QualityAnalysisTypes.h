#pragma once

#include "vexilo/media/QualityPairAnalysis.h"

#include <QString>

namespace vexilo::application {

// The quality service's vocabulary. The pair analysis that makes these records is decoding and
// measuring work and lives in media; the service and everything above it name them here.
using media::QualityAnalysisInput;
using media::QualityCancelFlag;
using media::QualityFrameSourceMode;
using media::QualityPairCallback;
using media::QualityPairRequest;
using media::QualityPairResult;
using media::analyzeQualityPairs;
using media::decodeFullStreamSide;

inline constexpr const char* kQualityRunFailedCode = "quality.run_failed";
inline constexpr const char* kQualityRunFailedMessage = "Quality analysis failed";

// What ends a quality run that could not go on; problems of single pairs are failed sides of
// their result instead.
struct QualityRunError {
    QString code;
    QString message;
    QString detail;
};

}  // namespace vexilo::application
