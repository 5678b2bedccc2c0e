#include "ui/film_parameters.h"

#include "base/kept_texts.h"
#include "ui/artwork.h"
#include "ui/dialog_units.h"
#include "ui/digit_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltrana::ui {
namespace {

constexpr int kResolutionDigits = 4;

// Hidden resolution controls keep their place, so the dialog does not jump
// when "Manual resolution" is ticked.
void keepPlaceWhenHidden(QWidget& widget) {
    QSizePolicy policy = widget.sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget.setSizePolicy(policy);
}

} // namespace

FilmParameters::FilmParameters(QWidget* parent) : OptionDialog(parent, Enter::StoresNothing) {
    setObjectName(QStringLiteral("filmParameters"));
    setWindowTitle(QStringLiteral("Film Parameters"));
    // a caption bar without a system menu or close box
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    // "Film parameters": the film standard and its speed
    auto* filmGroup = new QGroupBox(QStringLiteral("Film parameters"), this);
    auto* soundtrackTypeLabel = new QLabel(QStringLiteral("Soundtrack type"), filmGroup);
    soundtrackTypeList = new QComboBox(filmGroup);
    soundtrackTypeList->setObjectName(QStringLiteral("soundtrackTypeList"));
    soundtrackTypeList->addItems({QStringLiteral("35mm variable area"),
                                  QStringLiteral("35mm variable density"),
                                  QStringLiteral("16mm variable area")});
    setMinimumDialogUnits(*soundtrackTypeList, 99, 12);
    auto* filmSpeedLabel = new QLabel(QStringLiteral("Film speed"), filmGroup);
    filmSpeedList = new QComboBox(filmGroup);
    filmSpeedList->setObjectName(QStringLiteral("filmSpeedList"));
    for (const char* speed : kFilmSpeeds) {
        filmSpeedList->addItem(QString::fromLatin1(speed));
    }
    setMinimumDialogUnits(*filmSpeedList, 48, 12);
    longStripBox = new QCheckBox(QStringLiteral("Long strip"), filmGroup);
    longStripBox->setObjectName(QStringLiteral("longStripBox"));
    auto* filmLayout = new QGridLayout(filmGroup);
    filmLayout->addWidget(soundtrackTypeLabel, 0, 0);
    filmLayout->addWidget(soundtrackTypeList, 0, 1, 1, 2);
    filmLayout->addWidget(filmSpeedLabel, 1, 0);
    filmLayout->addWidget(filmSpeedList, 1, 1);
    filmLayout->addWidget(longStripBox, 1, 2, Qt::AlignRight);

    // "Frame rotation": UP and DOWN as they always were, then the upright
    // scans' LEFT and RIGHT, each picture above its box
    auto* rotationGroup = new QGroupBox(QStringLiteral("Frame rotation"), this);
    auto* rotationLayout = new QGridLayout(rotationGroup);
    const std::array<const char*, 4> names{"up", "down", "left", "right"};
    const std::array<const char*, 4> texts{"UP", "DOWN", "LEFT", "RIGHT"};
    for (std::size_t i = 0; i < rotationBoxes.size(); ++i) {
        const auto side = static_cast<TrackSide>(i);
        auto* picture = new QLabel(rotationGroup);
        picture->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Picture"));
        picture->setPixmap(trackSidePicture(side));
        QCheckBox* box = new QCheckBox(QString::fromLatin1(texts[i]), rotationGroup);
        box->setObjectName(QString::fromLatin1(names[i]) + QStringLiteral("Box"));
        rotationBoxes[i] = box;
        rotationLayout->addWidget(picture, 0, static_cast<int>(i), Qt::AlignBottom);
        rotationLayout->addWidget(box, 1, static_cast<int>(i));
        connect(box, &QCheckBox::clicked, this, [this, side] { OnRotation(side); });
    }
    fullApertureBox = new QCheckBox(QStringLiteral("Full aperture"), rotationGroup);
    fullApertureBox->setObjectName(QStringLiteral("fullApertureBox"));
    fullApertureBox->setToolTip(
        QStringLiteral("The scans hold the film's whole width, its edges and the dark gate "
                       "beyond: each is read in the standard window found beside the film's edge "
                       "on the soundtrack's side"));
    rotationLayout->addWidget(fullApertureBox, 2, 0, 1, 4);

    // "Resolution": the manual switch, then the two edits with their labels
    auto* resolutionGroup = new QGroupBox(QStringLiteral("Resolution"), this);
    manualResolutionBox = new QCheckBox(QStringLiteral("Manual resolution"), resolutionGroup);
    manualResolutionBox->setObjectName(QStringLiteral("manualResolutionBox"));
    resolutionXLabel = new QLabel(QString::fromLatin1(kept::kResolutionXLabel), resolutionGroup);
    resolutionXLabel->setObjectName(QStringLiteral("resolutionXLabel"));
    resolutionXEdit = new QLineEdit(resolutionGroup);
    resolutionXEdit->setObjectName(QStringLiteral("resolutionXEdit"));
    makeDigitEdit(*resolutionXEdit, kResolutionDigits);
    resolutionXEdit->setFixedWidth(dialogUnits(*resolutionXEdit, 35, 0).width());
    resolutionYLabel = new QLabel(QStringLiteral("Resolution Y:"), resolutionGroup);
    resolutionYLabel->setObjectName(QStringLiteral("resolutionYLabel"));
    resolutionYEdit = new QLineEdit(resolutionGroup);
    resolutionYEdit->setObjectName(QStringLiteral("resolutionYEdit"));
    makeDigitEdit(*resolutionYEdit, kResolutionDigits);
    resolutionYEdit->setFixedWidth(dialogUnits(*resolutionYEdit, 36, 0).width());
    for (QWidget* control :
         {static_cast<QWidget*>(resolutionXLabel), static_cast<QWidget*>(resolutionXEdit),
          static_cast<QWidget*>(resolutionYLabel), static_cast<QWidget*>(resolutionYEdit)}) {
        keepPlaceWhenHidden(*control);
    }
    auto* resolutionLayout = new QHBoxLayout(resolutionGroup);
    resolutionLayout->addWidget(manualResolutionBox);
    resolutionLayout->addStretch(1);
    resolutionLayout->addWidget(resolutionXLabel);
    resolutionLayout->addWidget(resolutionXEdit);
    resolutionLayout->addSpacing(dialogUnits(*this, 7, 0).width());
    resolutionLayout->addWidget(resolutionYLabel);
    resolutionLayout->addWidget(resolutionYEdit);

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
    buttonLayout->addStretch(2);

    auto* layout = new QGridLayout(this);
    layout->addWidget(filmGroup, 0, 0);
    layout->addWidget(rotationGroup, 0, 1);
    layout->addWidget(resolutionGroup, 1, 0, 1, 2);
    layout->addLayout(buttonLayout, 2, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &FilmParameters::OnOkButton);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(manualResolutionBox, &QCheckBox::clicked, this, &FilmParameters::OnManualResolution);
}

