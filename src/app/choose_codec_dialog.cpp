#include "app/choose_codec_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>

#include "app/dialog_layout.h"

namespace zoomreel::app {

namespace {

constexpr int kQualityStep = 100;  // the slider counts whole percents, the choice hundredths of them
constexpr int kMaxKeyFrameEvery = 99999;

QString compressorText(const CompressorInfo& info) {
    const QString code = QString::fromStdString(fourCCText(info.code)).trimmed();
    return info.description.empty() ? code : code + QStringLiteral(": ") + QString::fromStdString(info.description);
}

}  // namespace

ChooseCodecDialog::ChooseCodecDialog(QWidget* owner, const CompressorRequest& request)
    : QDialog(owner), request_(request) {
    const DialogLayout layout(*this, QStringLiteral("Choose Codec"), 100, 50, 260, 99);
    const auto label = [&](const QString& text, int x, int y, int width) {
        return layout.place(new QLabel(text, this), 0, x, y, width, 8);
    };

    label(QStringLiteral("Compressor:"), 7, 9, 76);
    compressor_ = layout.place(new QComboBox(this), 0, 86, 7, 167, 14);
    compressor_->setObjectName(QStringLiteral("compressor"));
    int selected = 0;
    for (std::size_t i = 0; i < request_.compressors.size(); ++i) {
        const CompressorInfo& info = request_.compressors[i];
        compressor_->addItem(compressorText(info));
        if (info.code == request_.initial.compressor) selected = static_cast<int>(i);
    }
    compressor_->setCurrentIndex(request_.compressors.empty() ? -1 : selected);

    if (request_.width > 0 && request_.height > 0) {
        QLabel* frameSize = label(QStringLiteral("%1 x %2, %3 frames per second")
                                      .arg(request_.width)
                                      .arg(request_.height)
                                      .arg(request_.frameRate),
                                  86, 25, 167);
        frameSize->setObjectName(QStringLiteral("frameSize"));
    }

    label(QStringLiteral("Compression Quality:"), 7, 41, 76);
    quality_ = layout.place(new QSlider(Qt::Horizontal, this), 0, 86, 39, 140, 12);
    quality_->setObjectName(QStringLiteral("quality"));
    quality_->setRange(0, 100);
    quality_->setPageStep(10);
    QLabel* qualityValue = label(QString(), 230, 41, 23);
    qualityValue->setObjectName(QStringLiteral("qualityValue"));
    connect(quality_, &QSlider::valueChanged, qualityValue,
            [qualityValue](int value) { qualityValue->setNum(value); });
    quality_->setValue(std::clamp(request_.initial.quality / kQualityStep, 0, 100));
    qualityValue->setNum(quality_->value());

    keyFrameEveryOn_ = layout.place(new QCheckBox(QStringLiteral("Key Frame Every"), this), 0, 7, 56, 76, 12);
    keyFrameEveryOn_->setObjectName(QStringLiteral("keyFrameEveryOn"));
    keyFrameEvery_ = layout.place(new QSpinBox(this), 0, 86, 55, 64, 14);
    keyFrameEvery_->setObjectName(QStringLiteral("keyFrameEvery"));
    keyFrameEvery_->setRange(1, kMaxKeyFrameEvery);
    keyFrameEvery_->setSuffix(QStringLiteral(" frames"));
    connect(keyFrameEveryOn_, &QCheckBox::toggled, keyFrameEvery_, &QSpinBox::setEnabled);
    const bool everyOn = request_.initial.keyFrameEvery > 0;
    keyFrameEvery_->setValue(everyOn ? request_.initial.keyFrameEvery : 1);
    keyFrameEveryOn_->setChecked(everyOn);
    keyFrameEvery_->setEnabled(everyOn);

    auto* ok = layout.place(new QPushButton(QStringLiteral("OK"), this), 1, 148, 78, 50, 14);
    ok->setDefault(true);
    ok->setEnabled(!request_.compressors.empty());
    auto* cancel = layout.place(new QPushButton(QStringLiteral("Cancel"), this), 2, 203, 78, 50, 14);
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

CompressorChoice ChooseCodecDialog::choice() const {
    CompressorChoice choice = request_.initial;
    const int index = compressor_->currentIndex();
    if (index >= 0 && static_cast<std::size_t>(index) < request_.compressors.size()) {
        choice.compressor = request_.compressors[static_cast<std::size_t>(index)].code;
    }
    choice.keyFrameEvery = keyFrameEveryOn_->isChecked() ? keyFrameEvery_->value() : 0;
    choice.quality = quality_->value() * kQualityStep;
    return choice;
}

}  // namespace zoomreel::app
