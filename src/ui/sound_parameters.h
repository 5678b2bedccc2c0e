#pragma once
// The Sound Parameters dialog: the colour element read as sound and the sound
// corrections.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QKeyEvent;

namespace veltrana::ui {

// What the dialog keeps between openings; the defaults are the program's.
struct SoundParameterValues {
    int colorElementIndex = 2; // "R"; the ColorElement of the same value
    int removeDc = 1;
    int crossfade = 1;
    int inverse = 0;
    bool cutByAnalysis = false;
};

// Each opening shows the stored values; "Ok" stores all of them, while
// "Cancel", Escape and Enter (outside a push button) store nothing.
class SoundParameters : public QDialog {
    Q_OBJECT

public:
    explicit SoundParameters(QWidget* parent = nullptr);

    const SoundParameterValues& values() const { return stored; }
    void setValues(const SoundParameterValues& values) { stored = values; }

    // Opening (show or exec) first puts the stored values into the controls.
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void DoDataExchange();
    void OnOkButton();

    SoundParameterValues stored;

    QComboBox* colorElementList;
    QCheckBox* crossfadeBox;
    QCheckBox* inverseBox;
    QCheckBox* cutByAnalysisBox;
    QCheckBox* removeDcBox;
};

} // namespace veltrana::ui
