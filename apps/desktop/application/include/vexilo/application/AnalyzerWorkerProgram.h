#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace vexilo::application {

// The worker executable to start when the options name none: the worker this build made
// (`builtWorkerPath`, may be empty), else the first existing executable among the places a
// packaged or built desktop keeps it relative to `applicationDirectory`, else the plain
// name beside the desktop program (starting that then fails in the ordinary way).
[[nodiscard]] QString locateAnalyzerWorkerProgram(const QString& applicationDirectory,
                                                  const QString& builtWorkerPath);

// The environment the worker runs in: the desktop's, with the C library asked to back the
// worker's heap with huge pages (glibc's "glibc.malloc.hugetlb" tunable) unless that tunable
// is set already. A stream's analysis fills hundreds of megabytes of fresh heap, and on
// virtual machines a fault per 4 KiB costs more than the writing itself. Other tunables in
// GLIBC_TUNABLES stay; C libraries other than glibc ignore it.
[[nodiscard]] QProcessEnvironment analyzerWorkerEnvironment(const QProcessEnvironment& desktop);

}  // namespace vexilo::application
