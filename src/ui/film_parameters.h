#pragma once
// The Film Parameters dialog: film standard, film speed, long strip, scan
// resolution and frame rotation.

#include "job/film_speed.h"
#include "ui/option_dialog.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace veltrana::ui {

// The film speeds of the list, in its order: 24 and 25 first, as they always
// were, then the other rates film was shot at (23.976 and 29.97 are the
// 1000/1001 rates).
inline constexpr const char* kFilmSpeeds[] = {"24",    "25", "16", "18", "20",    "22", "23.976",
                                              "29.97", "30", "48", "50", "59.94", "60"};

// The film speed of a list index (25 for one out of range).
FilmSpeed filmSpeedOfIndex(int index);

// What the dialog keeps between openings; the defaults are the program's.
struct FilmParameterValues {
    int soundtrackTypeIndex = 0; // "35mm variable area"; the SoundtrackType is this + 1
    int filmSpeedIndex = 1;      // "25": kFilmSpeeds[index] frames per second
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
