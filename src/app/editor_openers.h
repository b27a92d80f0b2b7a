#pragma once

// The setup editors and the settings dialogs, as the main window opens them. They are built on the shell (its
// state, interaction and dialog layout), so the shell does not name them: the program hands the main window one
// opener per menu command.

#include <functional>
#include <map>

class QWidget;

namespace zoomreel::app {

struct AppState;
class Interaction;

/// Opens one editor, modal, over `owner`, and returns when it is closed.
using EditorOpener = std::function<void(QWidget* owner, AppState& state, Interaction& interaction)>;

/// The openers by menu command; a command without one opens nothing.
using EditorOpeners = std::map<int, EditorOpener>;

}  // namespace zoomreel::app
