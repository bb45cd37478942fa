#pragma once

// The six picture syntax sections over documents that the real worker wrote for a stream of
// the HM reference set or the generated test media, and ways to find their nodes.

#include "SyntaxTreeDump.h"
#include "WorkerAnalysis.h"

#include "vexilo/models/PictureSyntaxModel.h"

#include <QAbstractItemModelTester>

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

namespace vexilo::test {

using Section = PictureSyntaxModel::Section;

struct SectionName {
    Section section;
    const char* name;
};

inline constexpr std::array<SectionName, 6> kSyntaxSections{{{Section::NalUnits, "NAL"},
                                                             {Section::Vps, "VPS"},
                                                             {Section::Sps, "SPS"},
                                                             {Section::Pps, "PPS"},
                                                             {Section::Sei, "SEI"},
                                                             {Section::SliceHeader, "Slice"}}};

inline std::filesystem::path syntaxStreamPath(const QString& name)
{
    if (name.endsWith(QStringLiteral(".bit"))) {
        return std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm" / name.toStdString();
    }
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name.toStdString();
}

// Each stream goes through the worker once per test run.
inline const WorkerAnalysis& analysed(const QString& name)
{
    static std::map<QString, WorkerAnalysis> analyses;
    auto found = analyses.find(name);
    if (found == analyses.end()) {
        found = analyses.emplace(name, analyseWithWorker(syntaxStreamPath(name))).first;
    }
    return found->second;
}

inline domain::PictureId pictureIdOf(const analysis::StreamAnalysis& document)
{
    return document.pictures.empty() ? 0 : static_cast<domain::PictureId>(
                                               document.pictures.front().pictureId.value_or(0));
}

// The six sections of one picture, each checked by the model tester.
class PictureSections {
public:
    explicit PictureSections(const analysis::StreamAnalysis& document)
        : document_(std::make_shared<const analysis::StreamAnalysis>(document))
    {
        for (const SectionName& section : kSyntaxSections) {
            auto model = std::make_unique<PictureSyntaxModel>(section.section);
            testers_.push_back(std::make_unique<QAbstractItemModelTester>(
                model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
            model->setAnalysis(document_, pictureIdOf(document));
            models_.push_back(std::move(model));
        }
    }

    [[nodiscard]] const PictureSyntaxModel& model(Section section) const
    {
        return *models_[static_cast<std::size_t>(section)];
    }

    [[nodiscard]] QString dump(Section section) const { return dumpSyntaxTree(model(section)); }

    // The parameter-set sections list the whole stream's sets whatever the picture,
    // so the later pictures of a golden file leave them out.
    [[nodiscard]] QString dumpAll(bool withParameterSets = true) const
    {
        QString text;
        for (const SectionName& section : kSyntaxSections) {
            const bool parameterSets = section.section == Section::Vps || section.section == Section::Sps ||
                                       section.section == Section::Pps;
            if (parameterSets && !withParameterSets) {
                continue;
            }
            text += QStringLiteral("=== picture %1, %2 ===\n").arg(pictureIdOf(*document_)).arg(QLatin1String(section.name));
            text += dump(section.section);
        }
        return text;
    }

private:
    std::shared_ptr<const analysis::StreamAnalysis> document_;
    std::vector<std::unique_ptr<PictureSyntaxModel>> models_;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers_;
};

inline QString cellOf(const QModelIndex& index, int column) { return index.siblingAtColumn(column).data().toString(); }

inline const analysis::StreamAnalysis* pictureWith(const WorkerAnalysis& analysis,
                                                   bool (*wanted)(const analysis::StreamAnalysis&))
{
    for (const analysis::StreamAnalysis& picture : analysis.pictures) {
        if (wanted(picture)) {
            return &picture;
        }
    }
    return nullptr;
}

}  // namespace vexilo::test
