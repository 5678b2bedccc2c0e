#include "ui/option_dialog.h"

#include "ui/dialog_keys.h"

#include <QKeyEvent>

namespace veltrana::ui {

OptionDialog::OptionDialog(QWidget* parent, Enter enter) : QDialog(parent), enter(enter) {}

void OptionDialog::setVisible(bool visible) {
    if (visible && !isVisible()) {
        DoDataExchange();
    }
    QDialog::setVisible(visible);
}

void OptionDialog::keyPressEvent(QKeyEvent* event) {
    if (enter == Enter::StoresNothing && handleEnterWithoutDefaultButton(*this, *event)) {
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace veltrana::ui
