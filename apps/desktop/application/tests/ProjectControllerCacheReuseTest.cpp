// Opening a file whose cache is complete and was written for its content: no worker run, the
// pictures, their index and blocks come from the cache, the thumbnails from the in-process
// decoder. A changed file, a damaged cache or "Reanalyze" still run the worker, and no way out
// of a reopen leaves the analysis service working for it.

#include "ProjectSignalRecorder.h"

#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/SourceStamp.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

namespace vexilo::application {
namespace {

using test::ProjectSignalRecorder;

constexpr const char* kClip = "main_420_8bit_gop8.hevc";
constexpr std::size_t kClipPictures = 24;
constexpr const char* kBPyramidClip = "bpyramid_420_8bit.mp4";
constexpr std::size_t kBPyramidPictures = 24;
// Long enough for anything an ended open still had on its way to arrive.
constexpr int kSettleMs = 300;

// The per-picture documents a controller hands out, by picture.
class PictureDocuments {
public:
    explicit PictureDocuments(ProjectController& controller)
    {
        QObject::connect(&controller, &ProjectController::pictureAnalysisLoaded, &context_,
                         [this](const PictureAnalysisPayload& payload) { loaded[payload.pictureId] = payload.analysis; });
    }

    [[nodiscard]] bool hasBlocksOf(domain::PictureId picture) const
    {
        const auto found = loaded.find(picture);
        return found != loaded.end() && !found->second->ctus.empty() && !found->second->cus.empty();
    }

    std::map<domain::PictureId, StreamAnalysisPtr> loaded;

private:
    QObject context_;
};

// The worker processes this test program started that still run, as the system's process
// table tells them, whatever the controller believes.
int runningWorkerProcesses()
{
    const std::filesystem::path worker = std::filesystem::canonical(VEXILO_WORKER_EXECUTABLE);
    const std::string self = std::to_string(::getpid());
    int running = 0;
    for (const std::filesystem::directory_entry& process : std::filesystem::directory_iterator("/proc")) {
        std::error_code unreadable;
        if (std::filesystem::read_symlink(process.path() / "exe", unreadable) != worker || unreadable) {
            continue;
        }
        // "pid (name) state ppid ...": the worker's name holds no blank.
        std::ifstream stat(process.path() / "stat");
        std::string pid;
        std::string name;
        std::string state;
        std::string parent;
        stat >> pid >> name >> state >> parent;
        running += parent == self ? 1 : 0;
    }
    return running;
}

// How many of the cache's picture documents hold their blocks, read from the files themselves.
std::size_t cachedPicturesWithBlocks(const std::filesystem::path& directory)
{
    const auto manifest = analysis::openAnalysisCache(directory);
    if (!std::holds_alternative<analysis::CacheManifest>(manifest)) {
        return 0;
    }
    std::size_t withBlocks = 0;
    for (const analysis::ManifestPictureEntry& entry : std::get<analysis::CacheManifest>(manifest).pictures) {
        const auto picture = analysis::readCachedPicture(directory, entry);
        if (const auto* document = std::get_if<analysis::StreamAnalysis>(&picture)) {
            withBlocks += !document->ctus.empty() && !document->cus.empty() ? 1U : 0U;
        }
    }
    return withBlocks;
}

class ProjectControllerCacheReuseTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sourceDir_.isValid() && cacheRoot_.isValid());
        source_ = copyClip(kClip);
    }

    std::filesystem::path copyClip(const char* clip) const
    {
        const std::filesystem::path copy = std::filesystem::path(sourceDir_.path().toStdString()) / clip;
        std::filesystem::copy_file(std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / clip, copy);
        return copy;
    }

    ProjectControllerOptions options() const
    {
        ProjectControllerOptions options;
        options.analysisOptions.worker.workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE);
        options.analysisOptions.cacheRoot = cacheRoot_.path().toStdString();
        return options;
    }

    std::filesystem::path cacheDirectory(const std::filesystem::path& source) const
    {
        return analysisCacheDirectory(options().analysisOptions.cacheRoot, pathToQString(source));
    }
    std::filesystem::path cacheDirectory() const { return cacheDirectory(source_); }

    // Opens the source and waits until the project is ready and its index has been loaded.
    static void openAndWaitForIndex(ProjectController& controller, ProjectSignalRecorder& recorder,
                                    const std::filesystem::path& source, std::size_t pictures = kClipPictures)
    {
        controller.openProject(source);
        ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] {
            return recorder.hasEnded() && recorder.has(QStringLiteral("streamAnalysisLoaded"));
        })) << recorder.names.join(QLatin1Char(' ')).toStdString();
        ASSERT_TRUE(recorder.has(QStringLiteral("taskFinished")));
        ASSERT_EQ(controller.pictureCount(), pictures);
    }

    // A first open through the worker, closed again: the cache is complete and stamped. Gives
    // the pictures that open listed, as the worker's frames brought them.
    std::vector<domain::PictureInfo> analyseOnce(const std::filesystem::path& source, std::size_t pictures)
    {
        ProjectController controller(nullptr, options());
        ProjectSignalRecorder recorder(controller);
        PictureDocuments documents(controller);
        openAndWaitForIndex(controller, recorder, source, pictures);
        EXPECT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
        // One pass gave every picture its blocks in the cache.
        EXPECT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.loaded.size() == pictures; }));
        std::vector<domain::PictureInfo> listed = controller.pictures();
        controller.closeProject();
        EXPECT_EQ(cachedPicturesWithBlocks(cacheDirectory(source)), pictures);
        EXPECT_TRUE(analysis::readSourceStamp(cacheDirectory(source)));
        return listed;
    }
    std::vector<domain::PictureInfo> analyseOnce() { return analyseOnce(source_, kClipPictures); }

    QTemporaryDir sourceDir_;
    QTemporaryDir cacheRoot_;
    std::filesystem::path source_;
};

