#pragma once

// What the settings dialogs share: numbers shown in edit fields with a printf format and read back as "%lf" or
// "%d" read them, and the "mm:ss.hh" durations of the speed readouts.

#include <QDialog>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "keyframes/keyframe_list.h"
#include "platform/status.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace zoomreel::app {

class DialogLayout;
class Interaction;

/// Shows `value` in `edit` with `format` ("%5.2lf", "%d", ...) and remembers it with the text, so that a field the
/// user has left alone gives the exact value back rather than the rounded text.
void showNumber(QLineEdit& edit, const char* format, double value);
void showNumber(QLineEdit& edit, std::int32_t value);

/// Reads `edit` into `value` from at most 50 characters, always with a decimal point: the leading number is
/// taken, and a text that is not a number leaves `value` as it was. Returns false for such a text.
bool readNumber(const QLineEdit& edit, double& value);
bool readNumber(const QLineEdit& edit, std::int32_t& value);
/// Whether the text of a field filled by showNumber differs from what was shown.
bool fieldEdited(const QLineEdit& edit);

/// "mm:ss.hh" of `frames` at `fps` frames per second, the hundredths truncated.
QString durationText(int frames, int fps);

/// The file `fileName` among the opened folder's settings; empty while no folder has been chosen, when the
/// dialogs work on the values in memory only.
std::filesystem::path folderSettingsFile(const KeyframeList& list, std::string_view fileName);

/// Writes the folder's settings file `fileName` with `save`; true when that worked or no folder has been chosen.
/// A failure is shown with its reason, owned by `dialog`, which then stays open.
bool saveInFolder(QDialog& dialog, Interaction& interaction, const KeyframeList& list, std::string_view fileName,
                  const std::function<Status(const std::filesystem::path& file)>& save);

/// A check box at its rectangle, grown to the height this platform draws it.
QCheckBox* placeCheckBox(const DialogLayout& layout, QWidget& parent, int id, const QString& text, int x, int y,
                         int width, int height);
/// A push button of 50 x 14 units that Return does not press unless it is the dialog's default.
QPushButton* placeButton(const DialogLayout& layout, QDialog& dialog, int id, const QString& text, int x, int y);

}  // namespace zoomreel::app
