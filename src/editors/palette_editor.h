#pragma once

// "Color palette" (dialog 136): the user palette as a colour band with a marker per colour point, edited with the
// mouse, with its interpolation, its "use instead of the maps' palette" switch and the colour sensitivity.

#include <QDialog>

#include "app/app_state.h"
#include "app/interaction.h"

class QCheckBox;
class QLineEdit;
class QPainter;

namespace zoomreel::app {

class GraphControl;

/// Edits the program's palette and colour table in place; they are loaded from "palette.qvs" as the editor
/// opens (the default palette when the file gives fewer than two points). "Save" (and Return) takes the
/// sensitivity (a text that is not a number keeps it), writes "palette.qvs" and closes with 1; a file that
/// cannot be written is shown with its reason and the editor stays open. "Cancel" (and Escape) closes with 2:
/// the edits stay in memory, but every user of the palette reads the file again first. Before any folder has
/// been chosen there is no file: the palette is edited in memory only.
class PaletteEditorDialog : public QDialog {
public:
    PaletteEditorDialog(QWidget* owner, AppState& state, Interaction& interaction);

    void accept() override;
    void reject() override;

    /// The band control (1011), whose geometry the mouse mapping uses.
    GraphControl* band() const { return band_; }
    /// The palette position under a point of the dialog, and whether the point lies inside the band.
    int positionAt(int mx) const;
    bool inside(QPoint mouse) const;
    /// The colour point a click at palette position `a` hits, or -1.
    int hitPoint(int a) const;

private:
    void paintBand(QPainter& painter) const;
    void mouse(QMouseEvent* event, QPoint position);
    void defineColor(int point);
    /// The table is built again from the points and the band shows it.
    void expandAndShow();

    AppState& state_;
    Interaction& interaction_;
    GraphControl* band_ = nullptr;
    QLineEdit* sensitivity_ = nullptr;
    int dragged_ = -1;
};

}  // namespace zoomreel::app
