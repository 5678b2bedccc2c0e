// The three option dialogs and the Info box: what each opening shows, what
// each way of closing stores, and the controls' own rules.

#include "ui/film_parameters.h"
#include "ui/info_close.h"
#include "ui/movie_parameters.h"
#include "ui/sound_parameters.h"
#include "ui/ui_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace veltrana::ui {
namespace {

using test::child;

QStringList entries(const QComboBox& list) {
    QStringList texts;
    for (int i = 0; i < list.count(); ++i) {
        texts << list.itemText(i);
    }
    return texts;
}

// How an option dialog can be closed without "Ok".
enum class Dismissal { CancelButton, EscapeKey, EnterInList, EnterInCheckBox, EnterInEdit };

std::string dismissalName(const testing::TestParamInfo<Dismissal>& info) {
    switch (info.param) {
    case Dismissal::CancelButton:
        return "CancelButton";
    case Dismissal::EscapeKey:
        return "EscapeKey";
    case Dismissal::EnterInList:
        return "EnterInList";
    case Dismissal::EnterInCheckBox:
        return "EnterInCheckBox";
    case Dismissal::EnterInEdit:
        return "EnterInEdit";
    }
    return "unknown";
}

// Closes an open Film or Sound dialog the given way; `list`, `box` and `edit`
// are the controls that take the focus for the Enter cases.
void dismiss(QDialog& dialog, Dismissal how, QWidget* list, QWidget* box, QWidget* edit) {
    switch (how) {
    case Dismissal::CancelButton:
        child<QPushButton>(dialog, "cancelButton")->click();
        return;
    case Dismissal::EscapeKey:
        QTest::keyClick(&dialog, Qt::Key_Escape);
        return;
    case Dismissal::EnterInList:
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        return;
    case Dismissal::EnterInCheckBox:
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        return;
    case Dismissal::EnterInEdit:
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
        return;
    }
}

// ---- Film Parameters ----

class FilmParametersTest : public testing::Test {
protected:
    FilmParameters dialog;
    QComboBox* typeList = child<QComboBox>(dialog, "soundtrackTypeList");
    QComboBox* speedList = child<QComboBox>(dialog, "filmSpeedList");
    QCheckBox* longStripBox = child<QCheckBox>(dialog, "longStripBox");
    QCheckBox* manualBox = child<QCheckBox>(dialog, "manualResolutionBox");
    QLineEdit* xEdit = child<QLineEdit>(dialog, "resolutionXEdit");
    QLineEdit* yEdit = child<QLineEdit>(dialog, "resolutionYEdit");
    QLabel* xLabel = child<QLabel>(dialog, "resolutionXLabel");
    QLabel* yLabel = child<QLabel>(dialog, "resolutionYLabel");
    QCheckBox* upBox = child<QCheckBox>(dialog, "upBox");
    QCheckBox* downBox = child<QCheckBox>(dialog, "downBox");

