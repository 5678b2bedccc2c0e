#pragma once
// What the three option dialogs of the main window (Film, Sound and Movie
// Parameters) have in common.

#include <QDialog>

class QKeyEvent;

namespace veltrana::ui {

// Each opening (show or exec) first puts the stored values into the
// controls, so a dialog closed without "OK" shows the stored values again.
class OptionDialog : public QDialog {
    Q_OBJECT

public:
    // What Enter does outside a push button: "OK" through the default button
    // (Movie Parameters), or close and store nothing (Film and Sound
    // Parameters, which have no default button; see dialog_keys.h).
    enum class Enter { PressesOk, StoresNothing };

    OptionDialog(QWidget* parent, Enter enter);

    void setVisible(bool visible) override;

protected:
    // Puts the stored values into the controls.
    virtual void DoDataExchange() = 0;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Enter enter;
};

} // namespace veltrana::ui
