// Builds the stream syntax tree, the slice table and the stream statistics over dense
// synthetic pictures at 1080p and 4K, and prints the build times and their growth per node.

#include "vexilo/bench/BenchSupport.h"
#include "vexilo/bench/SyntheticPictureDocument.h"
#include "vexilo/models/SliceTableModel.h"
#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/models/SyntaxTreeModel.h"

#include <cstdio>

namespace {

constexpr double kTreeGoalMs1080p = 300.0;

struct Figures {
    std::size_t nodes = 0;
    double treeFirstMs = 0.0;
    double treeMs = 0.0;
    double statisticsMs = 0.0;
    double sliceTableMs = 0.0;
};

Figures measure(std::uint32_t width, std::uint32_t height) {
    const auto document = vexilo::bench::makeDensePictureDocument(width, height);
    Figures figures;
    figures.nodes = document->nalUnits.size() + document->slices.size() + document->ctus.size() +
                    document->cus.size() + document->pus.size() + document->tus.size() +
                    document->motionVectors.size();
    vexilo::SyntaxTreeModel tree;
    figures.treeFirstMs = 1000.0 * vexilo::bench::secondsOf([&] { tree.setAnalysis(document); });
    figures.treeMs = 1000.0 * vexilo::bench::bestSecondsOf(3, [&] { tree.setAnalysis(document); });
    vexilo::StreamStatisticsModel statistics;
    figures.statisticsMs = 1000.0 * vexilo::bench::bestSecondsOf(3, [&] { statistics.setStreamAnalysis(*document); });
    vexilo::SliceTableModel slices;
    figures.sliceTableMs = 1000.0 * vexilo::bench::bestSecondsOf(3, [&] { slices.setAnalysis(document); });
    std::printf("%ux%u: %zu nodes (CTU %zu, CU %zu, PU %zu, TU %zu, MV %zu)\n", width, height, figures.nodes,
                document->ctus.size(), document->cus.size(), document->pus.size(), document->tus.size(),
                document->motionVectors.size());
    return figures;
}

}  // namespace

int main() {
    const Figures hd = measure(1920, 1080);
    std::printf("  syntax tree first build %7.1f ms (goal <= %.0f)\n", hd.treeFirstMs, kTreeGoalMs1080p);
    std::printf("  syntax tree rebuild    %8.1f ms (goal <= %.0f)\n", hd.treeMs, kTreeGoalMs1080p);
    std::printf("  stream statistics      %8.1f ms (copying the document included)\n", hd.statisticsMs);
    std::printf("  slice table            %8.1f ms\n", hd.sliceTableMs);
    const Figures uhd = measure(3840, 2160);
    std::printf("  syntax tree first build %7.1f ms\n", uhd.treeFirstMs);
    std::printf("  syntax tree rebuild    %8.1f ms\n", uhd.treeMs);
    std::printf("  stream statistics      %8.1f ms (copying the document included)\n", uhd.statisticsMs);
    std::printf("  slice table            %8.1f ms\n", uhd.sliceTableMs);
    const double perNodeHd = hd.treeMs / static_cast<double>(hd.nodes);
    const double perNodeUhd = uhd.treeMs / static_cast<double>(uhd.nodes);
    std::printf("syntax tree rebuild cost per node: 1080p %.3f us, 4K %.3f us, ratio %.2f (goal <= 1.3: linear)\n",
                1000.0 * perNodeHd, 1000.0 * perNodeUhd, perNodeUhd / perNodeHd);
    return 0;
}
