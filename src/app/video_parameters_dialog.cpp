#include "app/video_parameters_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/app_state.h"
#include "app/dialog_layout.h"
#include "app/interaction.h"
#include "platform/text_scan.h"
#include "settings/settings_file.h"

namespace zoomreel::app {

/// Control 1014: the zoom text's colour, filling the whole control.
class ColorSwatch : public QFrame {
public:
    explicit ColorSwatch(QWidget* parent) : QFrame(parent) {}

    void setColor(const TextColor& color) {
        color_ = QColor(color.red, color.green, color.blue);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), color_);
    }

private:
    QColor color_;
};

namespace {

constexpr int kSave = 1;
constexpr int kCancel = 2;
// The program's own controls, after the design's.
constexpr int kContainer = 1020;
constexpr int kSoundtrackButton = 1021;
constexpr int kSoundtrack = 1022;
constexpr int kClearSoundtrack = 1023;
constexpr int kSoundtrackStart = 1024;

/// The containers as the list shows them, in the order of `kAllContainers`.
const char* const kContainerLabels[] = {"AVI", "MP4", "Matroska"};

QString text(const std::string& value) { return QString::fromStdString(value); }

/// A field read as "%d" reads it: a leading number is taken, anything else keeps `field` as it was.
void scanField(const QLineEdit& edit, std::int32_t& field) { scanNumber(edit.text().toStdString(), field); }

/// Puts the working directory back as it was, whatever a chooser did with it: the settings files and
/// "preview.avi" are found there.
class WorkingDirectoryGuard {
public:
    WorkingDirectoryGuard() { saved_ = std::filesystem::current_path(error_); }
    ~WorkingDirectoryGuard() {
        if (!error_) std::filesystem::current_path(saved_, error_);
    }
    WorkingDirectoryGuard(const WorkingDirectoryGuard&) = delete;
    WorkingDirectoryGuard& operator=(const WorkingDirectoryGuard&) = delete;

private:
    std::filesystem::path saved_;
    std::error_code error_;
};

}  // namespace

VideoParametersDialog::VideoParametersDialog(QWidget* owner, Interaction& interaction, AppState& state)
    : QDialog(owner), interaction_(interaction), state_(state), video_(state.video()) {
    if (video_.fontName.empty()) {
        video_.fontName = "Arial";
        state_.setVideo(video_);
    }

    const DialogLayout layout(*this, QStringLiteral("Video Parameters"), 100, 50, 250, 200);
    const auto label = [&](const QString& caption, int x, int y, int width) {
        layout.place(new QLabel(caption, this), 0, x, y, width, 8);
    };
    const auto edit = [&](int id, const QString& value, int x, int y, int width, bool readOnly) {
        auto* field = layout.place(new QLineEdit(value, this), id, x, y, width, 14);
        field->setReadOnly(readOnly);
        return field;
    };
    const auto button = [&](int id, const QString& caption, int x, int y, int width) {
        auto* pushButton = layout.place(new QPushButton(caption, this), id, x, y, width, 14);
        pushButton->setAutoDefault(false);
        return pushButton;
    };

    // The movie's timing on the left, its frame size on the right.
    label(QStringLiteral("Frames per seconde:"), 7, 10, 72);
    fps_ = edit(1002, QString::number(video_.fps), 82, 7, 40, false);
    label(QStringLiteral("Frames per movie:"), 7, 28, 72);
    framesPerMovie_ = edit(1012, QString::number(video_.framesPerMovie), 82, 25, 40, false);
    label(QStringLiteral("Width:"), 150, 10, 40);
    finalWidth_ = edit(1009, QString::number(video_.finalWidth), 196, 7, 47, false);
    label(QStringLiteral("Height:"), 150, 28, 40);
    height3D_ = edit(1008, QString::number(video_.height3D), 196, 25, 47, false);

    // The zoom text: on or off, its face and size, its colour.
    showZoomText_ = layout.place(new QCheckBox(QStringLiteral("Show zoom text"), this), 1003, 7, 45, 100, 12);
    showZoomText_->setChecked(video_.showZoomText != 0);
    QPushButton* font = button(1004, QStringLiteral("Font"), 7, 61, 60);
    fontName_ = edit(1005, text(video_.fontName), 72, 61, 100, true);
    label(QStringLiteral("Size:"), 176, 64, 18);
    fontSize_ = edit(1006, QString::number(video_.fontSize), 196, 61, 47, true);
    QPushButton* color = button(1013, QStringLiteral("Color"), 7, 79, 60);
    swatch_ = layout.place(new ColorSwatch(this), 1014, 72, 79, 40, 14);
    swatch_->setColor(video_.textColor);

    QPushButton* browser = button(1007, QStringLiteral("Video Browser"), 7, 101, 60);
    videoBrowser_ = edit(1010, text(video_.videoBrowser), 72, 101, 171, true);

    // The movie's files: their container, and the soundtrack they carry from the start given.
    label(QStringLiteral("Container:"), 7, 122, 60);
    container_ = layout.place(new QComboBox(this), kContainer, 72, 119, 80, 14);
    for (std::size_t i = 0; i < std::size(kAllContainers); ++i) {
        container_->addItem(QString::fromLatin1(kContainerLabels[i]),
                            QString::fromLatin1(containerName(kAllContainers[i])));
        if (kAllContainers[i] == video_.container) container_->setCurrentIndex(static_cast<int>(i));
    }
    QPushButton* soundtrack = button(kSoundtrackButton, QStringLiteral("Soundtrack"), 7, 137, 60);
    soundtrack_ = edit(kSoundtrack, text(video_.soundtrack), 72, 137, 118, true);
    QPushButton* clear = button(kClearSoundtrack, QStringLiteral("Clear"), 193, 137, 50);
    label(QStringLiteral("Start (seconds):"), 7, 158, 62);
    soundtrackStart_ = edit(kSoundtrackStart, QString::number(video_.soundtrackStart, 'g', 10), 72, 155, 47, false);

    QPushButton* save = button(kSave, QStringLiteral("Save"), 138, 179, 50);
    save->setDefault(true);
    QPushButton* cancel = button(kCancel, QStringLiteral("Cancel"), 193, 179, 50);

    connect(font, &QPushButton::clicked, this, &VideoParametersDialog::chooseFont);
    connect(color, &QPushButton::clicked, this, &VideoParametersDialog::chooseColor);
    connect(browser, &QPushButton::clicked, this, &VideoParametersDialog::chooseVideoBrowser);
    connect(soundtrack, &QPushButton::clicked, this, &VideoParametersDialog::chooseSoundtrack);
    connect(clear, &QPushButton::clicked, this, &VideoParametersDialog::clearSoundtrack);
    connect(save, &QPushButton::clicked, this, &VideoParametersDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &VideoParametersDialog::reject);
}

