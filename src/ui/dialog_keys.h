#pragma once
// The Enter key in the option dialogs that have no default button (Film and
// Sound Parameters).
//
// There Enter is not "OK": with a push button in focus it presses that button,
// anywhere else it closes the dialog and stores nothing, like Escape. Qt would
// otherwise make the first push button the default one and let Enter press it.

class QDialog;
class QKeyEvent;

namespace veltrana::ui {

// Handles Enter or Return for such a dialog; true when the key was used.
bool handleEnterWithoutDefaultButton(QDialog& dialog, QKeyEvent& event);

} // namespace veltrana::ui
