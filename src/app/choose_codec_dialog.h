#pragma once

// "Choose Codec": the compressor of a movie or preview file, its key-frame interval and its quality.

#include <QDialog>

#include "output/avi_writer.h"

class QCheckBox;
class QComboBox;
class QSlider;
class QSpinBox;

namespace zoomreel::app {

/// Offers the compressors of `request`, preselecting the initial one (or the first when it is not offered), with
/// the initial key-frame interval and quality. Closes with QDialog::Accepted on OK and QDialog::Rejected on Cancel
/// or Escape; OK is disabled when there is no compressor to choose.
class ChooseCodecDialog : public QDialog {
public:
    ChooseCodecDialog(QWidget* owner, const CompressorRequest& request);

    /// What the controls hold: key-frame interval 0 when the check box is off (only the first frame is a key
    /// frame), quality in the dialog's units (0 to 10000, in steps of 100).
    CompressorChoice choice() const;

private:
    CompressorRequest request_;
    QComboBox* compressor_ = nullptr;
    QCheckBox* keyFrameEveryOn_ = nullptr;
    QSpinBox* keyFrameEvery_ = nullptr;
    QSlider* quality_ = nullptr;
};

}  // namespace zoomreel::app
