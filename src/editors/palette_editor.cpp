#include "editors/palette_editor.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include <cstdlib>

#include "app/dialog_layout.h"
#include "editors/curve_graph.h"
#include "editors/dialog_fields.h"
#include "settings/palette.h"

namespace zoomreel::app {
namespace {

constexpr int kSave = 1;
constexpr int kCancel = 2;
constexpr int kUsePalette = 1000;
constexpr int kRounded = 1001;
constexpr int kSensitivity = 1002;
constexpr int kBand = 1011;
/// How far from a point, in palette steps, a click still hits it.
constexpr int kHitDistance = 6;
const QColor kMarkerColor(120, 120, 120);

}  // namespace

PaletteEditorDialog::PaletteEditorDialog(QWidget* owner, AppState& state, Interaction& interaction)
    : QDialog(owner), state_(state), interaction_(interaction) {
    const DialogLayout layout(*this, QStringLiteral("Color palette"), 20, 50, 513, 116);

    auto* help = layout.place(new QGroupBox(QStringLiteral("Color Points Control"), this), 0, 7, 5, 323, 26);
    const struct {
        const char* text;
        int x, width;
    } helpLines[] = {{"Move:   Click+Drag", 14, 66},
                     {"Insert:  Shift+Click", 93, 66},
                     {"Delete:  Ctrl+Click", 174, 61},
                     {"Define Color: Right Click", 245, 78}};
    for (const auto& line : helpLines) {
        auto* text = new QLabel(QString::fromLatin1(line.text), help);
        text->setGeometry(layout.pixels(line.x - 7, 16 - 5, line.width, 8));
    }
    layout.place(new QLabel(QStringLiteral("Color Sensitivity :"), this), 0, 373, 17, 57, 8);
    sensitivity_ = DialogLayout::tallEnough(layout.place(new QLineEdit(this), kSensitivity, 431, 16, 66, 12), true);

    band_ = layout.place(new GraphControl(this), kBand, 7, 38, 500, 49);
    band_->paint = [this](QPainter& painter) { paintBand(painter); };
    band_->mouse = [this](QMouseEvent* event, QPoint position) { mouse(event, position); };

    QCheckBox* rounded = placeCheckBox(layout, *this, kRounded, QStringLiteral("Rounded / Linear"), 7, 94, 71, 10);
    QCheckBox* usePalette = placeCheckBox(layout, *this, kUsePalette,
                                          QStringLiteral("Use this palette instead of that of QVB files"), 206, 96,
                                          153, 10);
    QPushButton* save = placeButton(layout, *this, kSave, QStringLiteral("Save"), 378, 99);
    save->setDefault(true);
    QPushButton* cancel = placeButton(layout, *this, kCancel, QStringLiteral("Cancel"), 435, 99);

    Palette& palette = state_.palette;
    if (const auto file = folderSettingsFile(state_.keyframes, kPaletteFileName); !file.empty()) {
        loadPalette(file, palette);
    }
    // The sensitivity shown is the one just read: Save writes the field back into the file.
    showNumber(*sensitivity_, "%lf", palette.colorSensitivity);
    usePalette->setChecked(palette.usePalette != 0);
    rounded->setChecked(palette.roundedInterpolation != 0);
    useDefaultPaletteIfTooShort(palette);
    expandPalette(palette, state_.colorTable);

    connect(usePalette, &QCheckBox::toggled, this, [this](bool on) { state_.palette.usePalette = on ? 1 : 0; });
    connect(rounded, &QCheckBox::toggled, this, [this](bool on) {
        state_.palette.roundedInterpolation = on ? 1 : 0;
        expandAndShow();
    });
    connect(save, &QPushButton::clicked, this, &PaletteEditorDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PaletteEditorDialog::reject);
}

void PaletteEditorDialog::accept() {
    Palette& palette = state_.palette;
    readNumber(*sensitivity_, palette.colorSensitivity);
    if (!saveInFolder(*this, interaction_, state_.keyframes, kPaletteFileName,
                      [&](const std::filesystem::path& file) { return savePalette(file, palette); })) {
        return;
    }
    done(kSave);
}

void PaletteEditorDialog::reject() { done(kCancel); }

bool PaletteEditorDialog::inside(QPoint mouse) const {
    const QRect r = band_->geometry();
    return r.left() < mouse.x() && mouse.x() < r.left() + r.width() && r.top() < mouse.y() &&
           mouse.y() < r.top() + r.height();
}

int PaletteEditorDialog::positionAt(int mx) const {
    return ((mx - band_->x() - 2) * kColorTableSize) / (band_->width() - 4);
}

int PaletteEditorDialog::hitPoint(int a) const {
    const std::vector<ColorPoint>& points = state_.palette.points;
    const int count = static_cast<int>(points.size());
    if (count == 0) return -1;
    const int c = a + 3;
    int k = 0;
    if (c > points.back().position) {
        k = count - 1;
    } else {
        for (int i = 0; i + 1 < count; ++i) {
            if (points[i].position <= c && c < points[i + 1].position) {
                k = i;
                break;
            }
        }
    }
    return std::abs(points[k].position - a) <= kHitDistance ? k : -1;
}

void PaletteEditorDialog::paintBand(QPainter& painter) const {
    const int w = band_->width();
    const int h = band_->height();
    const int n = w - 4;
    if (n <= 0) return;
    // One column per pixel, each the table entry under it; the bottom row of the client area stays blank.
    for (int i = 0; i < n; ++i) {
        const TableColor& entry = state_.colorTable.entries[static_cast<std::size_t>((kColorTableSize * i) / n)];
        painter.fillRect(i, 0, 1, h - 5, QColor(entry.red, entry.green, entry.blue));
    }
    const int y = (h - 4) / 2;
    painter.fillRect(0, y, n, 1, kMarkerColor);

    const std::vector<ColorPoint>& points = state_.palette.points;
    if (points.empty()) return;
    // The end points sit at the band's edges wherever they lie on the axis.
    painter.fillRect(0, y - 3, 3, 6, kMarkerColor);
    painter.fillRect(w - 7, y - 3, n - (w - 7), 6, kMarkerColor);
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        const int sx = n * points[i].position / kColorTableSize;
        painter.fillRect(sx - 3, y - 3, 6, 6, kMarkerColor);
    }
}

