#include "ui/info_close.h"

#include "ui/dialog_units.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltrana::ui {

InfoClose::InfoClose(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("infoClose"));
    setWindowTitle(QStringLiteral("Info"));
    // a caption bar without a system menu or close box
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* label = new QLabel(aboutText(), this);
    label->setObjectName(QStringLiteral("infoLabel"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setMinimumWidth(dialogUnits(*this, 197, 0).width());
    label->setContentsMargins(0, dialogUnits(*this, 0, 4).height(), 0,
                              dialogUnits(*this, 0, 4).height());

    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    setMinimumDialogUnits(*closeButton, 50, 14);
    auto* buttonLayout = new QHBoxLayout;
    buttonLayout->addStretch(1);
    buttonLayout->addWidget(closeButton);
    buttonLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(buttonLayout);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // "Close" is a cancel: nothing to keep
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
}

QString InfoClose::aboutText() {
    return QStringLiteral("Veltrana version %1\n\n"
                          "Recovers the optical soundtrack of motion-picture film from scanned "
                          "TIFF frames as a WAV file, and turns the scans into a movie.")
        .arg(QStringLiteral(VELTRANA_VERSION));
}

} // namespace veltrana::ui
