#pragma once

// Documents written by the real analyzer worker, merged per picture by the cache's own payload
// assembly: what the desktop hands a picture's models.

#include "AnalyzedStreamFixture.h"

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/PicturePayloadAssembler.h"

#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace vexilo::test {

// The stream-level document and the merged document of every picture, in manifest order.
struct WorkerAnalysis {
    analysis::StreamAnalysis stream;
    std::vector<analysis::StreamAnalysis> pictures;
    QString error;  // empty when the analysis was read back
};

inline WorkerAnalysis analyseWithWorker(const std::filesystem::path& input)
{
    WorkerAnalysis result;
    QTemporaryDir scratch;
    const auto analyzed = analyzeWithWorker(input, scratch.path().toStdString(), "stream_index");
    if (const auto* error = std::get_if<std::string>(&analyzed)) {
        result.error = QString::fromStdString(*error);
        return result;
    }
    const AnalyzedStream& documents = std::get<AnalyzedStream>(analyzed);
    result.stream = *documents.stream;
    for (const auto& picture : documents.pictures) {
        result.pictures.push_back(analysis::makePictureAnalysisPayload(result.stream, *picture));
    }
    return result;
}

}  // namespace vexilo::test