    bool resolutionShown() const {
        EXPECT_EQ(xEdit->isVisible(), xLabel->isVisible());
        EXPECT_EQ(xEdit->isVisible(), yEdit->isVisible());
        EXPECT_EQ(xEdit->isVisible(), yLabel->isVisible());
        return xEdit->isVisible();
    }
};

TEST_F(FilmParametersTest, OpensWithTheProgramDefaults) {
    EXPECT_EQ(dialog.windowTitle(), "Film Parameters");
    EXPECT_EQ(entries(*typeList),
              QStringList({"35mm variable area", "35mm variable density", "16mm variable area"}));
    // 24 and 25 where they always were, then the other rates film is shot at
    EXPECT_EQ(entries(*speedList), QStringList({"24", "25", "16", "18", "20", "22", "23.976",
                                                "29.97", "30", "48", "50", "59.94", "60"}));
    EXPECT_EQ(filmSpeedOfIndex(6), FilmSpeed(24000, 1001));
    EXPECT_EQ(filmSpeedOfIndex(7), FilmSpeed(30000, 1001));
    EXPECT_EQ(filmSpeedOfIndex(1), FilmSpeed(25));
    dialog.show();
    EXPECT_EQ(typeList->currentText(), "35mm variable area");
    EXPECT_EQ(speedList->currentText(), "25");
    EXPECT_FALSE(longStripBox->isChecked());
    EXPECT_FALSE(manualBox->isChecked());
    EXPECT_TRUE(upBox->isChecked());
    EXPECT_FALSE(downBox->isChecked());
    EXPECT_FALSE(resolutionShown());
    EXPECT_EQ(xLabel->text(), "Resoluiton X:");
    EXPECT_EQ(yLabel->text(), "Resolution Y:");
    // the first list has the focus, so Enter right away closes without storing
    EXPECT_EQ(dialog.focusWidget(), typeList);
    // the picture pair shows the soundtrack band at the top and at the bottom
    EXPECT_EQ(child<QLabel>(dialog, "upPicture")->pixmap().size(), QSize(55, 53));
    EXPECT_EQ(child<QLabel>(dialog, "downPicture")->pixmap().size(), QSize(55, 53));
}

TEST_F(FilmParametersTest, OkStoresEveryControl) {
    dialog.show();
    typeList->setCurrentIndex(2);
    speedList->setCurrentIndex(0);
    test::clickBox(longStripBox);
    test::clickBox(manualBox);
    xEdit->clear();
    QTest::keyClicks(xEdit, "1200");
    yEdit->clear();
    QTest::keyClicks(yEdit, "2400");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);

    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const FilmParameterValues& v = dialog.values();
    EXPECT_EQ(v.soundtrackTypeIndex, 2);
    EXPECT_EQ(v.filmSpeedIndex, 0);
    EXPECT_EQ(v.longStrip, 1);
    EXPECT_EQ(v.manualResolution, 1);
    EXPECT_EQ(v.resolutionXText, "1200");
    EXPECT_EQ(v.resolutionYText, "2400");

    // the next opening shows them again
    dialog.show();
    EXPECT_EQ(typeList->currentIndex(), 2);
    EXPECT_EQ(speedList->currentIndex(), 0);
    EXPECT_TRUE(longStripBox->isChecked());
    EXPECT_TRUE(manualBox->isChecked());
    EXPECT_TRUE(resolutionShown());
    EXPECT_EQ(xEdit->text(), "1200");
    EXPECT_EQ(yEdit->text(), "2400");
}

TEST_F(FilmParametersTest, EnterOnTheFocusedOkButtonPressesIt) {
    dialog.show();
    speedList->setCurrentIndex(0);
    auto* ok = child<QPushButton>(dialog, "okButton");
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.values().filmSpeedIndex, 0);
}

class FilmParametersDismissal : public FilmParametersTest,
                                public testing::WithParamInterface<Dismissal> {};

TEST_P(FilmParametersDismissal, StoresNothing) {
    FilmParameterValues before;
    before.manualResolution = 1;
    before.resolutionXText = "300";
    before.resolutionYText = "600";
    dialog.setValues(before);
    dialog.show();
    typeList->setCurrentIndex(1);
    speedList->setCurrentIndex(0);
    longStripBox->setChecked(true);
    manualBox->setChecked(false);
    xEdit->setText("1");
    yEdit->setText("2");

    dismiss(dialog, GetParam(), typeList, longStripBox, xEdit);

    EXPECT_FALSE(dialog.isVisible());
    const FilmParameterValues& v = dialog.values();
    EXPECT_EQ(v.soundtrackTypeIndex, 0);
    EXPECT_EQ(v.filmSpeedIndex, 1);
    EXPECT_EQ(v.longStrip, 0);
    EXPECT_EQ(v.manualResolution, 1);
    EXPECT_EQ(v.resolutionXText, "300");
    EXPECT_EQ(v.resolutionYText, "600");
}

INSTANTIATE_TEST_SUITE_P(EveryWay, FilmParametersDismissal,
                         testing::Values(Dismissal::CancelButton, Dismissal::EscapeKey,
                                         Dismissal::EnterInList, Dismissal::EnterInCheckBox,
                                         Dismissal::EnterInEdit),
                         dismissalName);