void PaletteEditorDialog::mouse(QMouseEvent* event, QPoint position) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (event->button() == Qt::LeftButton) dragged_ = -1;
        return;
    }
    if (!inside(position)) return;
    const int a = positionAt(position.x());
    Palette& palette = state_.palette;
    if (event->type() == QEvent::MouseMove) {
        if (dragged_ < 0) return;
        const int k = dragged_;
        // Only interior points move, and only strictly between their neighbours; the first and last stay put.
        if (0 < k && k < palette.count() - 1 && palette.points[k - 1].position < a &&
            a < palette.points[k + 1].position) {
            palette.points[k].position = a;
        }
        expandAndShow();
        return;
    }
    if (event->type() != QEvent::MouseButtonPress) return;
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const bool control = event->modifiers().testFlag(Qt::ControlModifier);
    if (event->button() == Qt::RightButton) {
        if (const int hit = hitPoint(a); hit >= 0) defineColor(hit);
        return;
    }
    if (event->button() != Qt::LeftButton || (shift && control)) return;
    if (shift) {
        // The new point takes the colour the band already shows there, so nothing needs expanding.
        if (insertColorPoint(palette, state_.colorTable, a)) band_->update();
        return;
    }
    const int hit = hitPoint(a);
    if (hit < 0) return;
    if (control) {
        removeColorPoint(palette, hit);
        expandAndShow();
        return;
    }
    dragged_ = hit;
}

void PaletteEditorDialog::defineColor(int point) {
    const ColorPoint& shown = state_.palette.points[static_cast<std::size_t>(point)];
    const std::optional<QColor> chosen = interaction_.chooseColor(this, QColor(shown.red, shown.green, shown.blue));
    if (!chosen || !chosen->isValid() || point >= state_.palette.count()) return;
    const QColor rgb = chosen->toRgb();
    ColorPoint& p = state_.palette.points[static_cast<std::size_t>(point)];
    p.red = static_cast<std::uint8_t>(rgb.red());
    p.green = static_cast<std::uint8_t>(rgb.green());
    p.blue = static_cast<std::uint8_t>(rgb.blue());
    expandAndShow();
}

void PaletteEditorDialog::expandAndShow() {
    expandPalette(state_.palette, state_.colorTable);
    band_->update();
}

}  // namespace zoomreel::app
