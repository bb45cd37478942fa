// Opening a file whose cache is complete and was written for its content: no worker run, the
// index and blocks come from the cache, the pictures from the in-process decoder. A changed
// file, a damaged cache or "Reanalyze" still run the worker.

#include "ProjectSignalRecorder.h"

#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/SourceStamp.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <map>

namespace vexilo::application {
namespace {

using test::ProjectSignalRecorder;

constexpr const char* kClip = "main_420_8bit_gop8.hevc";
constexpr std::size_t kClipPictures = 24;

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
        source_ = std::filesystem::path(sourceDir_.path().toStdString()) / kClip;
        std::filesystem::copy_file(std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / kClip, source_);
    }

    ProjectControllerOptions options() const
    {
        ProjectControllerOptions options;
        options.analysisOptions.worker.workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE);
        options.analysisOptions.cacheRoot = cacheRoot_.path().toStdString();
        return options;
    }

    std::filesystem::path cacheDirectory() const
    {
        return analysisCacheDirectory(options().analysisOptions.cacheRoot, pathToQString(source_));
    }

    // Opens the source and waits until the project is ready and its index has been loaded.
    static void openAndWaitForIndex(ProjectController& controller, ProjectSignalRecorder& recorder,
                                    const std::filesystem::path& source)
    {
        controller.openProject(source);
        ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] {
            return recorder.hasEnded() && recorder.has(QStringLiteral("streamAnalysisLoaded"));
        })) << recorder.names.join(QLatin1Char(' ')).toStdString();
        ASSERT_TRUE(recorder.has(QStringLiteral("taskFinished")));
        ASSERT_EQ(controller.pictureCount(), kClipPictures);
    }

    // A first open through the worker, closed again: the cache is complete and stamped.
    void analyseOnce()
    {
        ProjectController controller(nullptr, options());
        ProjectSignalRecorder recorder(controller);
        PictureDocuments documents(controller);
        openAndWaitForIndex(controller, recorder, source_);
        ASSERT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
        // One pass gave every picture its blocks in the cache.
        ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.loaded.size() == kClipPictures; }));
        controller.closeProject();
        EXPECT_EQ(cachedPicturesWithBlocks(cacheDirectory()), kClipPictures);
        ASSERT_TRUE(analysis::readSourceStamp(cacheDirectory()));
    }

    QTemporaryDir sourceDir_;
    QTemporaryDir cacheRoot_;
    std::filesystem::path source_;
};

TEST_F(ProjectControllerCacheReuseTest, ReopeningAnUnchangedFileReadsItsCacheWithoutAWorkerRun)
{
    analyseOnce();
    ProjectController controller(nullptr, options());
    ProjectSignalRecorder recorder(controller);
    PictureDocuments documents(controller);
    openAndWaitForIndex(controller, recorder, source_);
    EXPECT_FALSE(recorder.has(QStringLiteral("analysisStarted"))) << recorder.names.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(recorder.startedPaths.size(), 1) << "one taskStarted per open";
    EXPECT_EQ(recorder.thumbnails.size(), kClipPictures) << "the pictures still come from a decoder";

    ASSERT_TRUE(controller.selectPicture(5));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return documents.hasBlocksOf(5) && !recorder.frames.empty(); }));
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
