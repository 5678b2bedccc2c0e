#include "ui/movie_parameters.h"

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

constexpr int kNewSizeDigits = 3;
constexpr int kAdvanceDigits = 2;

} // namespace

MovieParameters::MovieParameters(QWidget* parent) : OptionDialog(parent, Enter::PressesOk) {
    setObjectName(QStringLiteral("movieParameters"));
    setWindowTitle(QStringLiteral("Movie Parameters"));
    // a caption bar with a close box
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* group = new QGroupBox(QStringLiteral("Movie Parameters"), this);
    auto* newSizeLabel = new QLabel(QStringLiteral("New size (%)"), group);
    newSizeEdit = new QLineEdit(group);
    newSizeEdit->setObjectName(QStringLiteral("newSizeEdit"));
    makeDigitEdit(*newSizeEdit, kNewSizeDigits);
    newSizeEdit->setFixedWidth(dialogUnits(*newSizeEdit, 20, 0).width() +
                               newSizeEdit->fontMetrics().horizontalAdvance(QStringLiteral("999")));
    cutSoundtrackBox = new QCheckBox(QStringLiteral("Cut Soundtrack"), group);
    cutSoundtrackBox->setObjectName(QStringLiteral("cutSoundtrackBox"));
    auto* compressionLabel = new QLabel(QStringLiteral("Compression"), group);
    compressionList = new QComboBox(group);
    compressionList->setObjectName(QStringLiteral("compressionList"));
    compressionList->addItems({QStringLiteral("none"), QStringLiteral("cinepak")});
    setMinimumDialogUnits(*compressionList, 64, 12);
    withSoundBox = new QCheckBox(QStringLiteral("Movie with sound"), group);
    withSoundBox->setObjectName(QStringLiteral("withSoundBox"));
    auto* advanceLabel = new QLabel(QStringLiteral("Sound advance (frames)"), group);
    advanceEdit = new QLineEdit(group);
    advanceEdit->setObjectName(QStringLiteral("advanceEdit"));
    makeDigitEdit(*advanceEdit, kAdvanceDigits);
    advanceEdit->setPlaceholderText(QStringLiteral("20 / 26"));
    advanceEdit->setToolTip(QStringLiteral("Frames the sound is printed ahead of its picture; "
                                           "empty for the film's: 20 on 35 mm, 26 on 16 mm"));
    advanceEdit->setFixedWidth(dialogUnits(*advanceEdit, 20, 0).width() +
                               advanceEdit->fontMetrics().horizontalAdvance(QStringLiteral("99")));
    auto* groupLayout = new QGridLayout(group);
    groupLayout->addWidget(newSizeLabel, 0, 0, Qt::AlignRight);
    groupLayout->addWidget(newSizeEdit, 0, 1, Qt::AlignLeft);
    groupLayout->addWidget(cutSoundtrackBox, 0, 2);
    groupLayout->addWidget(compressionLabel, 1, 0, Qt::AlignRight);
    groupLayout->addWidget(compressionList, 1, 1, 1, 2, Qt::AlignLeft);
    groupLayout->addWidget(withSoundBox, 2, 0, 1, 3);
    groupLayout->addWidget(advanceLabel, 3, 0, Qt::AlignRight);
    groupLayout->addWidget(advanceEdit, 3, 1, Qt::AlignLeft);

    // "OK" is the default button: Enter stores
    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* button : {okButton, cancelButton}) {
        setMinimumDialogUnits(*button, 50, 14);
    }
    auto* buttonLayout = new QHBoxLayout;
    buttonLayout->addStretch(1);
    buttonLayout->addWidget(okButton);
    buttonLayout->addStretch(1);
    buttonLayout->addWidget(cancelButton);
    buttonLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttonLayout);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, &MovieParameters::OnOkButton);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void MovieParameters::DoDataExchange() {
    compressionList->setCurrentIndex(stored.compressionIndex);
    newSizeEdit->setText(stored.newSizeText);
    cutSoundtrackBox->setChecked(stored.cutSoundtrack != 0);
    withSoundBox->setChecked(stored.withSound != 0);
    advanceEdit->setText(stored.advanceText);
    newSizeEdit->setFocus();
}

void MovieParameters::OnOkButton() {
    stored.compressionIndex = compressionList->currentIndex();
    stored.cutSoundtrack = cutSoundtrackBox->isChecked() ? 1 : 0;
    stored.newSizeText = newSizeEdit->text();
    stored.withSound = withSoundBox->isChecked() ? 1 : 0;
    stored.advanceText = advanceEdit->text();
    accept();
}

} // namespace veltrana::ui
