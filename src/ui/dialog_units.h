#pragma once
// Sizes given in dialog units, the measure the window templates use.
//
// A dialog unit is a quarter of the font's average character width across and
// an eighth of its height down, so a control sized in dialog units keeps its
// proportions to the text at any font. At the templates' 8-point font that is
// about 1.5 pixels across and 1.625 down.

#include <QSize>

class QWidget;

namespace veltrana::ui {

// The pixel size of w x h dialog units at the widget's font.
QSize dialogUnits(const QWidget& widget, int w, int h);

// Gives the widget at least the size of w x h dialog units.
void setMinimumDialogUnits(QWidget& widget, int w, int h);

} // namespace veltrana::ui
