#pragma once

#include "pipeline/AnalysisPipeline.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <exception>

// Payloads of the events that end an analysis task.
namespace vexilo::analyzer {

// "codecName" to "pictureCount": what probing the input found.
[[nodiscard]] QJsonObject buildProbeResultPayload(const AnalyzerRunResult& result);

// The full "probeResult" payload of a successful run.
[[nodiscard]] QJsonObject buildSuccessPayload(const AnalyzerRunResult& result, const QString& modeName,
                                              std::uint64_t targetDecodePictureId);

// The error payload of a failed run, with its "ffmpegCode".
[[nodiscard]] QJsonObject buildRunErrorPayload(const AnalyzerRunResult& result);

// The error payload for an exception caught on the task thread; null for one of unknown type.
[[nodiscard]] QJsonObject buildExceptionPayload(const std::exception* exception);

[[nodiscard]] QJsonObject buildCanceledPayload();
[[nodiscard]] bool isCanceledPayload(const QJsonObject& payload);

// "analysisFinished", derived from the success payload.
[[nodiscard]] QJsonObject buildAnalysisFinishedPayload(const QJsonObject& successPayload);

[[nodiscard]] QJsonObject buildAnalysisCanceledPayload(bool shutdownPending);

}  // namespace vexilo::analyzer
