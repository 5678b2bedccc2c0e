#include "ui/dialog_units.h"

#include <QFontMetricsF>
#include <QWidget>

#include <cmath>

namespace veltrana::ui {

QSize dialogUnits(const QWidget& widget, int w, int h) {
    const QFontMetricsF metrics(widget.font());
    // the average width of the Latin letters, as the templates' base unit
    const double baseX = metrics.horizontalAdvance(QStringLiteral(
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                         52.0;
    const double baseY = metrics.height();
    return {static_cast<int>(std::lround(w * baseX / 4.0)),
            static_cast<int>(std::lround(h * baseY / 8.0))};
}

void setMinimumDialogUnits(QWidget& widget, int w, int h) {
    const QSize size = dialogUnits(widget, w, h);
    widget.setMinimumSize(widget.minimumSizeHint().expandedTo(size));
}

} // namespace veltrana::ui