void VideoParametersDialog::accept() {
    scanField(*fps_, video_.fps);
    scanField(*framesPerMovie_, video_.framesPerMovie);
    scanField(*finalWidth_, video_.finalWidth);
    scanField(*height3D_, video_.height3D);
    video_.showZoomText = showZoomText_->isChecked() ? 1 : 0;
    if (const auto container = findContainer(container_->currentData().toString().toStdString())) {
        video_.container = *container;
    }
    bool isNumber = false;
    const double start = soundtrackStart_->text().trimmed().toDouble(&isNumber);
    if (isNumber && start >= 0 && std::isfinite(start)) video_.soundtrackStart = start;
    state_.setVideo(video_);

    const Status saved = SaveVideoParameters(state_.workingDirectory, video_);
    if (!saved.ok) {
        // The values are in effect for this run all the same; the user may retry once the cause is fixed.
        interaction_.message(this, kCaption, QString::fromStdString(saved.message), BoxIcon::Error, BoxButtons::Ok);
        return;
    }
    done(kSave);
}

void VideoParametersDialog::reject() { done(kCancel); }

void VideoParametersDialog::chooseFont() {
    QFont initial(text(video_.fontName));
    if (video_.fontSize > 0) initial.setPointSize(video_.fontSize);
    const std::optional<QFont> chosen = interaction_.chooseFont(this, initial);
    if (!chosen) return;

    video_.fontName = truncateUtf8(chosen->family().toStdString(), kMaxFontNameBytes);
    // Whole points, as a size counted in tenths of a point and divided by ten: 10.5 points give 10. A font
    // measured in pixels has no point size and leaves the size as it was.
    const double tenths = std::round(chosen->pointSizeF() * 10.0);
    if (tenths >= 10.0) video_.fontSize = static_cast<std::int32_t>(tenths) / 10;
    state_.setVideo(video_);
    fontName_->setText(text(video_.fontName));
    fontSize_->setText(QString::number(video_.fontSize));
}

void VideoParametersDialog::chooseColor() {
    const TextColor& current = video_.textColor;
    const std::optional<QColor> chosen =
        interaction_.chooseColor(this, QColor(current.red, current.green, current.blue));
    if (!chosen || !chosen->isValid()) return;

    const QColor rgb = chosen->toRgb();
    video_.textColor = {static_cast<std::uint8_t>(rgb.red()), static_cast<std::uint8_t>(rgb.green()),
                        static_cast<std::uint8_t>(rgb.blue())};
    state_.setVideo(video_);
    swatch_->setColor(video_.textColor);
}

void VideoParametersDialog::chooseVideoBrowser() {
    QString program;
    {
        const WorkingDirectoryGuard keepWorkingDirectory;
        program = interaction_.chooseProgram(this);
    }
    if (program.isEmpty()) return;

    // The whole path: a program path cut short would start nothing, or something else.
    video_.videoBrowser = program.toStdString();
    state_.setVideo(video_);
    videoBrowser_->setText(program);
}

void VideoParametersDialog::chooseSoundtrack() {
    QString file;
    {
        const WorkingDirectoryGuard keepWorkingDirectory;
        file = interaction_.chooseSoundFile(this);
    }
    if (file.isEmpty()) return;
    video_.soundtrack = file.toStdString();
    state_.setVideo(video_);
    soundtrack_->setText(file);
}

void VideoParametersDialog::clearSoundtrack() {
    video_.soundtrack.clear();
    state_.setVideo(video_);
    soundtrack_->clear();
}

}  // namespace zoomreel::app
