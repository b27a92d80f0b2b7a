#pragma once

// What the speed and colour setup editors share: the graph of one key-point curve over the selection with its
// mouse gestures, zoom, scrolling, coordinate readout and keyframe thumbnails, the live preview and the preview
// video, Save and Cancel, undo, and the "Suggest" button that replaces the curve over the selection by one proposed
// from what the keyframes hold.

#include <QDialog>

#include <memory>
#include <optional>
#include <vector>

#include "app/app_state.h"
#include "app/dialog_layout.h"
#include "app/interaction.h"
#include "editors/curve_graph.h"
#include "editors/preview_host.h"
#include "keyframes/keyframe_measures.h"
#include "output/beat_analysis.h"
#include "output/preview.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QSlider;

namespace zoomreel::app {

/// The curves an editor holds, by their place in the preview setup.
enum class EditedCurve { Speed = 0, ColorDivisor = 1, ColorAdd = 2, ColorRotate = 3 };
KeyPointCurve& curveOf(PreviewSetup& setup, EditedCurve curve);
const KeyPointCurve& curveOf(const PreviewSetup& setup, EditedCurve curve);

class CurveEditor : public QDialog {
public:
    ~CurveEditor() override;

    /// "Save": writes the editor's files and closes with 1; a file that cannot be written is shown with its
    /// reason and the editor stays open. Refused while a preview video runs.
    void accept() override;
    /// "Cancel", Escape and the close button: closes with 2, writing nothing. Refused while a preview video runs.
    void reject() override;

    /// Undoes or redoes the last point edit (an insertion, a deletion, a whole drag, a copied value).
    void undo();
    void redo();

    const GraphView& view() const { return view_; }
    const PreviewSource& source() const { return source_; }
    PreviewHost* preview() const { return preview_.get(); }
    GraphControl* graph() const { return graph_; }
    /// The keyframe positions of the soundtrack's beats as the movie reaches them, from beat 0.
    const std::vector<double>& beatMarks() const { return beatMarks_; }

protected:
    /// Lays the dialog out in dialog units at (0, 50) of its owner and builds the controls both editors have.
    CurveEditor(QWidget* owner, AppState& state, Interaction& interaction, const QString& title, int widthUnits,
                bool& x10Memory);

    /// Fills the preview setup from the program's records and the folder's files (palette and colours, the
    /// curves with their defaults, the subtraction), opens the preview window and starts the frame preview.
    void open(const std::function<void(PreviewSetup& setup)>& loadCurves);

    /// The curve the graph shows and the mouse edits.
    void setEdited(EditedCurve curve, GraphAxis axis);
    EditedCurve edited() const { return edited_; }
    const KeyPointCurve& editedCurve() const { return curveOf(source_.current(), edited_); }

    /// The mouse over the graph, not dragging: the speed editor shows the time readout here.
    virtual void pointerAt(float) {}
    /// Writes the editor's files; a failure's message, or success.
    virtual Status writeFiles() = 0;
    /// An undo or redo changed `curve`: the colour editor shows it.
    virtual void undone(EditedCurve) {}
    /// Repaints the graph and renders the preview again at the last position.
    void refresh();

    /// "Suggest": proposes the edited curve over the selection.
    virtual void suggest() = 0;
    /// Shows a failed status's message and says true; false for success.
    bool refused(const Status& status);
    /// The measures of the selection's keyframes (read where not kept), or nothing after a message.
    std::optional<std::vector<KeyframeMeasures>> selectionMeasures();
    /// Replaces the edited curve as one undo step, the preview shown with it at once.
    void replaceEditedCurve(const KeyPointCurve& curve);

    /// The speed curve the movie walks, which places the beat marks: the colour editor's copy of "speed.qvs".
    virtual const KeyPointCurve& timelineSpeed() const { return source_.current().speed; }
    /// Places the beat marks again after the speed curve changed.
    void updateBeatMarks();
    /// The soundtrack's beats, or nothing after a message saying why there are none.
    const BeatAnalysis* soundtrackBeats();
    /// The beats from the movie's start in the soundtrack.
    std::vector<double> movieBeats() const;
    /// The walk over the selection.
    WalkLimits selectionWalk() const;

    AppState& state_;
    Interaction& interaction_;
    DialogLayout layout_;
    PreviewSource source_;
    GraphView view_;
    QCheckBox* x10_ = nullptr;
    QPushButton* previewButton_ = nullptr;
    QPushButton* suggestButton_ = nullptr;

private:
    void mouse(QMouseEvent* event, QPoint position);
    void moved(QPoint position, Qt::KeyboardModifiers modifiers);
    void analyseSoundtrack();
    void pressed(QMouseEvent* event, QPoint position);
    void released();
    void scrolled(int scroll);
    void zoomed(int zoom);
    void showThumbnails(int first);
    /// Changes the edited curve as one undo step.
    void changeCurve(const std::function<void(KeyPointCurve& curve)>& change);
    void restore(bool redoing);
    void closeWith(int result);
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    struct Step {
        EditedCurve curve;
        KeyPointCurve before;
        KeyPointCurve after;
    };

    bool& x10Memory_;
    EditedCurve edited_ = EditedCurve::Speed;
    std::unique_ptr<PreviewHost> preview_;
    GraphControl* graph_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QSlider* zoomBar_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* thumbnails_[2] = {nullptr, nullptr};
    QFont labelFont_;
    int lastThumbnailKeyframe_ = -1;
    float lastPosition_ = -1;
    int dragged_ = -1;
    bool dragSnaps_ = true;  ///< Alt held when the drag began turns snapping off for it
    std::optional<BeatAnalysis> beats_;
    std::string beatsProblem_;
    std::vector<double> beatMarks_;
    KeyPointCurve dragBefore_;
    std::vector<Step> undoSteps_;
    std::vector<Step> redoSteps_;
};

}  // namespace zoomreel::app
