#pragma once

#include <QString>

namespace vexilo::application {

// The worker executable to start when the options name none: the worker this build made
// (`builtWorkerPath`, may be empty), else the first existing executable among the places a
// packaged or built desktop keeps it relative to `applicationDirectory`, else the plain
// name beside the desktop program (starting that then fails in the ordinary way).
[[nodiscard]] QString locateAnalyzerWorkerProgram(const QString& applicationDirectory,
                                                  const QString& builtWorkerPath);

}  // namespace vexilo::application
