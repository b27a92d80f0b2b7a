#include "app/interaction.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMenu>
#include <QMessageBox>

namespace zoomreel::app {

namespace {

QMessageBox::Icon boxIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Question: return QMessageBox::Question;
        case BoxIcon::Warning: return QMessageBox::Warning;
        case BoxIcon::Error: return QMessageBox::Critical;
        case BoxIcon::Information: return QMessageBox::Information;
        case BoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

BoxAnswer ModalInteraction::message(QWidget* owner, const QString& caption, const QString& text, BoxIcon icon,
                                    BoxButtons buttons) {
    QMessageBox box(boxIcon(icon), caption, text,
                    buttons == BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, owner);
    return box.exec() == QMessageBox::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
}

int ModalInteraction::runDialog(QDialog& dialog) { return dialog.exec(); }

QString ModalInteraction::chooseFolder(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
}

std::optional<QFont> ModalInteraction::chooseFont(QWidget* owner, const QFont& initial) {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, owner);
    if (!ok) return std::nullopt;
    return font;
}

std::optional<QColor> ModalInteraction::chooseColor(QWidget* owner, const QColor& initial) {
    const QColor color = QColorDialog::getColor(initial, owner);
    if (!color.isValid()) return std::nullopt;
    return color;
}

QString ModalInteraction::chooseProgram(QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Programs here carry no extension; the filter lets every file through and the choice must be executable.
    dialog.setNameFilter(QStringLiteral("Executables (*)"));
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

QString ModalInteraction::chooseSoundFile(QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Sound files (*.wav *.flac *.mp3 *.ogg *.oga *.opus *.m4a *.aac *.aif *.aiff "
                                          "*.wma *.mka)"),
                           QStringLiteral("All files (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

QAction* ModalInteraction::popUp(QMenu& menu, const QPoint& globalPosition) { return menu.exec(globalPosition); }

}  // namespace zoomreel::app
