#pragma once
// The Film Parameters dialog: film standard, film speed, long strip, scan
// resolution and frame rotation.

#include "ui/option_dialog.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace veltrana::ui {

// What the dialog keeps between openings; the defaults are the program's.
struct FilmParameterValues {
    int soundtrackTypeIndex = 0; // "35mm variable area"; the SoundtrackType is this + 1
    int filmSpeedIndex = 1;      // "25"; frames per second are this + 24
    int longStrip = 0;
    int manualResolution = 0;
    bool rotationUp = true;  // frame rotation "UP" (soundtrack at the top of the scan)
    QString resolutionXText; // dots per inch across the film, digits only
    QString resolutionYText; // dots per inch along the film, digits only
};

// Each opening shows the stored values; "Ok" stores all of them, while
// "Cancel", Escape and Enter (outside a push button) store nothing. The frame
// rotation is the exception: it is stored at the click, so Cancel keeps it.
class FilmParameters : public OptionDialog {
    Q_OBJECT

public:
    explicit FilmParameters(QWidget* parent = nullptr);

    const FilmParameterValues& values() const { return stored; }
    void setValues(const FilmParameterValues& values) { stored = values; }

private:
    void DoDataExchange() override;
    void OnOkButton();
    void OnManualResolution();
    void OnRotationUp();
    void OnRotationDown();
    void showResolutionControls(bool shown);

    FilmParameterValues stored;

    QComboBox* soundtrackTypeList;
    QComboBox* filmSpeedList;
    QCheckBox* longStripBox;
    QCheckBox* manualResolutionBox;
    QLineEdit* resolutionXEdit;
    QLineEdit* resolutionYEdit;
    QLabel* resolutionXLabel;
    QLabel* resolutionYLabel;
    QCheckBox* upBox;
    QCheckBox* downBox;
};

} // namespace veltrana::ui
