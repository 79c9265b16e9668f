#include "app/CComboChoiceDialog.h"
#include "app/CDataInputDialog.h"
#include "app/DialogDegMinSec.h"
#include "app/DialogLayout.h"
#include "app/QtUiServices.h"
#include "formats/FileKinds.h"
#include "platform/WinTypes.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QMessageBox>

#include <gtest/gtest.h>

#include <functional>

namespace {

/// Runs the dialog's modal loop with the given actions performed inside it.
template <typename Dialog>
int RunWith(Dialog& dialog, std::function<void()> actions)
{
    QTimer::singleShot(0, &dialog, [&dialog, actions] {
        actions();
        if (dialog.isVisible()) // actions that did not close it: press OK
            QTest::keyClick(&dialog, Qt::Key_Return);
    });
    return dialog.DoModal();
}

QStringList Items(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

/// The widgets Tab visits, in order, starting from first.
QList<QWidget*> TabOrder(QWidget* first)
{
    QList<QWidget*> order{first};
    for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(first->window()) && !order.contains(w))
            order << w;
    return order;
}

QStringList Texts(const QWidget* dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog->findChildren<QLabel*>())
        texts << label->text();
    for (const QPushButton* button : dialog->findChildren<QPushButton*>())
        texts << button->text();
    return texts;
}

} // namespace

TEST(Dialogs, DialogUnitsFollowTheFont)
{
    const DialogUnits units;
    EXPECT_GT(units.PixelsPerUnitX(), 1.0);
    EXPECT_LT(units.PixelsPerUnitX(), 2.5);
    EXPECT_GT(units.PixelsPerUnitY(), 1.2);
    EXPECT_LT(units.PixelsPerUnitY(), 2.8);
    const QRect r = units.ToPixels(40, 80, 20, 8);
    EXPECT_EQ(r.x(), qRound(40 * units.PixelsPerUnitX()));
    EXPECT_EQ(r.y(), qRound(80 * units.PixelsPerUnitY()));
    QFont larger = DialogUnits::DialogFont();
    larger.setPointSize(16);
    EXPECT_GT(DialogUnits(larger).PixelsPerUnitX(), units.PixelsPerUnitX());
}

