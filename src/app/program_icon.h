#pragma once

#include <QIcon>

namespace zoomreel::app {

/// The program's icon: frames nested ever smaller towards a point, as a zoom sees them. Drawn, not loaded, so
/// that the program carries no image files.
QIcon programIcon();

}  // namespace zoomreel::app
