#pragma once

// An Interaction that answers from a script: the tests say beforehand how every message box, dialog, chooser
// and pop-up menu is to be answered, and read afterwards what was shown.

#include <QAction>
#include <QDialog>
#include <QMenu>

#include <deque>
#include <functional>
#include <vector>

#include "app/interaction.h"

namespace zoomreel::app::test {

struct ShownMessage {
    QString caption;
    QString text;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
};

class ScriptedInteraction final : public Interaction {
public:
    /// Answers to the coming message boxes, in order; a box beyond them is answered with OK.
    std::deque<BoxAnswer> answers;
    std::vector<ShownMessage> messages;

    /// Handlers of the coming modal dialogs, in order: each drives the real dialog (fills its controls, clicks
    /// its buttons) and returns the result code. A dialog without a handler is rejected and counted.
    std::deque<std::function<int(QDialog&)>> dialogs;
    std::vector<QString> dialogTitles;
    int unexpectedDialogs = 0;
    /// The next dialog driven by `handler`; its result is what the controls the handler used left.
    void drive(std::function<void(QDialog&)> handler) {
        dialogs.push_back([handler = std::move(handler)](QDialog& dialog) { return handler(dialog), dialog.result(); });
    }
    void acceptNext() { drive([](QDialog& dialog) { dialog.accept(); }); }

    std::deque<QString> folders;            ///< folder browser answers; empty text: cancelled
    std::vector<QString> folderTitles;
    std::deque<std::optional<QFont>> fonts;
    std::deque<std::optional<QColor>> colors;
    std::deque<QString> programs;
    std::deque<QString> soundFiles;
    std::deque<QString> menuChoices;        ///< the text of the item to choose; empty text: the menu is closed
    std::vector<QStringList> menusShown;

    BoxAnswer message(QWidget*, const QString& caption, const QString& text, BoxIcon icon,
                      BoxButtons buttons) override {
        messages.push_back({caption, text, icon, buttons});
        return take(answers, BoxAnswer::Ok);
    }

    int runDialog(QDialog& dialog) override {
        dialogTitles.push_back(dialog.windowTitle());
        const auto handler = take(dialogs);
        if (!handler) return ++unexpectedDialogs, int(QDialog::Rejected);
        dialog.show();
        const int code = handler(dialog);
        dialog.hide();
        return code;
    }

    QString chooseFolder(QWidget*, const QString& title) override { return folderTitles.push_back(title), take(folders); }
    std::optional<QFont> chooseFont(QWidget*, const QFont&) override { return take(fonts); }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override { return take(colors); }
    QString chooseProgram(QWidget*) override { return take(programs); }
    QString chooseSoundFile(QWidget*) override { return take(soundFiles); }

    QAction* popUp(QMenu& menu, const QPoint&) override {
        QStringList items;
        for (QAction* action : menu.actions()) items << action->text();
        menusShown.push_back(items);
        const QString wanted = take(menuChoices);
        for (QAction* action : menu.actions()) {
            if (!wanted.isEmpty() && action->text() == wanted) return action;
        }
        return nullptr;
    }

private:
    /// The next scripted answer, or `none` when the script has run out.
    template <typename T>
    static T take(std::deque<T>& queue, T none = {}) {
        if (queue.empty()) return none;
        T value = std::move(queue.front());
        return queue.pop_front(), value;
    }
};

}  // namespace zoomreel::app::test
