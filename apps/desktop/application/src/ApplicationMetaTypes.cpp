#include "vexilo/application/ApplicationMetaTypes.h"

namespace vexilo::application {

void registerApplicationMetaTypes()
{
    // Registered under their written names as well, for connections made by signature text.
    qRegisterMetaType<AnalyzerWorkerState>("vexilo::application::AnalyzerWorkerState");
    qRegisterMetaType<AnalyzerWorkerError>("vexilo::application::AnalyzerWorkerError");
    qRegisterMetaType<AnalyzerTaskRequest>("vexilo::application::AnalyzerTaskRequest");
    qRegisterMetaType<protocol::AnalyzerProtocolMessage>("vexilo::protocol::AnalyzerProtocolMessage");
    qRegisterMetaType<protocol::AnalyzerFramePacket>("vexilo::protocol::AnalyzerFramePacket");
    qRegisterMetaType<domain::PictureInfo>("vexilo::domain::PictureInfo");
    qRegisterMetaType<VideoFramePtr>("vexilo::application::VideoFramePtr");
    qRegisterMetaType<PictureInfoBatch>("vexilo::application::PictureInfoBatch");
    qRegisterMetaType<StreamAnalysisPtr>("vexilo::application::StreamAnalysisPtr");
    qRegisterMetaType<analysis::CacheError>("vexilo::analysis::CacheError");
    qRegisterMetaType<media::FFmpegError>("vexilo::media::FFmpegError");
    qRegisterMetaType<QualityPairResult>("vexilo::application::QualityPairResult");
    qRegisterMetaType<QualityRunError>("vexilo::application::QualityRunError");
}

}  // namespace vexilo::application