TEST_F(FilmParametersTest, OpeningWithoutManualResolutionResetsTheTextsToZero) {
    FilmParameterValues stored;
    stored.manualResolution = 0;
    stored.resolutionXText = "1200";
    stored.resolutionYText = "2400";
    dialog.setValues(stored);

    dialog.show();
    EXPECT_EQ(xEdit->text(), "0");
    EXPECT_EQ(yEdit->text(), "0");
    // the reset is stored at the opening: Cancel does not bring the numbers back
    dialog.reject();
    EXPECT_EQ(dialog.values().resolutionXText, "0");
    EXPECT_EQ(dialog.values().resolutionYText, "0");

    // ticking the box shows the edits with what they hold
    dialog.show();
    test::clickBox(manualBox);
    EXPECT_TRUE(resolutionShown());
    EXPECT_EQ(xEdit->text(), "0");
    EXPECT_EQ(yEdit->text(), "0");
    test::clickBox(manualBox);
    EXPECT_FALSE(resolutionShown());
}

TEST_F(FilmParametersTest, TypedResolutionsAreStoredHiddenAndResetAtTheNextOpening) {
    dialog.show();
    test::clickBox(manualBox);
    xEdit->clear();
    QTest::keyClicks(xEdit, "1200");
    yEdit->clear();
    QTest::keyClicks(yEdit, "1300");
    test::clickBox(manualBox);
    EXPECT_EQ(xEdit->text(), "1200") << "hiding keeps the text";
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    EXPECT_EQ(dialog.values().manualResolution, 0);
    EXPECT_EQ(dialog.values().resolutionXText, "1200");
    EXPECT_EQ(dialog.values().resolutionYText, "1300");

    dialog.show();
    EXPECT_EQ(xEdit->text(), "0");
    EXPECT_EQ(yEdit->text(), "0");
}

TEST_F(FilmParametersTest, ResolutionEditsTakeFourDigitsOnly) {
    FilmParameterValues stored;
    stored.manualResolution = 1;
    dialog.setValues(stored);
    dialog.show();
    xEdit->clear();
    QTest::keyClicks(xEdit, "1a2-3 4.56");
    EXPECT_EQ(xEdit->text(), "1234");
    yEdit->clear();
    QTest::keyClicks(yEdit, "x");
    EXPECT_EQ(yEdit->text(), "");
}

TEST_F(FilmParametersTest, RotationBoxesActAsAPairAndChangeAtTheClick) {
    dialog.show();
    // clicking the ticked box leaves it ticked
    test::clickBox(upBox);
    EXPECT_TRUE(upBox->isChecked());
    EXPECT_FALSE(downBox->isChecked());
    EXPECT_EQ(dialog.values().trackSide, TrackSide::Top);

    test::clickBox(downBox);
    EXPECT_FALSE(upBox->isChecked());
    EXPECT_TRUE(downBox->isChecked());
    test::clickBox(downBox);
    EXPECT_TRUE(downBox->isChecked());

    // Cancel keeps the rotation, and the next opening shows it
    child<QPushButton>(dialog, "cancelButton")->click();
    EXPECT_EQ(dialog.values().trackSide, TrackSide::Bottom);
    dialog.show();
    EXPECT_FALSE(upBox->isChecked());
    EXPECT_TRUE(downBox->isChecked());

    test::clickBox(upBox);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.values().trackSide, TrackSide::Top);
}

TEST_F(FilmParametersTest, OffersTheUprightSidesAndFullAperture) {
    QCheckBox* leftBox = child<QCheckBox>(dialog, "leftBox");
    QCheckBox* rightBox = child<QCheckBox>(dialog, "rightBox");
    QCheckBox* fullApertureBox = child<QCheckBox>(dialog, "fullApertureBox");
    ASSERT_NE(child<QLabel>(dialog, "leftPicture"), nullptr);
    ASSERT_NE(child<QLabel>(dialog, "rightPicture"), nullptr);
    dialog.show();
    EXPECT_FALSE(fullApertureBox->isChecked());

    // the four boxes are one choice, stored at the click
    test::clickBox(rightBox);
    EXPECT_TRUE(rightBox->isChecked());
    EXPECT_FALSE(upBox->isChecked() || downBox->isChecked() || leftBox->isChecked());
    EXPECT_EQ(dialog.values().trackSide, TrackSide::Right);
    test::clickBox(leftBox);
    EXPECT_FALSE(rightBox->isChecked());
    EXPECT_EQ(dialog.values().trackSide, TrackSide::Left);

    // "Full aperture" is stored by "Ok" only
    test::clickBox(fullApertureBox);
    child<QPushButton>(dialog, "cancelButton")->click();
    EXPECT_EQ(dialog.values().fullAperture, 0);
    dialog.show();
    EXPECT_TRUE(leftBox->isChecked());
    EXPECT_FALSE(fullApertureBox->isChecked());
    test::clickBox(fullApertureBox);
    child<QPushButton>(dialog, "okButton")->click();
    EXPECT_EQ(dialog.values().fullAperture, 1);
}

