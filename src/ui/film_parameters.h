#pragma once
// The Film Parameters dialog: film standard, film speed, long strip, scan
// resolution, frame rotation (the edge of the scans the soundtrack runs
// along) and full-aperture scans.

#include "geometry/scan_view.h"
#include "job/film_speed.h"
#include "ui/option_dialog.h"

#include <array>

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
    // frame rotation: "UP" (soundtrack along the top of the scan), "DOWN",
    // "LEFT" (picture upright) or "RIGHT" (upright, scanned from the base side)
    TrackSide trackSide = TrackSide::Top;
    int fullAperture = 0;    // "Full aperture": the scans hold the film's whole width
    QString resolutionXText; // dots per inch across the film, digits only
    QString resolutionYText; // dots per inch along the film, digits only
};

// Each opening shows the stored values; "Ok" stores all of them, while
// "Cancel", Escape and Enter (outside a push button) store nothing. The frame
// rotation is the exception: it is stored at the click, so Cancel keeps it.
// Its four boxes act as one choice, exactly one ticked.
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
    void OnRotation(TrackSide side);
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
    QCheckBox* fullApertureBox;
    // UP, DOWN, LEFT, RIGHT, in TrackSide's order
    std::array<QCheckBox*, 4> rotationBoxes{};
};

} // namespace veltrana::ui