// What both a decoder and the cache know of a picture.
auto listedFacts(const domain::PictureInfo& picture)
{
    return std::tuple(picture.id, picture.displayIndex, picture.pts, picture.pictureType, picture.width,
                      picture.height, picture.bitDepth);
}

TEST_F(ProjectControllerCacheReuseTest, ReopeningAnUnchangedFileReadsItsCacheWithoutAWorkerRun)
{
    const std::vector<domain::PictureInfo> analysed = analyseOnce();
    ASSERT_EQ(analysed.size(), kClipPictures);
    ProjectController controller(nullptr, options());
    ProjectSignalRecorder recorder(controller);
    PictureDocuments documents(controller);
    // Stepping waits for no decode of the stream: the first batch lists every picture, and the
    // last one can be shown and inspected at once.
    constexpr domain::PictureId kLast = kClipPictures - 1;
    bool lastSelectable = false;
    QObject context;
    QObject::connect(&controller, &ProjectController::pictureBatchDecoded, &context, [&] {
        if (recorder.batches.size() == 1) {
            lastSelectable = controller.selectPicture(kLast);
        }
    });
    openAndWaitForIndex(controller, recorder, source_);
    EXPECT_FALSE(recorder.has(QStringLiteral("analysisStarted"))) << recorder.names.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(recorder.startedPaths.size(), 1) << "one taskStarted per open";
    EXPECT_EQ(recorder.thumbnails.size(), kClipPictures) << "the thumbnails still come from a decoder";
    ASSERT_EQ(recorder.batches.size(), 1U);
    EXPECT_TRUE(lastSelectable);
    EXPECT_LT(recorder.names.indexOf(QStringLiteral("streamReady")), recorder.names.indexOf(QStringLiteral("batch:24")));
    EXPECT_LT(recorder.names.indexOf(QStringLiteral("batch:24")),
              recorder.names.indexOf(QStringLiteral("streamAnalysisLoaded")))
        << "the statistics and the rows meet every picture of the stream document";
    for (std::size_t picture = 0; picture < kClipPictures; ++picture) {
        EXPECT_EQ(listedFacts(controller.pictures()[picture]), listedFacts(analysed[picture]))
            << "the cache lists picture " << picture << " as the worker's frames did";
    }

    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.hasBlocksOf(kLast) && !recorder.frames.empty(); }));
    EXPECT_EQ(recorder.frames.front()->index, kLast);
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.loaded.size() == kClipPictures; }));
    for (domain::PictureId picture = 0; picture < static_cast<domain::PictureId>(kClipPictures); ++picture) {
        EXPECT_EQ(controller.pictureAnalysisStatus(picture), PictureAnalysisStatus::IndexReady) << picture;
        for (const analysis::SliceInfo& slice : documents.loaded[picture]->slices) {
            EXPECT_EQ(slice.pictureId, std::optional<std::uint64_t>(static_cast<std::uint64_t>(picture)))
                << "slices name the project's own picture";
        }
    }
    EXPECT_FALSE(controller.isAnalysisBusy());
    EXPECT_FALSE(recorder.has(QStringLiteral("analysisStarted")));
}

