#include "editors/dialog_fields.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVariant>

#include <algorithm>
#include <string>

#include "app/dialog_layout.h"
#include "app/interaction.h"
#include "platform/text_scan.h"
#include "settings/settings_file.h"

namespace zoomreel::app {
namespace {

constexpr qsizetype kMaxNumberCharacters = 50;
constexpr char kShownText[] = "zoomreelShownText";
constexpr char kShownValue[] = "zoomreelShownValue";

void remember(QLineEdit& edit, const QString& text, const QVariant& value) {
    edit.setText(text);
    edit.setProperty(kShownText, text);
    edit.setProperty(kShownValue, value);
}

/// The value the field showed, when its text is still the one shown.
template <typename T>
bool unchanged(const QLineEdit& edit, T& value) {
    const QVariant shown = edit.property(kShownValue);
    if (!shown.isValid() || edit.text() != edit.property(kShownText).toString()) return false;
    value = shown.value<T>();
    return true;
}

template <typename T>
bool scan(const QLineEdit& edit, T& value) {
    if (unchanged(edit, value)) return true;
    return scanNumber(edit.text().left(kMaxNumberCharacters).toStdString(), value);
}

}  // namespace

void showNumber(QLineEdit& edit, const char* format, double value) {
    remember(edit, QString::asprintf(format, value), value);
}

void showNumber(QLineEdit& edit, std::int32_t value) { remember(edit, QString::asprintf("%d", value), value); }

bool readNumber(const QLineEdit& edit, double& value) { return scan(edit, value); }
bool readNumber(const QLineEdit& edit, std::int32_t& value) { return scan(edit, value); }

bool fieldEdited(const QLineEdit& edit) {
    double shown = 0;
    return !unchanged(edit, shown);
}

QString durationText(int frames, int fps) {
    const double seconds = static_cast<double>(frames) / std::max(fps, 1);
    const int whole = static_cast<int>(seconds);
    return QString::asprintf("%02d:%02d.%02d", whole / 60, whole % 60, static_cast<int>((seconds - whole) * 100));
}

std::filesystem::path folderSettingsFile(const KeyframeList& list, std::string_view fileName) {
    if (list.folder.empty()) return {};
    return settingsFilePath(list, fileName);
}

bool saveInFolder(QDialog& dialog, Interaction& interaction, const KeyframeList& list, std::string_view fileName,
                  const std::function<Status(const std::filesystem::path& file)>& save) {
    const std::filesystem::path file = folderSettingsFile(list, fileName);
    if (file.empty()) return true;
    const Status saved = save(file);
    if (!saved) {
        interaction.message(&dialog, kCaption, QString::fromStdString(saved.message), BoxIcon::Error, BoxButtons::Ok);
    }
    return saved.ok;
}

QCheckBox* placeCheckBox(const DialogLayout& layout, QWidget& parent, int id, const QString& text, int x, int y,
                         int width, int height) {
    return DialogLayout::tallEnough(layout.place(new QCheckBox(text, &parent), id, x, y, width, height));
}

QPushButton* placeButton(const DialogLayout& layout, QDialog& dialog, int id, const QString& text, int x, int y) {
    auto* button = layout.place(new QPushButton(text, &dialog), id, x, y, 50, 14);
    button->setAutoDefault(false);
    return button;
}

}  // namespace zoomreel::app