// ---- Sound Parameters ----

class SoundParametersTest : public testing::Test {
protected:
    SoundParameters dialog;
    QComboBox* colorList = child<QComboBox>(dialog, "colorElementList");
    QCheckBox* removeDcBox = child<QCheckBox>(dialog, "removeDcBox");
    QCheckBox* crossfadeBox = child<QCheckBox>(dialog, "crossfadeBox");
    QCheckBox* inverseBox = child<QCheckBox>(dialog, "inverseBox");
    QCheckBox* analysisBox = child<QCheckBox>(dialog, "cutByAnalysisBox");
    QCheckBox* archivalBox = child<QCheckBox>(dialog, "archivalBox");
    QComboBox* bitDepthList = child<QComboBox>(dialog, "bitDepthList");
    QComboBox* sampleRateList = child<QComboBox>(dialog, "sampleRateList");
};

TEST_F(SoundParametersTest, OpensWithTheProgramDefaults) {
    EXPECT_EQ(dialog.windowTitle(), "Sound Parameters");
    EXPECT_EQ(entries(*colorList), QStringList({"B", "G", "R", "Y"}));
    EXPECT_EQ(analysisBox->text(), "Cut by soundtrack analize");
    dialog.show();
    EXPECT_EQ(colorList->currentText(), "R");
    EXPECT_TRUE(removeDcBox->isChecked());
    EXPECT_TRUE(crossfadeBox->isChecked());
    EXPECT_FALSE(inverseBox->isChecked());
    EXPECT_FALSE(analysisBox->isChecked());
    EXPECT_EQ(dialog.focusWidget(), colorList);
}

TEST_F(SoundParametersTest, DeliveryOpensStandardWithItsChoicesInOrder) {
    EXPECT_EQ(archivalBox->text(), "Archival quality");
    EXPECT_EQ(entries(*bitDepthList), QStringList({"8", "16", "24"}));
    EXPECT_EQ(entries(*sampleRateList), QStringList({"film", "44100", "48000", "96000"}));
    dialog.show();
    EXPECT_FALSE(archivalBox->isChecked());
    EXPECT_EQ(bitDepthList->currentText(), "8");
    EXPECT_EQ(sampleRateList->currentText(), "film");
    const SoundParameterValues& v = dialog.values();
    EXPECT_FALSE(v.archival);
    EXPECT_EQ(v.bitDepthIndex, 0);
    EXPECT_EQ(v.sampleRateIndex, 0);
}

TEST_F(SoundParametersTest, DeliveryOptionsSayWhatTheyDo) {
    EXPECT_TRUE(archivalBox->toolTip().contains("joins.csv"));
    EXPECT_TRUE(bitDepthList->toolTip().contains("8 bits is the standard sound"));
    EXPECT_TRUE(sampleRateList->toolTip().contains("resampled"));
}

TEST_F(SoundParametersTest, TickingArchivalQualitySetsTwentyFourBitsAt48000AndClearingRestores) {
    dialog.show();
    test::clickBox(archivalBox);
    EXPECT_TRUE(archivalBox->isChecked());
    EXPECT_EQ(bitDepthList->currentText(), "24");
    EXPECT_EQ(sampleRateList->currentText(), "48000");
    // the lists stay free to change; clearing the box restores the standard
    // delivery, 8 bits at the film's own rate
    sampleRateList->setCurrentIndex(3);
    bitDepthList->setCurrentIndex(1);
    test::clickBox(archivalBox);
    EXPECT_FALSE(archivalBox->isChecked());
    EXPECT_EQ(bitDepthList->currentText(), "8");
    EXPECT_EQ(sampleRateList->currentIndex(), 0);
    sampleRateList->setCurrentIndex(1);
    EXPECT_EQ(sampleRateList->currentText(), "44100");
}

