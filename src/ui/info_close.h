#pragma once
// The Info box: what the program is, and a "Close" button.

#include <QDialog>

namespace veltrana::ui {

class InfoClose : public QDialog {
    Q_OBJECT

public:
    explicit InfoClose(QWidget* parent = nullptr);

    // The label's text: the program, its version and what it does.
    static QString aboutText();
};

} // namespace veltrana::ui
