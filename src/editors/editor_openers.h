#pragma once

#include "app/editor_openers.h"

namespace zoomreel::app {

/// Every editor of the Setup menu by its command: speed, colour, accelerate, palette, relief and 3D.
EditorOpeners editorOpeners();

}  // namespace zoomreel::app
