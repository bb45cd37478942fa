#include "vexilo/ui/ReferenceYuvMetadataDialog.h"

#include "vexilo/media/PathText.h"
#include "vexilo/media/ReferenceYuv.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>
#include <utility>

namespace vexilo {

namespace {

constexpr const char* kWindowTitle = "Reference YUV Metadata";
constexpr const char* kInvalidTitle = "Invalid Reference YUV Metadata";
constexpr const char* kNotice =
    "Bare .yuv files are not self-describing. Vexilo validates the exact metadata above and derives frame count "
    "from file size; it does not guess.";

constexpr int kMaximumDimension = 32768;
constexpr int kDefaultWidth = 1920;
constexpr int kDefaultHeight = 1080;
constexpr int kMaximumFrameOffset = 1000000000;

struct ComboItem {
    const char* text;
    int data;
};

constexpr std::array kLayoutItems{
    ComboItem{"I420 / yuv420p / 8-bit", 1},      ComboItem{"I010 / yuv420p10le / 10-bit", 2},
    ComboItem{"P010 / p010le / 10-bit", 3},      ComboItem{"YUV422P / 8-bit", 4},
    ComboItem{"YUV422P10LE / 10-bit", 5},        ComboItem{"YUV444P / 8-bit", 6},
    ComboItem{"YUV444P10LE / 10-bit", 7},
};

constexpr std::array kColorRangeItems{
    ComboItem{"Unknown", 0},
    ComboItem{"Limited / TV range", 1},
    ComboItem{"Full / PC range", 2},
};

template <std::size_t N>
QComboBox* makeComboBox(const std::array<ComboItem, N>& items, const char* objectName, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(objectName));
    for (const ComboItem& item : items) {
        combo->addItem(QString::fromUtf8(item.text), item.data);
    }
    return combo;
}

std::uint8_t currentItemByte(const QComboBox* combo) {
    return static_cast<std::uint8_t>(combo->currentData(Qt::UserRole).toInt());
}

}  // namespace

ReferenceYuvMetadataDialog::ReferenceYuvMetadataDialog(std::filesystem::path path, QWidget* parent)
    : QDialog(parent), path_(std::move(path)) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setObjectName(QStringLiteral("referenceYuvMetadataDialog"));

    auto* form = new QFormLayout;
    auto* pathLabel = new QLabel(media::pathToQString(path_), this);
    pathLabel->setObjectName(QStringLiteral("referenceYuvPathLabel"));
    pathLabel->setTextFormat(Qt::PlainText);  // a file name is never markup
    pathLabel->setWordWrap(true);
    form->addRow(QStringLiteral("Path"), pathLabel);

    widthSpinBox_ = addSpinBox("referenceYuvWidthSpinBox", 1, kMaximumDimension, kDefaultWidth);
    form->addRow(QStringLiteral("Width"), widthSpinBox_);
    heightSpinBox_ = addSpinBox("referenceYuvHeightSpinBox", 1, kMaximumDimension, kDefaultHeight);
    form->addRow(QStringLiteral("Height"), heightSpinBox_);
    layoutComboBox_ = makeComboBox(kLayoutItems, "referenceYuvLayoutComboBox", this);
    form->addRow(QStringLiteral("Layout"), layoutComboBox_);
    colorRangeComboBox_ = makeComboBox(kColorRangeItems, "referenceYuvColorRangeComboBox", this);
    form->addRow(QStringLiteral("Color range"), colorRangeComboBox_);
    frameOffsetSpinBox_ = addSpinBox("referenceYuvFrameOffsetSpinBox", 0, kMaximumFrameOffset, 0);
    form->addRow(QStringLiteral("Reference frame offset"), frameOffsetSpinBox_);

    auto* notice = new QLabel(QString::fromUtf8(kNotice), this);
    notice->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ReferenceYuvMetadataDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ReferenceYuvMetadataDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(notice);
    layout->addWidget(buttons);
}

QSpinBox* ReferenceYuvMetadataDialog::addSpinBox(const char* objectName, int minimum, int maximum, int value) {
    auto* spinBox = new QSpinBox(this);
    spinBox->setObjectName(QString::fromLatin1(objectName));
    spinBox->setRange(minimum, maximum);
    spinBox->setValue(value);
    return spinBox;
}

domain::ReferenceYuvSource ReferenceYuvMetadataDialog::currentSource() const {
    domain::ReferenceYuvSource source;
    source.path = path_;
    source.width = widthSpinBox_->value();
    source.height = heightSpinBox_->value();
    source.layout = static_cast<domain::ReferenceYuvLayout>(currentItemByte(layoutComboBox_));
    source.colourRange = static_cast<domain::ColourRange>(currentItemByte(colorRangeComboBox_));
    source.frameOffset = frameOffsetSpinBox_->value();
    return source;
}

std::optional<domain::ReferenceYuvSource> ReferenceYuvMetadataDialog::acceptedSource() const {
    return acceptedSource_;
}

void ReferenceYuvMetadataDialog::accept() {
    domain::ReferenceYuvSource source = currentSource();
    const media::ReferenceYuvValidationResult result = media::validateReferenceYuvMetadata(source);
    if (!result.valid) {
        QMessageBox::warning(this, QString::fromLatin1(kInvalidTitle), QString::fromStdString(result.message),
                             QMessageBox::Ok);
        return;
    }
    source.frameSizeBytes = result.frameSizeBytes;
    source.physicalFrames = result.physicalFrameCount;
    source.matchedFrames = result.matchedFrameCount;
    acceptedSource_ = std::move(source);
    QDialog::accept();
}

}  // namespace vexilo
