#pragma once

// Every place where the desktop program waits for the user in a modal loop of its own (message boxes, dialogs,
// the platform's choosers, pop-up menus) goes through an Interaction. The program uses ModalInteraction; tests
// install one that answers from a script, so that they drive the real windows without a person.

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QString>

#include <optional>

class QAction;
class QDialog;
class QMenu;
class QWidget;

namespace zoomreel::app {

enum class BoxIcon { None, Question, Warning, Error, Information };
enum class BoxButtons { Ok, OkCancel };
/// What a message box returns.
enum class BoxAnswer { Ok, Cancel };

class Interaction {
public:
    virtual ~Interaction() = default;

    /// A message box owned by `owner`, with its caption, icon and buttons.
    virtual BoxAnswer message(QWidget* owner, const QString& caption, const QString& text, BoxIcon icon,
                              BoxButtons buttons) = 0;
    /// Runs `dialog` modally and returns its result code.
    virtual int runDialog(QDialog& dialog) = 0;
    /// The folder browser; an empty text when the user cancelled.
    virtual QString chooseFolder(QWidget* owner, const QString& title) = 0;
    virtual std::optional<QFont> chooseFont(QWidget* owner, const QFont& initial) = 0;
    virtual std::optional<QColor> chooseColor(QWidget* owner, const QColor& initial) = 0;
    /// A program to run; an empty text when the user cancelled.
    virtual QString chooseProgram(QWidget* owner) = 0;
    /// A sound file for the movie's soundtrack; an empty text when the user cancelled.
    virtual QString chooseSoundFile(QWidget* owner) = 0;
    /// Shows `menu` at `globalPosition` and returns the item chosen, or nullptr.
    virtual QAction* popUp(QMenu& menu, const QPoint& globalPosition) = 0;
};

/// The real thing: Qt's message boxes, dialogs and choosers, each in its own modal loop.
class ModalInteraction final : public Interaction {
public:
    BoxAnswer message(QWidget* owner, const QString& caption, const QString& text, BoxIcon icon,
                      BoxButtons buttons) override;
    int runDialog(QDialog& dialog) override;
    QString chooseFolder(QWidget* owner, const QString& title) override;
    std::optional<QFont> chooseFont(QWidget* owner, const QFont& initial) override;
    std::optional<QColor> chooseColor(QWidget* owner, const QColor& initial) override;
    QString chooseProgram(QWidget* owner) override;
    QString chooseSoundFile(QWidget* owner) override;
    QAction* popUp(QMenu& menu, const QPoint& globalPosition) override;
};

/// The caption of the program's message boxes.
inline const QString kCaption = QStringLiteral("Zoomreel");
/// The warning of the commands that work on the selected keyframes when none are selected.
inline const QString kSelectKeyframesText =
    QStringLiteral("You have to select key frames!\nClick to Select First.\nShift+Click to Select Last");

}  // namespace zoomreel::app
