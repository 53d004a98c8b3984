#include <gtest/gtest.h>

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include "support/DialogAnswers.h"
#include "frmKey.h"
#include "frmSlider.h"
#include "mdlCmnDlg.h"

using namespace ostrel::ui;

namespace {
struct Owner : QWidget {
    Owner() {
        setGeometry(100, 80, 500, 360);
        show();
    }
};
}  // namespace

TEST(frmSlider, FixedDialogOverItsOwnerShowingTheValueBesideTheSlider) {
    Owner owner;
    DialogValues values{{}, 50, 100};
    frmSlider dialog(values, &owner);
    values.SliderMax = 7;  // read only when the dialog is created

    DialogAnswers answers;
    answers.then([&](QWidget* d) {
        EXPECT_LE(offCentre(d, &owner), 4);
        auto* slider = d->findChild<QSlider*>(QStringLiteral("sldSlider"));
        auto* value = d->findChild<QLabel*>(QStringLiteral("lblValue"));
        EXPECT_EQ(slider->maximum(), 100);
        EXPECT_EQ(value->text(), "50");
        EXPECT_GE(value->x(), slider->x() + slider->width()) << "beside the slider";
        QTest::keyClick(slider, Qt::Key_PageUp);
        EXPECT_EQ(value->text(), "60");
        QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(values.SliderValue, 50);
    values = {{}, 250, 255};
    answers.then([](QWidget* d) {
        QTest::keyClick(d->findChild<QSlider*>(QStringLiteral("sldSlider")), Qt::Key_End);
        EXPECT_EQ(d->findChild<QLabel*>(QStringLiteral("lblValue"))->text(), "255");
        QTest::keyClick(d, Qt::Key_Return);
    });
    frmSlider(values, &owner).exec();
    EXPECT_EQ(values.SliderValue, 255) << "Enter is OK; the slider ends at SliderMax";
}

TEST(frmKey, TakesTheTypedKeyWithoutOuterSpacesAndEscEmptiesIt) {
    Owner owner;
    DialogValues values;
    DialogAnswers answers;
    // The user just types: the focus is in the empty key box when the dialog comes up.
    answers.then([](QWidget* d) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(d));
        auto* txtKey = d->findChild<QLineEdit*>(QStringLiteral("txtKey"));
        EXPECT_EQ(QApplication::focusWidget(), txtKey);
        EXPECT_EQ(txtKey->text(), "");
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("  Front  door "));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    frmKey(values, &owner).exec();
    EXPECT_EQ(values.EnteredKey, "Front  door");

    answers.then([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
    frmKey dialog(values, &owner);
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(values.EnteredKey, "") << "Esc is the Cancel button";
}

TEST(ChooseColorDialog, OffersThePaletteAgainAtEveryCall) {
    const auto customColors = [] {
        QList<QColor> colors;
        for (int i = 0; i < QColorDialog::customCount(); ++i) {
            colors << QColorDialog::customColor(i);
        }
        return colors;
    };
    Owner owner;
    DialogAnswers answers;
    QList<QColor> before, after, again;
    answers.then([&](QWidget* d) {
        EXPECT_LE(offCentre(d, &owner), 4) << "over the window, like the other dialogs";
        before = customColors();
        qobject_cast<QColorDialog*>(d)->setCurrentColor(QColor(0x0A, 0x14, 0x1E));
        for (QPushButton* button : d->findChildren<QPushButton*>()) {
            if (button->text().contains("Custom")) {
                button->click();  // "Add to Custom Colors"
            }
        }
        after = customColors();
        d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    answers.then([&](QWidget* d) {
        again = customColors();
        qobject_cast<QDialog*>(d)->reject();
    });
    EXPECT_EQ(ChooseColorDialog(0x563412, &owner), 0x1E140A) << "red is the low byte";
    EXPECT_EQ(ChooseColorDialog(0x00FF00, &owner), 0x00FF00) << "Cancel returns the colour given";
    EXPECT_NE(after, before) << "the user changed a custom colour";
    EXPECT_EQ(again, before);
}
