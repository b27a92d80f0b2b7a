#include "editors/relief_3d_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <numbers>

#include "app/dialog_layout.h"
#include "editors/dialog_fields.h"
#include "editors/setup_editors.h"
#include "settings/render_settings.h"

namespace zoomreel::app {
namespace {

constexpr int kOk = 1;
constexpr int kCancel = 2;

struct Rect {
    int x, y, width, height;
};

/// An edit field with its label, showing one number of `Record`.
template <typename Record>
struct NumberRow {
    int id;
    const char* label;
    Rect labelRect;
    Rect editRect;
    double Record::*field;
    const char* format;
};

template <typename Record>
struct FlagRow {
    int id;
    const char* text;
    Rect rect;
    std::int32_t Record::*field;
};

QLabel* label(const DialogLayout& layout, QWidget& parent, const char* text, Rect r) {
    return layout.place(new QLabel(QString::fromLatin1(text), &parent), 0, r.x, r.y, r.width, r.height);
}

QLineEdit* edit(const DialogLayout& layout, QWidget& parent, int id, Rect r) {
    return DialogLayout::tallEnough(layout.place(new QLineEdit(&parent), id, r.x, r.y, r.width, r.height));
}

template <typename Record>
void addNumbers(const DialogLayout& layout, QDialog& dialog, const Record& record,
                std::initializer_list<NumberRow<Record>> rows,
                std::vector<std::pair<QLineEdit*, double Record::*>>& fields) {
    for (const NumberRow<Record>& row : rows) {
        label(layout, dialog, row.label, row.labelRect);
        QLineEdit* field = edit(layout, dialog, row.id, row.editRect);
        showNumber(*field, row.format, record.*row.field);
        fields.emplace_back(field, row.field);
    }
}

template <typename Record>
void addFlags(const DialogLayout& layout, QWidget& parent, const Record& record, std::initializer_list<FlagRow<Record>> rows,
              std::vector<std::pair<QCheckBox*, std::int32_t Record::*>>& flags, QPoint origin = {}) {
    for (const FlagRow<Record>& row : rows) {
        QCheckBox* box = placeCheckBox(layout, parent, row.id, QString::fromLatin1(row.text), row.rect.x - origin.x(),
                                       row.rect.y - origin.y(), row.rect.width, row.rect.height);
        box->setChecked(record.*row.field != 0);
        flags.emplace_back(box, row.field);
    }
}

/// The controls' values in `record`; a field that is not a number keeps what the record holds.
template <typename Record>
void readControls(Record& record, const std::vector<std::pair<QLineEdit*, double Record::*>>& numbers,
                  const std::vector<std::pair<QCheckBox*, std::int32_t Record::*>>& flags) {
    for (const auto& [field, member] : numbers) readNumber(*field, record.*member);
    for (const auto& [box, member] : flags) record.*member = box->isChecked() ? 1 : 0;
}

/// OK and "Annuler", Return pressing the first and Escape the second.
void addButtons(const DialogLayout& layout, QDialog& dialog, int x, int y) {
    QPushButton* ok = placeButton(layout, dialog, kOk, QStringLiteral("OK"), x, y);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QPushButton* cancel = placeButton(layout, dialog, kCancel, QStringLiteral("Annuler"), x + 55, y);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
}

}  // namespace

ReliefDialog::ReliefDialog(QWidget* owner, AppState& state, Interaction& interaction)
    : QDialog(owner), state_(state), interaction_(interaction) {
    const DialogLayout layout(*this, QStringLiteral("Relief"), 0, 0, 257, 205);
    ReliefSettings& relief = state_.relief;
    if (const auto file = folderSettingsFile(state_.keyframes, kReliefFileName); !file.empty()) loadRelief(file, relief);

    using R = ReliefSettings;
    addFlags<R>(layout, *this, relief,
                {{1000, "Activate", {7, 7, 43, 10}, &R::active},
                 {1009, "Phong", {7, 64, 36, 10}, &R::phong},
                 {1013, "Phong 2", {137, 64, 42, 10}, &R::phong2}},
                flags_);
    addNumbers<R>(layout, *this, relief,
                  {{1001, "Power :", {7, 18, 52, 8}, {59, 16, 66, 12}, &R::power, "%5.2lf"},
                   {1002, "Ratio :", {7, 35, 22, 8}, {61, 31, 63, 12}, &R::ratio, "%5.3lf"},
                   {1003, "Light Direction :", {7, 49, 51, 8}, {62, 46, 63, 12}, &R::lightDirection, "%5.1lf"},
                   {1010, "Phong Size :", {7, 77, 40, 8}, {62, 74, 63, 14}, &R::phongSize, "%5.2lf"},
                   {1011, "Phong Ratio :", {7, 93, 43, 9}, {62, 91, 63, 14}, &R::phongRatio, "%5.3lf"},
                   {1012, "Light Elevation :", {8, 110, 52, 8}, {62, 108, 63, 14}, &R::lightElevation, "%5.1lf"},
                   {1014, "Phong 2 size :", {137, 77, 46, 8}, {191, 74, 59, 14}, &R::phong2Size, "%5.2lf"},
                   {1015, "Phong 2 Ratio :", {138, 93, 50, 8}, {191, 91, 59, 14}, &R::phong2Ratio, "%5.3lf"},
                   {1016, "Light 2 Elev. :", {139, 110, 45, 8}, {191, 108, 59, 14}, &R::light2Elevation, "%5.1lf"}},
                  numbers_);

    const QPoint groupOrigin(7, 135);
    auto* group = layout.place(new QGroupBox(QStringLiteral("Distance Estimator"), this), 0, 7, 135, 243, 46);
    auto* modes = new QButtonGroup(this);
    const auto radio = [&](int id, const char* text, Rect r) {
        auto* button = DialogLayout::tallEnough(layout.place(new QRadioButton(QString::fromLatin1(text), group), id,
                                                             r.x - groupOrigin.x(), r.y - groupOrigin.y(), r.width,
                                                             r.height));
        modes->addButton(button);
        return button;
    };
    none_ = radio(1004, "None", {11, 146, 33, 10});
    // Both a few units wider than in the template, which this platform's radio buttons need for their texts.
    wrapToZero_ = radio(1005, "(col >= nbc - 1)col = 0", {53, 146, 88, 10});
    QRadioButton* wrapToLast = radio(1006, "(col >= nbc - 1)col = nbc-1", {143, 146, 102, 10});
    addFlags<R>(layout, *group, relief,
                {{1007, "Sqrt", {11, 164, 29, 10}, &R::deSqrt}, {1008, "Sqrt(Sqrt)", {44, 164, 63, 10}, &R::deSqrtSqrt}},
                flags_, groupOrigin);
    (relief.distanceEstimator == 0 ? none_ : relief.deWrapToZero != 0 ? wrapToZero_ : wrapToLast)->setChecked(true);

    addButtons(layout, *this, 133, 184);
}

void ReliefDialog::accept() {
    ReliefSettings relief = state_.relief;
    readControls(relief, numbers_, flags_);
    // "None" turns the estimator off and leaves the wrap mode as it was, for the next time it is turned on.
    if (none_->isChecked()) {
        relief.distanceEstimator = 0;
    } else {
        relief.distanceEstimator = 1;
        relief.deWrapToZero = wrapToZero_->isChecked() ? 1 : 0;
    }
    if (!saveInFolder(*this, interaction_, state_.keyframes, kReliefFileName,
                      [&](const std::filesystem::path& file) { return saveRelief(file, relief); })) {
        return;
    }
    state_.relief = relief;
    done(kOk);
}

void ReliefDialog::reject() { done(kCancel); }

Projection3DDialog::Projection3DDialog(QWidget* owner, AppState& state, Interaction& interaction)
    : QDialog(owner), state_(state), interaction_(interaction) {
    const DialogLayout layout(*this, QStringLiteral("3D"), 0, 0, 217, 162);
    if (const auto file = folderSettingsFile(state_.keyframes, k3DFileName); !file.empty()) {
        load3D(file, state_.projection);
    }
    opened_ = state_.projection;

    using P = Projection3DSettings;
    addFlags<P>(layout, *this, opened_,
                {{1043, "Active 3D", {7, 7, 47, 10}, &P::active},
                 {1045, "sqrt(niter)", {7, 21, 49, 12}, &P::sqrtIter},
                 {1046, "log(niter)", {67, 23, 45, 10}, &P::logIter},
                 {1057, "Asymptotic", {132, 22, 51, 10}, &P::asymptotic}},
                flags_);

    label(layout, *this, "Projection Angle:", {7, 39, 56, 8});
    angle_ = edit(layout, *this, 1047, {67, 36, 50, 14});
    showNumber(*angle_, "%5.3lf", opened_.projectionAngle * 180.0 / std::numbers::pi);
    addNumbers<P>(layout, *this, opened_,
                  {{1049, "Z Scale:", {7, 55, 38, 8}, {67, 53, 50, 14}, &P::zScale, "%5.5lf"},
                   {1050, "Max Iter:", {7, 73, 37, 8}, {67, 70, 40, 14}, &P::maxIter, "%5.1lf"}},
                  numbers_);
    label(layout, *this, "Vert Shift:", {7, 90, 37, 8});
    vertShift_ = edit(layout, *this, 1052, {67, 87, 40, 14});
    showNumber(*vertShift_, opened_.vertShift);
    addNumbers<P>(layout, *this, opened_,
                  {{1053, "Gaussian Filter:", {7, 107, 50, 8}, {67, 104, 40, 14}, &P::gaussianFilter, "%5.2lf"},
                   {1058, "Shadow Coef. :", {7, 124, 53, 9}, {68, 121, 40, 14}, &P::shadowCoef, "%5.2lf"},
                   {1059, "Shadow Angle :", {116, 124, 51, 8}, {167, 121, 40, 14}, &P::shadowAngle, "%5.2lf"}},
                  numbers_);

    const struct {
        int id, y;
        std::int32_t AppState::*request;
    } evolutions[] = {{1054, 53, &AppState::zScaleEvolutionRequest},
                      {1055, 70, &AppState::maxIterEvolutionRequest},
                      {1056, 88, &AppState::vertShiftEvolutionRequest}};
    for (const auto& evolution : evolutions) {
        QPushButton* button = placeButton(layout, *this, evolution.id, QStringLiteral("Evolution..."), 129, evolution.y);
        connect(button, &QPushButton::clicked, this, [this, request = evolution.request] { openEvolution(request); });
    }
    addButtons(layout, *this, 104, 141);
}

void Projection3DDialog::openEvolution(std::int32_t AppState::*request) {
    if (state_.keyframes.selectionEnd == -1) {
        interaction_.message(this, kCaption, kSelectKeyframesText, BoxIcon::Warning, BoxButtons::Ok);
        return;
    }
    // The editor picks its curve from the request and clears every request as it closes.
    state_.*request = 1;
    SpeedSetupDialog editor(this, state_, interaction_);
    interaction_.runDialog(editor);
}

void Projection3DDialog::accept() {
    Projection3DSettings projection = opened_;
    // The angle is typed in degrees; left as shown, it keeps its exact value in radians.
    double degrees = 0;
    if (fieldEdited(*angle_) && readNumber(*angle_, degrees)) projection.setProjectionAngle(degrees * std::numbers::pi / 180.0);
    readNumber(*vertShift_, projection.vertShift);
    readControls(projection, numbers_, flags_);
    if (!saveInFolder(*this, interaction_, state_.keyframes, k3DFileName,
                      [&](const std::filesystem::path& file) { return save3D(file, projection); })) {
        return;
    }
    state_.projection = projection;
    done(kOk);
}

void Projection3DDialog::reject() {
    // The speed editor may have read "3D.qvs" over the record meanwhile: it is put back as the dialog found it.
    state_.projection = opened_;
    done(kCancel);
}

}  // namespace zoomreel::app
