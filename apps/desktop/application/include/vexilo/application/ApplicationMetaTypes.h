#pragma once

#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/application/AnalyzerWorkerTypes.h"
#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/QualityAnalysisTypes.h"
#include "vexilo/media/FFmpegError.h"
#include "vexilo/protocol/FramePacket.h"
#include "vexilo/protocol/ProtocolMessage.h"

#include <QMetaType>

namespace vexilo::application {

// Registers every record type that the desktop's queued signals carry, so that a connection
// across threads can copy it. Safe to call any number of times.
void registerApplicationMetaTypes();

}  // namespace vexilo::application

Q_DECLARE_METATYPE(vexilo::protocol::AnalyzerProtocolMessage)
Q_DECLARE_METATYPE(vexilo::protocol::AnalyzerFramePacket)
Q_DECLARE_METATYPE(vexilo::domain::PictureInfo)
Q_DECLARE_METATYPE(vexilo::application::VideoFramePtr)
Q_DECLARE_METATYPE(vexilo::application::PictureInfoBatch)
Q_DECLARE_METATYPE(vexilo::application::StreamAnalysisPtr)
Q_DECLARE_METATYPE(vexilo::analysis::CacheError)
Q_DECLARE_METATYPE(vexilo::media::FFmpegError)
Q_DECLARE_METATYPE(vexilo::application::QualityPairResult)
Q_DECLARE_METATYPE(vexilo::application::QualityRunError)
