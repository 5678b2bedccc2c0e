#pragma once
// The Movie Parameters dialog: options of the make-film job.

#include "ui/option_dialog.h"

#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace veltrana::ui {

// What the dialog keeps between openings; the defaults are the program's.
// cutSoundtrack, withSound and the advance reach the make-film job: the
// movie is always 640 x 480 at a fixed codec, so the size and the
// compression are kept and shown but have no effect.
struct MovieParameterValues {
    QString newSizeText = QStringLiteral("100"); // percent, digits only
    int compressionIndex = 0;                    // "none"
    int cutSoundtrack = 0;
    // the movie with its sound, read as Sound Parameters say
    int withSound = 0;
    QString advanceText; // frames, digits only; empty: the film's (20 on 35 mm, 26 on 16 mm)
};

// Each opening shows the stored values; "OK" and Enter store all of them,
// while "Cancel", Escape and the close box store nothing.
class MovieParameters : public OptionDialog {
    Q_OBJECT

public:
    explicit MovieParameters(QWidget* parent = nullptr);

    const MovieParameterValues& values() const { return stored; }
    void setValues(const MovieParameterValues& values) { stored = values; }

private:
    void DoDataExchange() override;
    void OnOkButton();

    MovieParameterValues stored;

    QLineEdit* newSizeEdit;
    QComboBox* compressionList;
    QCheckBox* cutSoundtrackBox;
    QCheckBox* withSoundBox;
    QLineEdit* advanceEdit;
};

} // namespace veltrana::ui