TEST_F(SoundParametersTest, OpeningWithArchivalStoredKeepsTheStoredLists) {
    // the opening ticks the box without the click's 24 bits at 48000
    SoundParameterValues stored;
    stored.archival = true;
    stored.bitDepthIndex = 1;
    stored.sampleRateIndex = 3;
    dialog.setValues(stored);
    dialog.show();
    EXPECT_TRUE(archivalBox->isChecked());
    EXPECT_EQ(bitDepthList->currentText(), "16");
    EXPECT_EQ(sampleRateList->currentText(), "96000");
}

TEST_F(SoundParametersTest, OkStoresEveryControl) {
    dialog.show();
    colorList->setCurrentIndex(3);
    test::clickBox(removeDcBox);
    test::clickBox(crossfadeBox);
    test::clickBox(inverseBox);
    test::clickBox(analysisBox);
    test::clickBox(archivalBox);
    sampleRateList->setCurrentIndex(1);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);

    EXPECT_FALSE(dialog.isVisible());
    const SoundParameterValues& v = dialog.values();
    EXPECT_EQ(v.colorElementIndex, 3);
    EXPECT_EQ(v.removeDc, 0);
    EXPECT_EQ(v.crossfade, 0);
    EXPECT_EQ(v.inverse, 1);
    EXPECT_TRUE(v.cutByAnalysis);
    EXPECT_TRUE(v.archival);
    EXPECT_EQ(v.bitDepthIndex, 2);   // 24, from the box
    EXPECT_EQ(v.sampleRateIndex, 1); // 44100, changed after it

    dialog.show();
    EXPECT_EQ(colorList->currentText(), "Y");
    EXPECT_FALSE(removeDcBox->isChecked());
    EXPECT_FALSE(crossfadeBox->isChecked());
    EXPECT_TRUE(inverseBox->isChecked());
    EXPECT_TRUE(analysisBox->isChecked());
    EXPECT_TRUE(archivalBox->isChecked());
    EXPECT_EQ(bitDepthList->currentText(), "24");
    EXPECT_EQ(sampleRateList->currentText(), "44100");
}

class SoundParametersDismissal : public SoundParametersTest,
                                 public testing::WithParamInterface<Dismissal> {};

TEST_P(SoundParametersDismissal, StoresNothing) {
    dialog.show();
    colorList->setCurrentIndex(0);
    removeDcBox->setChecked(false);
    inverseBox->setChecked(true);
    analysisBox->setChecked(true);
    test::clickBox(archivalBox);
    sampleRateList->setCurrentIndex(3);
    // the Sound dialog has no edit: Enter in the list stands in for that case
    dismiss(dialog, GetParam(), colorList, inverseBox, colorList);

    EXPECT_FALSE(dialog.isVisible());
    const SoundParameterValues& v = dialog.values();
    EXPECT_EQ(v.colorElementIndex, 2);
    EXPECT_EQ(v.removeDc, 1);
    EXPECT_EQ(v.crossfade, 1);
    EXPECT_EQ(v.inverse, 0);
    EXPECT_FALSE(v.cutByAnalysis);
    EXPECT_FALSE(v.archival);
    EXPECT_EQ(v.bitDepthIndex, 0);
    EXPECT_EQ(v.sampleRateIndex, 0);

    // and the next opening shows the stored values, not the dismissed ones
    dialog.show();
    EXPECT_FALSE(archivalBox->isChecked());
    EXPECT_EQ(bitDepthList->currentText(), "8");
    EXPECT_EQ(sampleRateList->currentText(), "film");
}

INSTANTIATE_TEST_SUITE_P(EveryWay, SoundParametersDismissal,
                         testing::Values(Dismissal::CancelButton, Dismissal::EscapeKey,
                                         Dismissal::EnterInList, Dismissal::EnterInCheckBox),
                         dismissalName);