// A picture read while the reopen still decodes names the later pictures it refers to (the L1
// targets of B pictures, the DPB's entries) as a picture read after the pass does. The user here
// steps to each B picture as soon as it is listed.
TEST_F(ProjectControllerCacheReuseTest, EveryReferenceOfAReopenedBPyramidNamesThePictureOfItsPoc)
{
    const std::filesystem::path source = copyClip(kBPyramidClip);
    analyseOnce(source, kBPyramidPictures);
    // A decoder that tells each picture at once, so that a listed picture is read before the
    // pictures after it are decoded.
    ProjectControllerOptions eager = options();
    eager.decodeBatchInterval = std::chrono::milliseconds(0);
    ProjectController controller(nullptr, eager);
    ProjectSignalRecorder recorder(controller);
    StreamAnalysisPtr stream;
    std::vector<PictureAnalysisPayload> payloads;
    QObject context;
    QObject::connect(&controller, &ProjectController::streamAnalysisLoaded, &context,
                     [&stream](qulonglong, const StreamAnalysisPtr& document) { stream = document; });
    QObject::connect(&controller, &ProjectController::pictureAnalysisLoaded, &context,
                     [&payloads](const PictureAnalysisPayload& payload) { payloads.push_back(payload); });
    QObject::connect(&controller, &ProjectController::pictureBatchDecoded, &context, [&](const PictureInfoBatch& batch) {
        const auto firstB = std::find_if(batch.begin(), batch.end(), [](const domain::PictureInfo& picture) {
            return picture.pictureType == domain::PictureType::B;
        });
        if (firstB != batch.end()) {
            controller.selectPicture(firstB->id);
        }
    });
    openAndWaitForIndex(controller, recorder, source, kBPyramidPictures);
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] {
        std::set<domain::PictureId> loaded;
        for (const PictureAnalysisPayload& payload : payloads) {
            loaded.insert(payload.pictureId);
        }
        return loaded.size() == kBPyramidPictures;
    }));
    // The loads of the stepped-to pictures still on their way.
    QTest::qWait(kSettleMs);
    ASSERT_TRUE(stream);

    // Each picture's decode position and POC as the stream document has them, met with the
    // project's pictures by display index, not through the identity map under test.
    struct Coded {
        std::int64_t decodeIndex = 0;
        std::int32_t poc = 0;
    };
    std::map<domain::PictureId, Coded> codedPictures;
    for (const analysis::PictureAnalysisSummary& summary : stream->pictures) {
        const auto project = std::find_if(controller.pictures().begin(), controller.pictures().end(),
                                          [&](const domain::PictureInfo& picture) {
                                              return summary.displayIndex == picture.displayIndex;
                                          });
        ASSERT_NE(project, controller.pictures().end());
        codedPictures[project->id] = {summary.decodeIndex.value(), summary.poc.value()};
    }
    ASSERT_EQ(codedPictures.size(), kBPyramidPictures);
    // The picture a POC names from the referring one: the latest of that POC decoded up to it.
    const auto pictureOfPoc = [&](domain::PictureId referring, std::int32_t poc) {
        std::optional<std::uint64_t> named;
        std::int64_t namedAt = -1;
        for (const auto& [picture, coded] : codedPictures) {
            if (coded.poc == poc && coded.decodeIndex <= codedPictures[referring].decodeIndex && coded.decodeIndex > namedAt) {
                named = static_cast<std::uint64_t>(picture);
                namedAt = coded.decodeIndex;
            }
        }
        return named;
    };

    std::size_t laterTargets = 0;
    for (const PictureAnalysisPayload& payload : payloads) {
        const domain::PictureId picture = payload.pictureId;
        for (const analysis::ReferencePictureEntry& reference : payload.analysis->referencePictures) {
            ASSERT_TRUE(reference.poc.has_value());
            const std::optional<std::uint64_t> expected = pictureOfPoc(picture, *reference.poc);
            ASSERT_TRUE(expected.has_value()) << "picture " << picture << " POC " << *reference.poc;
            EXPECT_EQ(reference.targetPictureId, expected) << "picture " << picture << " POC " << *reference.poc;
            laterTargets += *expected > static_cast<std::uint64_t>(picture) ? 1U : 0U;
        }
        for (const analysis::DpbSnapshotEntry& entry : payload.analysis->dpbSnapshotEntries) {
            ASSERT_TRUE(entry.poc.has_value());
            EXPECT_EQ(entry.pictureId, pictureOfPoc(picture, *entry.poc)) << "picture " << picture << " DPB POC " << *entry.poc;
        }
    }
    EXPECT_GT(laterTargets, 0U) << "B pictures must refer to pictures shown after them for this test to mean anything";
}

