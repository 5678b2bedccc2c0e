#include "ui/dialog_keys.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace veltrana::ui {

bool handleEnterWithoutDefaultButton(QDialog& dialog, QKeyEvent& event) {
    const bool enter = event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    if (!enter || modifiers != Qt::NoModifier) {
        return false;
    }
    if (auto* button = qobject_cast<QPushButton*>(dialog.focusWidget())) {
        button->click();
    } else {
        dialog.reject();
    }
    return true;
}

} // namespace veltrana::ui