TEST(Dialogs, DecimalCoordinatesComeBackAsTyped)
{
    CDataInputDialog dialog;
    EXPECT_TRUE(Texts(&dialog).contains(QStringLiteral("Please input the latitude and longitude \n for this point (Decimal Degree)")));
    dialog.m_strLatitude = QStringLiteral("45.50000");
    dialog.m_strLongitude = QStringLiteral("-7.25000");
    const int result = RunWith(dialog, [&] {
        EXPECT_EQ(dialog.LatitudeEdit()->text(), QStringLiteral("45.50000"));
        const QList<QWidget*> order = TabOrder(dialog.LatitudeEdit());
        ASSERT_GE(order.size(), 4);
        EXPECT_EQ(order[1], dialog.LongitudeEdit());
        EXPECT_EQ(qobject_cast<QPushButton*>(order[2])->text(), QStringLiteral("OK"));
        EXPECT_EQ(qobject_cast<QPushButton*>(order[3])->text(), QStringLiteral("Cancel"));
        dialog.LatitudeEdit()->clear();
        QTest::keyClicks(dialog.LatitudeEdit(), QStringLiteral("not a number"));
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_strLatitude, QStringLiteral("not a number")); // no validation here
    EXPECT_EQ(dialog.m_strLongitude, QStringLiteral("-7.25000"));
}

TEST(Dialogs, CancelAndEscapeLeaveTheMembersAlone)
{
    CDataInputDialog dialog;
    dialog.m_strLatitude = QStringLiteral("1");
    const int result = RunWith(dialog, [&] {
        dialog.LatitudeEdit()->setText(QStringLiteral("99"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.m_strLatitude, QStringLiteral("1"));

    DialogDegMinSec dms;
    const int cancelled = RunWith(dms, [&] {
        const auto buttons = dms.findChildren<QPushButton*>();
        const auto cancel = std::find_if(buttons.begin(), buttons.end(),
                                         [](QPushButton* b) { return b->text() == QStringLiteral("Cancel"); });
        ASSERT_NE(cancel, buttons.end());
        (*cancel)->click();
    });
    EXPECT_EQ(cancelled, IDCANCEL);
}

TEST(Dialogs, DegreesMinutesSecondsInMemberOrderAndTabOrder)
{
    DialogDegMinSec dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Point Geoinformation"));
    const QStringList texts = Texts(&dialog);
    for (const char* t : {"Degree", "Minute", "Second", "Latitude", "Longitude", "OK", "Cancel"})
        EXPECT_TRUE(texts.contains(QString::fromLatin1(t))) << t;
    QStringList ids;
    for (QLineEdit* edit : dialog.Edits())
        ids << edit->objectName();
    EXPECT_EQ(ids, (QStringList{"1010", "1005", "1006", "1007", "1008", "1009"}));
    dialog.m_strLatDeg = QStringLiteral("-45");
    const int result = RunWith(dialog, [&] {
        EXPECT_EQ(dialog.Edits()[0]->text(), QStringLiteral("-45"));
        const QList<QWidget*> order = TabOrder(dialog.Edits()[0]);
        for (size_t i = 0; i < dialog.Edits().size(); ++i)
            EXPECT_EQ(order.value(qsizetype(i)), dialog.Edits()[i]) << i;
        const QStringList typed = {"-45", "30", "0", "7", "15", "30.5"};
        dialog.Edits()[0]->clear();
        for (size_t i = 0; i < dialog.Edits().size(); ++i)
            QTest::keyClicks(dialog.Edits()[i], typed[qsizetype(i)]);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ((QStringList{dialog.m_strLatDeg, dialog.m_strLatMin, dialog.m_strLatSec, dialog.m_strLonDeg,
                           dialog.m_strLonMin, dialog.m_strLonSec}),
              (QStringList{"-45", "30", "0", "7", "15", "30.5"}));
}

TEST(Dialogs, InputOptionsShowsTheCurrentNotation)
{
    CDialogInputoptions dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Input Options"));
    EXPECT_EQ(Items(dialog.m_ctlCombo), (QStringList{"Decimal Degree", "Degree::Minute::Second"}));
    EXPECT_EQ(dialog.m_ctlCombo->objectName(), QStringLiteral("1003"));
    dialog.m_nSelection = 1;
    const int result = RunWith(dialog, [&] {
        EXPECT_EQ(dialog.m_ctlCombo->currentText(), QStringLiteral("Degree::Minute::Second"));
        QTest::keyClick(dialog.m_ctlCombo, Qt::Key_Up);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_nSelection, 0);
}

TEST(Dialogs, SelectUnitPicksByListNotByTyping)
{
    CDialogSelunit dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Unit"));
    EXPECT_EQ(Items(dialog.m_ctlCombo), (QStringList{"Feet", "Meter"}));
    EXPECT_FALSE(Texts(&dialog).contains(QStringLiteral("Cancel")));
    dialog.m_nSelection = 0;
    const int typed = RunWith(dialog, [&] {
        EXPECT_EQ(dialog.m_ctlCombo->currentText(), QStringLiteral("Feet"));
        dialog.m_ctlCombo->lineEdit()->selectAll();
        QTest::keyClicks(dialog.m_ctlCombo->lineEdit(), QStringLiteral("Met"));
    });
    EXPECT_EQ(typed, IDOK);
    EXPECT_EQ(dialog.m_nSelection, 0);

    const int picked = RunWith(dialog, [&] { QTest::keyClick(dialog.m_ctlCombo, Qt::Key_Down); });
    EXPECT_EQ(picked, IDOK);
    EXPECT_EQ(dialog.m_nSelection, 1);

    const int closed = RunWith(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(closed, IDCANCEL);
}

TEST(Dialogs, SelectImageListsEveryImageInIndexOrder)
{
    CDialogSelimg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Image"));
    dialog.m_nImageCount = 12;
    dialog.m_nSelection = 3;
    const int result = RunWith(dialog, [&] {
        ASSERT_EQ(dialog.m_ctlCombo->count(), 12);
        EXPECT_EQ(dialog.m_ctlCombo->itemText(0), QStringLiteral("Image 0"));
        EXPECT_EQ(dialog.m_ctlCombo->itemText(11), QStringLiteral("Image 11"));
        EXPECT_EQ(dialog.m_ctlCombo->currentIndex(), 3);
        for (int i = 0; i < 10; ++i) // past the last item: the list stops there
            QTest::keyClick(dialog.m_ctlCombo, Qt::Key_Down);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_nSelection, 11);
    // Opened again, the list is not doubled.
    RunWith(dialog, [&] { EXPECT_EQ(dialog.m_ctlCombo->count(), 12); });
}

TEST(Dialogs, ServicesRunTheDialogsWithTheCallersRecords)
{
    QtUiServices ui;
    ComboChoice unit{1};
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDialogSelunit*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->m_ctlCombo->currentText(), QStringLiteral("Meter"));
        QTest::keyClick(dialog->m_ctlCombo, Qt::Key_Up);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(ui.RunSelectUnitDialog(unit), IDOK);
    EXPECT_EQ(unit.m_nSelection, 0);

    CoordinateEntry entry{QStringLiteral("10"), QStringLiteral("20"), 1};
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDataInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->focusWidget(), dialog->LongitudeEdit()); // the field to correct
        dialog->LongitudeEdit()->setText(QStringLiteral("21"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(ui.RunDataInputDialog(entry), IDCANCEL);
    EXPECT_EQ(entry.m_strLongitude, QStringLiteral("20"));
}

TEST(Dialogs, FilterListsBecomeQtNameFiltersShowingEachPatternOnce)
{
    EXPECT_EQ(QtUiServices::QtNameFilters(QStringLiteral("Projection Work Space (pws)|*.pws|CPF (*.cpf)|*.cpf|All Files (*.*)|*.*||")),
              (QStringList{"Projection Work Space (pws) (*.pws)", "CPF (*.cpf)", "All Files (*.*)"}));
    EXPECT_EQ(QtUiServices::QtNameFilters(QStringLiteral("Picture Files (bmp.dib)|*.bmp;*.dib|")),
              QStringList{"Picture Files (bmp.dib) (*.bmp *.dib)"});
    EXPECT_EQ(QtUiServices::QtNameFilters(BitmapSaveFilter()), QStringList{"BMP - Bitmap picture (*.bmp)"});
}

TEST(Dialogs, MessageBoxesAreWideEnoughForTheirCaption)
{
    // A short text under a long caption: the box alone would size to the text.
    const QString caption = QStringLiteral("Point Deletion of a rather distant control point");
    QMessageBox box;
    QtUiServices::PrepareMessageBox(box, QStringLiteral("Delete?"), caption, MB_YESNO | MB_ICONINFORMATION);
    box.show();
    EXPECT_GE(box.width(), box.fontMetrics().horizontalAdvance(caption) + 100);
    EXPECT_EQ(box.windowTitle(), caption);
    EXPECT_EQ(box.textFormat(), Qt::PlainText); // a file named "<b>x</b>.tif" is shown as named
    box.hide();
}

TEST(Dialogs, MessageBoxesOfferTheirButtonsAndAnswerForEach)
{
    // What each kind of message box shows, and what clicking each button or pressing Escape
    // answers (Escape means Cancel where there is one, OK where OK is the only button).
    struct Case {
        unsigned m_nType;
        QMessageBox::StandardButtons m_Buttons;
        QMessageBox::StandardButton m_Press; ///< NoButton: Escape
        int m_nAnswer;
    };
    using B = QMessageBox;
    const Case cases[] = {
        {MB_OK, B::Ok, B::Ok, IDOK},
        {MB_OK, B::Ok, B::NoButton, IDOK},
        {MB_OKCANCEL, B::Ok | B::Cancel, B::Ok, IDOK},
        {MB_OKCANCEL, B::Ok | B::Cancel, B::Cancel, IDCANCEL},
        {MB_OKCANCEL, B::Ok | B::Cancel, B::NoButton, IDCANCEL},
        {MB_YESNO, B::Yes | B::No, B::Yes, IDYES},
        {MB_YESNO, B::Yes | B::No, B::No, IDNO},
        {MB_YESNOCANCEL, B::Yes | B::No | B::Cancel, B::Yes, IDYES},
        {MB_YESNOCANCEL, B::Yes | B::No | B::Cancel, B::No, IDNO},
        {MB_YESNOCANCEL, B::Yes | B::No | B::Cancel, B::Cancel, IDCANCEL},
        {MB_YESNOCANCEL, B::Yes | B::No | B::Cancel, B::NoButton, IDCANCEL},
    };
    QtUiServices ui;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.m_nType << ", button " << int(c.m_Press));
        QMessageBox::StandardButtons shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = box->standardButtons();
            if (c.m_Press == B::NoButton)
                QTest::keyClick(box, Qt::Key_Escape);
            else if (QAbstractButton* button = box->button(c.m_Press))
                button->click();
            else
                box->done(0); // the button is missing: end the box so that the check below fails
        });
        EXPECT_EQ(ui.MessageBox(QStringLiteral("Save changes to Untitled?"), QStringLiteral("Varnel"),
                                c.m_nType | MB_ICONQUESTION),
                  c.m_nAnswer);
        EXPECT_EQ(shown, c.m_Buttons);
    }
}