// ---- Movie Parameters ----

class MovieParametersTest : public testing::Test {
protected:
    MovieParameters dialog;
    QLineEdit* sizeEdit = child<QLineEdit>(dialog, "newSizeEdit");
    QComboBox* compressionList = child<QComboBox>(dialog, "compressionList");
    QCheckBox* cutBox = child<QCheckBox>(dialog, "cutSoundtrackBox");
    QCheckBox* withSoundBox = child<QCheckBox>(dialog, "withSoundBox");
    QLineEdit* advanceEdit = child<QLineEdit>(dialog, "advanceEdit");

    void change() {
        sizeEdit->clear();
        QTest::keyClicks(sizeEdit, "50");
        compressionList->setCurrentIndex(1);
        cutBox->setChecked(true);
        withSoundBox->setChecked(true);
        QTest::keyClicks(advanceEdit, "-2x4"); // digits only
    }
    void expectDefaults() const {
        EXPECT_EQ(dialog.values().newSizeText, "100");
        EXPECT_EQ(dialog.values().compressionIndex, 0);
        EXPECT_EQ(dialog.values().cutSoundtrack, 0);
        EXPECT_EQ(dialog.values().withSound, 0);
        EXPECT_EQ(dialog.values().advanceText, "");
    }
    void expectChanged() const {
        EXPECT_EQ(dialog.values().newSizeText, "50");
        EXPECT_EQ(dialog.values().compressionIndex, 1);
        EXPECT_EQ(dialog.values().cutSoundtrack, 1);
        EXPECT_EQ(dialog.values().withSound, 1);
        EXPECT_EQ(dialog.values().advanceText, "24");
    }
};

TEST_F(MovieParametersTest, OpensWithTheProgramDefaults) {
    EXPECT_EQ(dialog.windowTitle(), "Movie Parameters");
    EXPECT_EQ(entries(*compressionList), QStringList({"none", "cinepak"}));
    dialog.show();
    EXPECT_EQ(sizeEdit->text(), "100");
    EXPECT_EQ(compressionList->currentText(), "none");
    EXPECT_FALSE(cutBox->isChecked());
    EXPECT_EQ(withSoundBox->text(), "Movie with sound");
    EXPECT_FALSE(withSoundBox->isChecked());
    EXPECT_EQ(advanceEdit->text(), ""); // the film's own advance
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(MovieParametersTest, OkStoresAndTheNextOpeningShowsIt) {
    dialog.show();
    change();
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    expectChanged();
    dialog.show();
    EXPECT_EQ(sizeEdit->text(), "50");
    EXPECT_EQ(compressionList->currentText(), "cinepak");
    EXPECT_TRUE(cutBox->isChecked());
}

TEST_F(MovieParametersTest, EnterStoresLikeOk) {
    dialog.show();
    change();
    QTest::keyClick(sizeEdit, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    expectChanged();
}

TEST_F(MovieParametersTest, CancelEscapeAndTheCloseBoxStoreNothing) {
    dialog.show();
    change();
    child<QPushButton>(dialog, "cancelButton")->click();
    expectDefaults();

    dialog.show();
    change();
    QTest::keyClick(sizeEdit, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    expectDefaults();

    dialog.show();
    change();
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    expectDefaults();
}

TEST_F(MovieParametersTest, NewSizeTakesThreeDigitsOnly) {
    dialog.show();
    sizeEdit->clear();
    QTest::keyClicks(sizeEdit, "2x50%0");
    EXPECT_EQ(sizeEdit->text(), "250");
}

// ---- Info ----

TEST(InfoBox, NamesTheProgramAndItsVersion) {
    InfoClose box;
    EXPECT_EQ(box.windowTitle(), "Info");
    const QList<QLabel*> labels = box.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_TRUE(labels.front()->text().contains(QStringLiteral("Veltrana")));
    EXPECT_TRUE(labels.front()->text().contains(QStringLiteral(VELTRANA_VERSION)));
    box.show();
    child<QPushButton>(box, "closeButton")->click();
    EXPECT_FALSE(box.isVisible());
}

} // namespace
} // namespace veltrana::ui
