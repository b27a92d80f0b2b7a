#include "editors/accelerate_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cfloat>
#include <climits>
#include <cmath>

#include "app/dialog_layout.h"
#include "editors/dialog_fields.h"
#include "platform/text_scan.h"

namespace zoomreel::app {
namespace {

constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kFactor = 1000;
constexpr int kDuration = 1001;
constexpr int kNewDuration = 1002;
constexpr qsizetype kMaxFactorCharacters = 64;
constexpr char kSpeedFile[] = "speed.qvs";

}  // namespace

AccelerateDialog::AccelerateDialog(QWidget* owner, AppState& state, Interaction& interaction)
    : QDialog(owner), state_(state), interaction_(interaction), fps_(state.video().fps) {
    // 32 units wider than the template, the two durations and the buttons with it: the title is longer than a
    // window manager here shows in 188 units, and the new duration may be a reason instead of a time.
    constexpr int kWider = 32;
    const DialogLayout layout(*this, QStringLiteral("Accelerate or deccelerate the movie"), 50, 25, 188 + kWider, 74);
    const auto label = [&](const char* text, int x, int y, int width) {
        layout.place(new QLabel(QString::fromLatin1(text), this), 0, x, y, width, 8);
    };
    const auto edit = [&](int id, int x, int y, int width, bool readOnly) {
        auto* field = DialogLayout::tallEnough(layout.place(new QLineEdit(this), id, x, y, width, 12));
        field->setReadOnly(readOnly);
        return field;
    };
    // The template's label reaches 2 units into its field; it ends before it instead.
    label("Duration of the movie:", 7, 6, 73);
    QLineEdit* duration = edit(kDuration, 81, 7, 86 + kWider, true);
    label("Acceleration factor:", 7, 21, 63);
    factor_ = edit(kFactor, 80, 20, 40, false);
    label("New duration:", 7, 34, 46);
    newDuration_ = edit(kNewDuration, 80, 35, 88 + kWider, true);
    ok_ = placeButton(layout, *this, kOk, QStringLiteral("OK"), 77 + kWider, 51);
    ok_->setDefault(true);
    QPushButton* cancel = placeButton(layout, *this, kCancel, QStringLiteral("Cancel"), 131 + kWider, 51);
    connect(ok_, &QPushButton::clicked, this, &AccelerateDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &AccelerateDialog::reject);

    // The curve as the file has it, without the default point an editor would add.
    const KeyframeList& list = state_.keyframes;
    if (const auto file = folderSettingsFile(list, kSpeedFile); !file.empty()) loadCurve(file, speed_);
    frames_ = countSpeedFrames(speed_, list.keyframeCount(), list.selectionStart, list.selectionEnd).total;
    duration->setText(durationText(frames_, fps_));
    connect(factor_, &QLineEdit::textChanged, this, &AccelerateDialog::factorTyped);
    factor_->setText(QStringLiteral("1.00"));
    // The factor is what there is to type: it has the focus, ready to be replaced.
    factor_->setFocus();
    factor_->selectAll();
}

bool AccelerateDialog::scaled(const KeyPoint& point) const {
    const KeyframeList& list = state_.keyframes;
    return static_cast<float>(list.selectionStart - 1) <= point.x && point.x <= static_cast<float>(list.selectionEnd + 1);
}

QString AccelerateDialog::refusal(double& factor) const {
    double typed = 0;
    if (!scanNumber(factor_->text().left(kMaxFactorCharacters).toStdString(), typed) || std::isnan(typed)) {
        return QStringLiteral("Not a number");
    }
    if (!(typed > 0)) return QStringLiteral("Must be above 0");
    // Every speed must stay a positive float whose step 1 / speed moves the movie on.
    if (static_cast<double>(frames_) / typed >= INT_MAX) return QStringLiteral("Too small");
    for (const KeyPoint& point : speed_.points) {
        if (!scaled(point) || !(point.y > 0)) continue;
        const double speed = static_cast<double>(point.y) / typed;
        if (speed > FLT_MAX) return QStringLiteral("Too small");
        if (speed < FLT_MIN) return QStringLiteral("Too large");
    }
    factor = typed;
    return {};
}

void AccelerateDialog::factorTyped() {
    double factor = 0;
    const QString why = refusal(factor);
    ok_->setEnabled(why.isEmpty());
    newDuration_->setText(why.isEmpty() ? durationText(static_cast<int>(frames_ / factor), fps_) : why);
}

void AccelerateDialog::accept() {
    double factor = 0;
    if (!refusal(factor).isEmpty()) return;
    KeyPointCurve speed = speed_;
    for (KeyPoint& point : speed.points) {
        if (scaled(point)) point.y = static_cast<float>(static_cast<double>(point.y) / factor);
    }
    if (!saveInFolder(*this, interaction_, state_.keyframes, kSpeedFile,
                      [&](const std::filesystem::path& file) { return saveCurve(file, speed); })) {
        return;
    }
    done(kOk);
}

void AccelerateDialog::reject() { done(kCancel); }

}  // namespace zoomreel::app
