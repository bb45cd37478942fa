// Adds 100,000 decoded pictures to the picture strip one at a time, each with its 120 x 68
// thumbnail and picture record, as a long stream's decode delivers them; then paints the strip
// with the current picture in the middle, as thumbnails and as the reference hierarchy of a
// loaded analysis. Prints the time per added picture at the start and at the end (goal: flat),
// the time per paint (goal: at most 16 ms) and the memory the strip keeps (goal: the
// thumbnail byte budget). No other tool draws this strip, so there is no reference run.
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/application/PictureThumbnail.h"
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/views/PictureStripWidget.h"

#include <QApplication>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using vexilo::PictureStripWidget;
namespace analysis = vexilo::analysis;
namespace bench = vexilo::bench;

constexpr int kPictures = 100'000;
constexpr int kChunk = 10'000;
constexpr int kGopSize = 8;
constexpr int kPaints = 60;
constexpr int kEventTurnEvery = 32;  // pictures arrive in batches of at most 32
constexpr double kGoalFlatRatio = 1.5;
constexpr double kGoalPaintMs = 16.0;
constexpr double kMiB = 1024.0 * 1024.0;

double maxResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0 / kMiB;
}

// Display order inside a GOP of 8: I/P at 0, B pyramid 4, 2, 6, then 1, 3, 5, 7.
int displayIndexOf(int decodeIndex) {
    static const int pyramid[kGopSize] = {0, 4, 2, 1, 3, 6, 5, 7};
    return decodeIndex / kGopSize * kGopSize + pyramid[decodeIndex % kGopSize];
}

vexilo::application::PictureThumbnail thumbnailOf(int decodeIndex) {
    vexilo::application::PictureThumbnail thumbnail;
    thumbnail.pictureId = decodeIndex;
    thumbnail.displayIndex = static_cast<std::uint64_t>(displayIndexOf(decodeIndex));
    thumbnail.width = vexilo::application::kPictureThumbnailWidth;
    thumbnail.height = vexilo::application::kPictureThumbnailHeight;
    thumbnail.rgba.assign(static_cast<std::size_t>(thumbnail.width * thumbnail.height * 4),
                          static_cast<std::uint8_t>(decodeIndex * 37));
    return thumbnail;
}

// Every picture references the pictures 1 and 2 GOP steps before it in display order, one
// by id and one by POC only: two edges a picture, a third of a million in all.
analysis::StreamAnalysis analysisOfAllPictures() {
    analysis::StreamAnalysis document;
    for (int picture = 0; picture < kPictures; ++picture) {
        const auto key = static_cast<std::uint64_t>(picture + 1);
        const int displayIndex = displayIndexOf(picture);
        analysis::PictureAnalysisSummary summary;
        summary.id = {2, key};
        summary.pictureId = static_cast<std::uint64_t>(picture);
        summary.poc = displayIndex;
        document.pictures.push_back(summary);
        analysis::SliceInfo slice;
        slice.id = {1, key};
        slice.pictureId = summary.pictureId;
        slice.poc = displayIndex;
        document.slices.push_back(slice);
        if (picture < 2) {
            continue;
        }
        analysis::ReferencePictureEntry byId;
        byId.id = {3, key};
        byId.parentSliceId = slice.id;
        byId.list = analysis::ReferenceList::L0;
        byId.listIndex = 0;
        byId.targetPictureId = static_cast<std::uint64_t>(picture - 1);
        byId.status = analysis::ReferenceStatus::Available;
        document.referencePictures.push_back(byId);
        analysis::ReferencePictureEntry byPoc = byId;
        byPoc.id = {4, key};
        byPoc.list = analysis::ReferenceList::L1;
        byPoc.targetPictureId.reset();
        byPoc.poc = displayIndexOf(picture - 2);
        document.referencePictures.push_back(byPoc);
    }
    return document;
}

