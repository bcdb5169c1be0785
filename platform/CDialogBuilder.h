#pragma once

#include <QHash>
#include <QWidget>

#include "res/Resources.h"

class QDialog;

namespace platform {

// Turns dialog units into pixels from the dialog's font: horizontally a
// quarter of the font's average character width, vertically an eighth of its
// height.
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int cx, int cy);

// Builds a dialog's controls from its template: sets title, font, fixed size
// and window flags (no close box where the template has none), creates each
// control at its place and returns them by control id. Controls without an id
// are created but not returned.
QHash<int, QWidget*> BuildDialog(QDialog& dialog, const res::DialogTemplate& tmpl);

// Centres a dialog over its owner, or over the screen's work area when there
// is no visible, non-minimised owner, keeping it inside the work area.
void CentreOverOwner(QWidget& dialog);

}  // namespace platform