// Puts the stored values into the controls. Opening with "Manual resolution"
// clear also resets the stored resolution texts to "0", so a later tick shows
// "0" and not numbers that were typed for an earlier run.
void FilmParameters::DoDataExchange() {
    filmSpeedList->setCurrentIndex(stored.filmSpeedIndex);
    soundtrackTypeList->setCurrentIndex(stored.soundtrackTypeIndex);
    longStripBox->setChecked(stored.longStrip != 0);
    for (std::size_t i = 0; i < rotationBoxes.size(); ++i) {
        rotationBoxes[i]->setChecked(static_cast<TrackSide>(i) == stored.trackSide);
    }
    fullApertureBox->setChecked(stored.fullAperture != 0);
    manualResolutionBox->setChecked(stored.manualResolution != 0);
    showResolutionControls(stored.manualResolution != 0);
    if (stored.manualResolution == 0) {
        stored.resolutionXText = QStringLiteral("0");
        stored.resolutionYText = QStringLiteral("0");
    }
    resolutionXEdit->setText(stored.resolutionXText);
    resolutionYEdit->setText(stored.resolutionYText);
    soundtrackTypeList->setFocus();
}

void FilmParameters::OnOkButton() {
    stored.soundtrackTypeIndex = soundtrackTypeList->currentIndex();
    stored.filmSpeedIndex = filmSpeedList->currentIndex();
    stored.longStrip = longStripBox->isChecked() ? 1 : 0;
    stored.manualResolution = manualResolutionBox->isChecked() ? 1 : 0;
    stored.fullAperture = fullApertureBox->isChecked() ? 1 : 0;
    // the texts are stored also when hidden
    stored.resolutionXText = resolutionXEdit->text();
    stored.resolutionYText = resolutionYEdit->text();
    accept();
}

// The edits keep their texts while hidden.
void FilmParameters::OnManualResolution() {
    showResolutionControls(manualResolutionBox->isChecked());
}

// The rotation boxes act as one choice with exactly one ticked; the choice
// is stored at once.
void FilmParameters::OnRotation(TrackSide side) {
    for (std::size_t i = 0; i < rotationBoxes.size(); ++i) {
        rotationBoxes[i]->setChecked(static_cast<TrackSide>(i) == side);
    }
    stored.trackSide = side;
}

void FilmParameters::showResolutionControls(bool shown) {
    resolutionXLabel->setVisible(shown);
    resolutionXEdit->setVisible(shown);
    resolutionYLabel->setVisible(shown);
    resolutionYEdit->setVisible(shown);
}

FilmSpeed filmSpeedOfIndex(int index) {
    const int count = static_cast<int>(std::size(kFilmSpeeds));
    const char* text = index >= 0 && index < count ? kFilmSpeeds[index] : "25";
    return parseFilmSpeed(text).value_or(FilmSpeed{});
}

} // namespace veltrana::ui