TEST_F(ProjectControllerCacheReuseTest, AFileChangedInPlaceIsAnalysedAgain)
{
    analyseOnce();
    std::ofstream(source_, std::ios::binary | std::ios::app).put('\0');
    ProjectController controller(nullptr, options());
    ProjectSignalRecorder recorder(controller);
    openAndWaitForIndex(controller, recorder, source_);
    EXPECT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
}

TEST_F(ProjectControllerCacheReuseTest, AnUnreadableCacheIsAnalysedAgainAndNeverShownHalf)
{
    analyseOnce();
    // The stamp still matches the file, but the stream document no longer reads.
    std::ofstream(cacheDirectory() / "stream.vxmeta", std::ios::binary | std::ios::trunc) << "damaged";
    ProjectController controller(nullptr, options());
    ProjectSignalRecorder recorder(controller);
    PictureDocuments documents(controller);
    openAndWaitForIndex(controller, recorder, source_);
    EXPECT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
    EXPECT_EQ(recorder.names.count(QStringLiteral("streamAnalysisLoaded")), 1);
    EXPECT_LT(recorder.names.indexOf(QStringLiteral("analysisStarted")),
              recorder.names.indexOf(QStringLiteral("streamAnalysisLoaded")));
    EXPECT_TRUE(recorder.names.filter(QStringLiteral("analysisError:")).isEmpty());
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.loaded.size() == kClipPictures; }));
    EXPECT_EQ(cachedPicturesWithBlocks(cacheDirectory()), kClipPictures);
}

TEST_F(ProjectControllerCacheReuseTest, ADamagedPictureFileHasTheCacheAnalysedAgain)
{
    analyseOnce();
    const std::filesystem::path pictures = cacheDirectory() / "pictures";
    const std::filesystem::directory_entry damaged = *std::filesystem::directory_iterator(pictures);
    std::ofstream(damaged.path(), std::ios::binary | std::ios::trunc) << "damaged";
    ProjectController controller(nullptr, options());
    ProjectSignalRecorder recorder(controller);
    PictureDocuments documents(controller);
    openAndWaitForIndex(controller, recorder, source_);
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("analysisStarted")); }));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] {
        return recorder.names.count(QStringLiteral("streamAnalysisLoaded")) == 2 && !controller.isAnalysisBusy();
    }));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.loaded.size() == kClipPictures; }));
    EXPECT_EQ(cachedPicturesWithBlocks(cacheDirectory()), kClipPictures);
    EXPECT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
    EXPECT_TRUE(recorder.names.filter(QStringLiteral("analysisError:")).isEmpty());
}

