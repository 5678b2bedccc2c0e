#include "ui/sound_parameters.h"

#include "base/kept_texts.h"
#include "ui/dialog_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltrana::ui {

SoundParameters::SoundParameters(QWidget* parent) : OptionDialog(parent, Enter::StoresNothing) {
    setObjectName(QStringLiteral("soundParameters"));
    setWindowTitle(QStringLiteral("Sound Parameters"));
    // a caption bar without a system menu or close box
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    // "Sound Image Parameters": what is read off the strip, and how
    auto* imageGroup = new QGroupBox(QStringLiteral("Sound Image Parameters"), this);
    auto* colorElementLabel = new QLabel(QStringLiteral("Image color element"), imageGroup);
    colorElementList = new QComboBox(imageGroup);
    colorElementList->setObjectName(QStringLiteral("colorElementList"));
    colorElementList->addItems(
        {QStringLiteral("B"), QStringLiteral("G"), QStringLiteral("R"), QStringLiteral("Y")});
    setMinimumDialogUnits(*colorElementList, 48, 12);
    inverseBox = new QCheckBox(QStringLiteral("Inverse"), imageGroup);
    inverseBox->setObjectName(QStringLiteral("inverseBox"));
    cutByAnalysisBox = new QCheckBox(QString::fromLatin1(kept::kCutByAnalysisBox), imageGroup);
    cutByAnalysisBox->setObjectName(QStringLiteral("cutByAnalysisBox"));
    auto* imageLayout = new QGridLayout(imageGroup);
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(colorElementLabel);
    colorRow->addWidget(colorElementList);
    colorRow->addStretch(1);
    imageLayout->addLayout(colorRow, 0, 0, 1, 2);
    imageLayout->addWidget(inverseBox, 1, 0);
    imageLayout->addWidget(cutByAnalysisBox, 1, 1);

    // "Sound Correciton": "-DC" above "Crossfade"
    auto* correctionGroup = new QGroupBox(QStringLiteral("Sound Correciton"), this);
    removeDcBox = new QCheckBox(QStringLiteral("-DC"), correctionGroup);
    removeDcBox->setObjectName(QStringLiteral("removeDcBox"));
    crossfadeBox = new QCheckBox(QStringLiteral("Crossfade"), correctionGroup);
    crossfadeBox->setObjectName(QStringLiteral("crossfadeBox"));
    auto* correctionLayout = new QVBoxLayout(correctionGroup);
    correctionLayout->addWidget(removeDcBox);
    correctionLayout->addWidget(crossfadeBox);

    // "Delivery", beneath the two: what the WAV file is. Its defaults give the
    // standard 8-bit sound at the film's rate.
    auto* deliveryGroup = new QGroupBox(QStringLiteral("Delivery"), this);
    archivalBox = new QCheckBox(QStringLiteral("Archival quality"), deliveryGroup);
    archivalBox->setObjectName(QStringLiteral("archivalBox"));
    auto* bitDepthLabel = new QLabel(QStringLiteral("Bits per sample"), deliveryGroup);
    bitDepthList = new QComboBox(deliveryGroup);
    bitDepthList->setObjectName(QStringLiteral("bitDepthList"));
    for (const int bits : kBitDepths) {
        bitDepthList->addItem(QString::number(bits));
    }
    bitDepthLabel->setBuddy(bitDepthList);
    auto* sampleRateLabel = new QLabel(QStringLiteral("Sample rate (Hz)"), deliveryGroup);
    sampleRateList = new QComboBox(deliveryGroup);
    sampleRateList->setObjectName(QStringLiteral("sampleRateList"));
    for (const int rate : kSampleRates) {
        sampleRateList->addItem(rate == 0 ? QStringLiteral("film") : QString::number(rate));
    }
    sampleRateLabel->setBuddy(sampleRateList);
    // what each choice does to the file, where a user decides on it
    archivalBox->setToolTip(QStringLiteral(
        "Levels without steps at the joins, and joins found to a fraction of a row; also "
        "writes joins.csv beside the WAV file. Ticking sets 24 bits at 48000 Hz, clearing "
        "restores the standard 8 bits at the film's rate."));
    bitDepthList->setToolTip(QStringLiteral(
        "8 bits is the standard sound; 16 or 24 bits keep the quiet passages' detail."));
    sampleRateList->setToolTip(
        QStringLiteral("\"film\": the film's own rate (film speed times the frame pitch in rows); "
                       "otherwise the sound is resampled to the rate chosen."));
    auto* deliveryLayout = new QHBoxLayout(deliveryGroup);
    deliveryLayout->addWidget(archivalBox);
    deliveryLayout->addStretch(1);
    deliveryLayout->addWidget(bitDepthLabel);
    deliveryLayout->addWidget(bitDepthList);
    deliveryLayout->addSpacing(dialogUnits(*this, 8, 0).width());
    deliveryLayout->addWidget(sampleRateLabel);
    deliveryLayout->addWidget(sampleRateList);

    // "Ok" and "Cancel"; neither is a default button, so Enter elsewhere is
    // not "Ok"
    auto* okButton = new QPushButton(QStringLiteral("Ok"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* button : {okButton, cancelButton}) {
        button->setAutoDefault(false);
        setMinimumDialogUnits(*button, 50, 14);
    }
    auto* buttonLayout = new QHBoxLayout;
    buttonLayout->addStretch(2);
    buttonLayout->addWidget(okButton);
    buttonLayout->addStretch(3);
    buttonLayout->addWidget(cancelButton);
    buttonLayout->addStretch(3);

    auto* layout = new QGridLayout(this);
    layout->addWidget(imageGroup, 0, 0);
    layout->addWidget(correctionGroup, 0, 1);
    layout->addWidget(deliveryGroup, 1, 0, 1, 2);
    layout->addLayout(buttonLayout, 2, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &SoundParameters::OnOkButton);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // a click, not a toggle: the opening's own setChecked must leave the
    // stored lists alone
    connect(archivalBox, &QCheckBox::clicked, this, &SoundParameters::OnArchival);
}

void SoundParameters::DoDataExchange() {
    colorElementList->setCurrentIndex(stored.colorElementIndex);
    removeDcBox->setChecked(stored.removeDc != 0);
    cutByAnalysisBox->setChecked(stored.cutByAnalysis);
    inverseBox->setChecked(stored.inverse != 0);
    crossfadeBox->setChecked(stored.crossfade != 0);
    archivalBox->setChecked(stored.archival);
    bitDepthList->setCurrentIndex(stored.bitDepthIndex);
    sampleRateList->setCurrentIndex(stored.sampleRateIndex);
    colorElementList->setFocus();
}

void SoundParameters::OnOkButton() {
    stored.colorElementIndex = colorElementList->currentIndex();
    stored.removeDc = removeDcBox->isChecked() ? 1 : 0;
    stored.crossfade = crossfadeBox->isChecked() ? 1 : 0;
    stored.inverse = inverseBox->isChecked() ? 1 : 0;
    stored.cutByAnalysis = cutByAnalysisBox->isChecked();
    stored.archival = archivalBox->isChecked();
    stored.bitDepthIndex = bitDepthList->currentIndex();
    stored.sampleRateIndex = sampleRateList->currentIndex();
    accept();
}

// Archival sound is meant for delivery at 24 bits and 48 kHz; the lists take
// those values and stay free to change. Clearing the box restores the
// standard delivery (8 bits at the film's rate), as a user who tried the
// archival sound and went back expects: the lists stay free to change then too.
void SoundParameters::OnArchival() {
    if (archivalBox->isChecked()) {
        bitDepthList->setCurrentIndex(kArchivalBitDepthIndex);
        sampleRateList->setCurrentIndex(kArchivalSampleRateIndex);
    } else {
        bitDepthList->setCurrentIndex(kStandardBitDepthIndex);
        sampleRateList->setCurrentIndex(kStandardSampleRateIndex);
    }
}

} // namespace veltrana::ui
