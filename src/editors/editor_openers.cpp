#include "editors/editor_openers.h"

#include "app/main_window.h"
#include "editors/accelerate_dialog.h"
#include "editors/palette_editor.h"
#include "editors/relief_3d_dialogs.h"
#include "editors/setup_editors.h"

namespace zoomreel::app {

namespace {
template <typename Dialog>
EditorOpener opener() {
    return [](QWidget* owner, AppState& state, Interaction& interaction) {
        Dialog dialog(owner, state, interaction);
        interaction.runDialog(dialog);
    };
}
}  // namespace

EditorOpeners editorOpeners() {
    return {{kSpeedSetup, opener<SpeedSetupDialog>()},  {kColorSetup, opener<ColorSetupDialog>()},
            {kAccelerate, opener<AccelerateDialog>()},  {kColorPalette, opener<PaletteEditorDialog>()},
            {kRelief, opener<ReliefDialog>()},          {k3D, opener<Projection3DDialog>()}};
}

}  // namespace zoomreel::app