// Cancelled or closed at any moment, a reopen takes with it the cache reads, the preloads and
// the worker run it started: nothing of it reaches the window after its taskCanceled.
TEST_F(ProjectControllerCacheReuseTest, NoWayOutOfAReopenLeavesTheServiceWorkingForIt)
{
    analyseOnce();
    enum class Moment : std::uint8_t { TaskStarted, StreamReady, AnalysisStarted };
    struct ExitCase {
        const char* name;
        Moment moment;
        bool close;
        bool damageCache;
    };
    // The damaged cache goes last: its fresh analysis replaces the cache the others reopen.
    const ExitCase cases[] = {
        {"cancel right after taskStarted", Moment::TaskStarted, false, false},
        {"cancel while the cache is read", Moment::StreamReady, false, false},
        {"close while the cache is read", Moment::StreamReady, true, false},
        {"cancel the fresh analysis of an unreadable cache", Moment::AnalysisStarted, false, true},
    };
    const QString kExitRequested = QStringLiteral("exit requested");
    for (const ExitCase& exit : cases) {
        SCOPED_TRACE(exit.name);
        if (exit.damageCache) {
            std::ofstream(cacheDirectory() / "stream.vxmeta", std::ios::binary | std::ios::trunc) << "damaged";
        }
        ProjectController controller(nullptr, options());
        ProjectSignalRecorder recorder(controller);
        QObject context;
        QObject::connect(&controller, &ProjectController::pictureAnalysisLoaded, &context,
                         [&recorder] { recorder.names.append(QStringLiteral("pictureAnalysisLoaded")); });
        QObject::connect(&controller, &ProjectController::pictureAnalysisStatusChanged, &context,
                         [&recorder] { recorder.names.append(QStringLiteral("pictureAnalysisStatusChanged")); });
        int workersWhenEnded = -1;
        bool armed = true;
        const auto endAt = [&](Moment moment) {
            if (moment != exit.moment || !std::exchange(armed, false)) {
                return;
            }
            QTimer::singleShot(0, &context, [&] {
                workersWhenEnded = runningWorkerProcesses();
                recorder.names.append(kExitRequested);
                exit.close ? controller.closeProject() : controller.cancelTask();
            });
        };
        QObject::connect(&controller, &ProjectController::taskStarted, &context, [&] { endAt(Moment::TaskStarted); });
        QObject::connect(&controller, &ProjectController::streamReady, &context, [&] { endAt(Moment::StreamReady); });
        QObject::connect(&controller, &ProjectController::analysisStarted, &context,
                         [&] { endAt(Moment::AnalysisStarted); });

        controller.openProject(source_);
        ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("taskCanceled")); }))
            << recorder.names.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(runningWorkerProcesses(), 0) << "the worker ended with the open";
        QTest::qWait(kSettleMs);
        // Only the open's own end follows the request to end it.
        const QStringList afterwards = recorder.names.mid(recorder.names.indexOf(kExitRequested) + 1);
        EXPECT_EQ(afterwards.filter(QRegularExpression(QStringLiteral("^(state:|selectionCleared|taskCanceled)"))),
                  afterwards);
        EXPECT_EQ(afterwards.back(), QStringLiteral("taskCanceled"));
        EXPECT_EQ(controller.state(), ProjectState::Empty);
        EXPECT_FALSE(controller.isAnalysisBusy());
        EXPECT_EQ(runningWorkerProcesses(), 0);
        if (exit.moment == Moment::AnalysisStarted) {
            EXPECT_EQ(workersWhenEnded, 1) << "the fresh analysis was running when the open ended";
        }
    }
}

TEST_F(ProjectControllerCacheReuseTest, ReanalyzeAfterAReopenRunsTheWorker)
{
    analyseOnce();
    ProjectController controller(nullptr, options());
    ProjectSignalRecorder recorder(controller);
    openAndWaitForIndex(controller, recorder, source_);
    ASSERT_FALSE(recorder.has(QStringLiteral("analysisStarted")));
    recorder.clear();
    controller.reanalyzeStream();
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("streamAnalysisLoaded")); }));
    EXPECT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
    EXPECT_EQ(controller.pictureCount(), kClipPictures) << "the worker's frames do not change the picture list";
}

}  // namespace
}  // namespace vexilo::application