double millisecondsPerPaint(PictureStripWidget& strip) {
    strip.repaint();  // warm-up
    return bench::secondsOf([&] {
               for (int paint = 0; paint < kPaints; ++paint) {
                   strip.repaint();
               }
           }) *
           1000.0 / kPaints;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    PictureStripWidget strip;
    strip.resize(1600, 156);
    strip.show();
    QApplication::processEvents();
    const double residentBefore = maxResidentMiB();

    std::vector<double> chunkSeconds;
    double addingSeconds = 0.0;
    double eventSeconds = 0.0;  // the strip's repaints between batches
    double chunk = 0.0;
    for (int picture = 0; picture < kPictures; ++picture) {
        const auto thumbnail = thumbnailOf(picture);
        vexilo::domain::PictureInfo info;
        info.id = picture;
        info.displayIndex = displayIndexOf(picture);
        info.pictureType = picture % kGopSize == 0 ? vexilo::domain::PictureType::P : vexilo::domain::PictureType::B;
        const double seconds = bench::secondsOf([&] {
            strip.setThumbnail(thumbnail);
            strip.addPictures({info});
        });
        if (picture % kEventTurnEvery == kEventTurnEvery - 1) {
            eventSeconds += bench::secondsOf([] { QApplication::processEvents(); });
        }
        addingSeconds += seconds;
        chunk += seconds;
        if ((picture + 1) % kChunk == 0) {
            chunkSeconds.push_back(chunk);
            chunk = 0.0;
        }
    }
    const double residentAfterAdding = maxResidentMiB();

    strip.setCurrentPicture(kPictures / 2);
    const double thumbnailPaintMs = millisecondsPerPaint(strip);
    strip.setAnalysis(analysisOfAllPictures());
    strip.setStripMode(PictureStripWidget::StripMode::ReferenceHierarchy);
    strip.setCurrentPicture(kPictures / 2);
    const double hierarchyPaintMs = millisecondsPerPaint(strip);

    const double firstPerPicture = chunkSeconds.front() / kChunk * 1e6;
    const double lastPerPicture = chunkSeconds.back() / kChunk * 1e6;
    const double budgetMiB = static_cast<double>(vexilo::kDefaultPictureStripThumbnailBudgetBytes) / kMiB;
    const double keptMiB = static_cast<double>(strip.thumbnailBytes()) / kMiB;
    const double growthMiB = residentAfterAdding - residentBefore;
    const double growthGoalMiB = budgetMiB * 1.5;

    std::printf("picture strip, %d pictures added one at a time with 120 x 68 thumbnails\n", kPictures);
    std::printf("  total adding time:                 %.3f s\n", addingSeconds);
    std::printf("  event turns (repaints) meanwhile:  %.3f s\n", eventSeconds);
    std::printf("  per picture, first %d:          %.2f us\n", kChunk, firstPerPicture);
    std::printf("  per picture, last %d:           %.2f us\n", kChunk, lastPerPicture);
    std::printf("  ratio last/first                   %.2f (goal <= %.1f) %s\n", lastPerPicture / firstPerPicture,
                kGoalFlatRatio, lastPerPicture / firstPerPicture <= kGoalFlatRatio ? "met" : "NOT met");
    std::printf("  paint, thumbnails, view in middle  %.3f ms (goal <= %.0f) %s\n", thumbnailPaintMs, kGoalPaintMs,
                thumbnailPaintMs <= kGoalPaintMs ? "met" : "NOT met");
    std::printf("  paint, hierarchy of %zu edges    %.3f ms (goal <= %.0f) %s\n",
                static_cast<std::size_t>(2 * (kPictures - 2)), hierarchyPaintMs, kGoalPaintMs,
                hierarchyPaintMs <= kGoalPaintMs ? "met" : "NOT met");
    std::printf("  thumbnail bytes kept               %.1f MiB (goal <= %.1f) %s\n", keptMiB, budgetMiB,
                keptMiB <= budgetMiB ? "met" : "NOT met");
    std::printf("  peak memory growth while adding    %.1f MiB (goal <= %.1f: budget plus tile index) %s\n", growthMiB,
                growthGoalMiB, growthMiB <= growthGoalMiB ? "met" : "NOT met");
    std::printf("  peak memory of the process         %.1f MiB\n", maxResidentMiB());
    return 0;
}
