#pragma once
// The Sound Parameters dialog: the colour element read as sound, the sound
// corrections, and how the sound is delivered (archival quality, bit depth,
// sample rate).

#include "soundtrack/sound_delivery.h"
#include "ui/option_dialog.h"

#include <cstddef>

class QCheckBox;
class QComboBox;

namespace veltrana::ui {

// What the dialog keeps between openings; the defaults are the program's.
struct SoundParameterValues {
    int colorElementIndex = 2; // "R"; the ColorElement of the same value
    int removeDc = 1;
    int crossfade = 1;
    int inverse = 0;
    bool cutByAnalysis = false;
    // "Archival quality": levels without steps at the joins and joins found
    // to a fraction of a row
    bool archival = false;
    int bitDepthIndex = 0;   // into kBitDepths
    int sampleRateIndex = 0; // into kSampleRates
};

// The bit depths and the sample rates the lists offer, in their order; a rate
// of 0 is the film's own (film speed times frame pitch).
inline constexpr int kBitDepths[] = {8, 16, 24};
inline constexpr int kSampleRates[] = {0, 44100, 48000, 96000};

// The place of a value in a list.
template <std::size_t N> constexpr int indexIn(const int (&values)[N], int value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i] == value) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

// What ticking "Archival quality" puts into the lists: the core's archival
// preset, 24 bits at 48000 Hz.
inline constexpr int kArchivalBitDepthIndex =
    indexIn(kBitDepths, kArchivalSoundFormat.bitsPerSample);
inline constexpr int kArchivalSampleRateIndex =
    indexIn(kSampleRates, kArchivalSoundFormat.outputRate);
// What clearing it puts back: the standard delivery, 8 bits at the film's rate.
inline constexpr int kStandardBitDepthIndex = indexIn(kBitDepths, SoundFormat{}.bitsPerSample);
inline constexpr int kStandardSampleRateIndex = indexIn(kSampleRates, SoundFormat{}.outputRate);

// Each opening shows the stored values; "Ok" stores all of them, while
// "Cancel", Escape and Enter (outside a push button) store nothing.
class SoundParameters : public OptionDialog {
    Q_OBJECT

public:
    explicit SoundParameters(QWidget* parent = nullptr);

    const SoundParameterValues& values() const { return stored; }
    void setValues(const SoundParameterValues& values) { stored = values; }

private:
    void DoDataExchange() override;
    void OnOkButton();
    void OnArchival();

    SoundParameterValues stored;

    QComboBox* colorElementList;
    QCheckBox* crossfadeBox;
    QCheckBox* inverseBox;
    QCheckBox* cutByAnalysisBox;
    QCheckBox* removeDcBox;
    QCheckBox* archivalBox;
    QComboBox* bitDepthList;
    QComboBox* sampleRateList;
};

} // namespace veltrana::ui
