#include "app/dialogs.h"

#include <QApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>

#include <string>

#include "app/dialog_layout.h"
#include "app/interaction.h"
#include "keyframes/conversion.h"
#include "platform/text_scan.h"

namespace zoomreel::app {

namespace {

constexpr int kOk = 1;
constexpr int kCancel = 2;

QLabel* staticText(const DialogLayout& layout, QDialog& dialog, int id, const QString& text, int x, int y, int width,
                   int height) {
    return layout.place(new QLabel(text, &dialog), id, x, y, width, height);
}

QPushButton* button(const DialogLayout& layout, QDialog& dialog, int id, const QString& text, int x, int y) {
    auto* pushButton = layout.place(new QPushButton(text, &dialog), id, x, y, 50, 14);
    pushButton->setAutoDefault(false);
    return pushButton;
}

/// At most `count` characters of `text`, without leaving half of a surrogate pair at the end.
QString leftCharacters(const QString& text, qsizetype count) {
    if (text.size() <= count) return text;
    if (text.at(count - 1).isHighSurrogate()) --count;
    return text.left(count);
}

}  // namespace

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner) {
    const DialogLayout layout(*this, QStringLiteral("About ZOR3D"), 100, 50, 233, 60);

    QIcon icon = QApplication::windowIcon();
    if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    auto* iconLabel = new QLabel(this);
    constexpr int kIconPixels = 32;
    iconLabel->setPixmap(icon.pixmap(kIconPixels, kIconPixels));
    iconLabel->setGeometry(QRect(layout.pixels(8, 15, 0, 0).topLeft(), QSize(kIconPixels, kIconPixels)));

    staticText(layout, *this, 0, QStringLiteral("Zoomreel Version 1.01"), 43, 15, 189, 8);

    QPushButton* ok = button(layout, *this, kOk, QStringLiteral("OK"), 79, 41);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(kOk); });
}

void AboutDialog::reject() { done(kCancel); }

PreviewFrameSizeDialog::PreviewFrameSizeDialog(QWidget* owner, int mapWidth, int mapHeight)
    : QDialog(owner), mapWidth_(mapWidth), mapHeight_(mapHeight) {
    const DialogLayout layout(*this, QStringLiteral("Preview Frame Size"), 100, 50, 179, 159);

    QPushButton* ok = button(layout, *this, kOk, QStringLiteral("OK"), 59, 138);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &PreviewFrameSizeDialog::accept);

    staticText(layout, *this, 1000, QStringLiteral("Choose a preview window frame size :"), 7, 7, 166, 8);

    list_ = layout.place(new QListWidget(this), 1001, 7, 19, 166, 116);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The smallest preview first: entry s is block 40 - s.
    for (int block = kMaxPreviewBlock; block >= kMinPreviewBlock; --block) {
        const PreviewSize size = previewSizeFor(mapWidth_, mapHeight_, block);
        list_->addItem(QString::asprintf("%dx%d", size.width, size.height));
    }
}

void PreviewFrameSizeDialog::accept() {
    // The current row may be set by focus alone; only a selected entry is an answer.
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) return;
    const PreviewSize size = previewSizeFor(mapWidth_, mapHeight_, kMaxPreviewBlock - list_->row(selected.front()));
    choice_ = {size.block, size.width, size.height};
    done(kOk);
}

// A conversion is waiting for the answer: there is nothing to cancel to. The close button comes here too.
void PreviewFrameSizeDialog::reject() {}

KeyFramePropertiesDialog::KeyFramePropertiesDialog(QWidget* owner, const KeyframeList& list, int k)
    : QDialog(owner) {
    const DialogLayout layout(*this, QStringLiteral("Key Frame Properties"), 100, 50, 251, 90);

    QPushButton* ok = button(layout, *this, kOk, QStringLiteral("OK"), 108, 69);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    QString name;
    if (k >= 0 && k < list.keyframeCount()) {
        name = leftCharacters(QString::fromStdString(list.names[static_cast<std::size_t>(k)]), 50);
    }
    const KeyframeSummary* summary =
        k >= 0 && static_cast<std::size_t>(k) < list.summaries.size() ? &list.summaries[static_cast<std::size_t>(k)]
                                                                      : nullptr;
    const auto value = [summary](double KeyframeSummary::*field) {
        return summary ? QString::asprintf("%10.3lf", summary->*field) : QString();
    };

    // The group box first, so that the texts drawn over it stay on top.
    layout.place(new QGroupBox(QStringLiteral("Iterations"), this), 0, 7, 22, 117, 44);
    staticText(layout, *this, 0, QStringLiteral("Frame Number : "), 7, 7, 54, 8);
    staticText(layout, *this, 1002, QString::asprintf("%d", k), 63, 7, 44, 8);
    staticText(layout, *this, 0, QStringLiteral("File Name :"), 140, 7, 36, 8);
    staticText(layout, *this, 1003, name, 178, 7, 63, 8);
    staticText(layout, *this, 0, QStringLiteral("Minimum : "), 15, 36, 34, 8);
    staticText(layout, *this, 1004, value(&KeyframeSummary::minimum), 56, 36, 64, 8);
    staticText(layout, *this, 0, QStringLiteral("Average :"), 15, 45, 33, 8);
    staticText(layout, *this, 1005, value(&KeyframeSummary::average), 55, 45, 61, 8);
    staticText(layout, *this, 0, QStringLiteral("Maximum :"), 15, 54, 35, 8);
    staticText(layout, *this, 1006, value(&KeyframeSummary::maximum), 55, 55, 63, 8);
    staticText(layout, *this, 0, QStringLiteral("Zoom :"), 139, 30, 23, 8);
    staticText(layout, *this, 1007,
               summary ? QString::asprintf("%6.3f", static_cast<double>(summary->zoomMantissa)) + QLatin1Char('e') +
                             QString::asprintf("%03d", summary->zoomExponent)
                       : QString(),
               168, 30, 66, 8);
    staticText(layout, *this, 0, QStringLiteral("Color Divisor :"), 139, 41, 46, 8);
    staticText(layout, *this, 1008, summary ? QString::asprintf("%d", summary->colorDivisor) : QString(), 190, 42,
               36, 8);
}

// Only OK closes the properties, as the close button and Escape did not where the dialog comes from.
void KeyFramePropertiesDialog::reject() {}

ComputeOneFrameDialog::ComputeOneFrameDialog(QWidget* owner, Interaction& interaction, double& position,
                                             int selectionStart, int selectionEnd,
                                             std::function<void(float target)> start)
    : QDialog(owner),
      interaction_(interaction),
      position_(position),
      selectionStart_(selectionStart),
      selectionEnd_(selectionEnd),
      start_(std::move(start)) {
    const DialogLayout layout(*this, QStringLiteral("Compute One Frame"), 0, 0, 157, 47);

    QPushButton* ok = button(layout, *this, kOk, QStringLiteral("OK"), 50, 26);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &ComputeOneFrameDialog::accept);
    QPushButton* cancel = button(layout, *this, kCancel, QStringLiteral("Annuler"), 101, 26);
    connect(cancel, &QPushButton::clicked, this, &ComputeOneFrameDialog::reject);

    staticText(layout, *this, 0, QStringLiteral("Frame Number : "), 7, 7, 54, 8);
    edit_ = layout.place(new QLineEdit(QString::asprintf("%6.2lf", position_), this), 1000, 65, 7, 40, 12);
}

void ComputeOneFrameDialog::accept() {
    // Read as "%lf" would, but always with a decimal point whatever the user's locale.
    const std::string text = leftCharacters(edit_->text(), 50).toStdString();
    scanNumber(text, position_);
    if (selectionEnd_ != -1 && selectionStart_ <= position_ && position_ <= selectionEnd_) {
        if (start_) start_(static_cast<float>(position_));
        done(kOk);
        return;
    }
    interaction_.message(this, kCaption, QStringLiteral("Frame must be in selection!"), BoxIcon::Error,
                         BoxButtons::Ok);
}

void ComputeOneFrameDialog::reject() { done(kCancel); }

}  // namespace zoomreel::app
