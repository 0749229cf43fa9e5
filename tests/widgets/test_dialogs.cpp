#include "platform/AppInfo.h"
#include "widgets/DlgYesNo.h"
#include "widgets/FInfo.h"
#include "widgets/Pictures.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {
QRgb pixel(const QImage &img, int x, int y)
{
    return img.pixel(x, y);
}

// Opens the dialog non-modally and makes it the active window, as exec() would.
void openActive(QDialog &d)
{
    d.open();
    QApplication::setActiveWindow(&d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
}
} // namespace

// ---- Confirmation dialog ----

TEST(DlgYesNo, LayoutCaptionsAndFrame)
{
    AppInfo::setExecutablePathForTesting("/opt/zeit/Tornelo.exe");
    TFDlgYesNo d;
    AppInfo::setExecutablePathForTesting(QString());
    EXPECT_EQ(d.windowTitle(), "Tornelo");
    EXPECT_EQ(d.size(), QSize(273, 116));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_TRUE(d.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(d.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(d.font().pixelSize(), 14);

    EXPECT_EQ(d.Label1->text(), "?");
    EXPECT_EQ(d.Label1->geometry(), QRect(49, 7, 208, 61));
    EXPECT_EQ(d.Label1->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(d.Label1->wordWrap());
    EXPECT_EQ(d.Icon->geometry(), QRect(5, 17, 39, 40));
    EXPECT_EQ(d.Icon->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(d.OKBtn->text(), "Ja");
    EXPECT_EQ(d.OKBtn->geometry(), QRect(48, 74, 92, 31));
    EXPECT_EQ(d.CancelBtn->text(), "Nein");
    EXPECT_EQ(d.CancelBtn->geometry(), QRect(166, 74, 92, 31));
    EXPECT_EQ(d.OKBtn->nextInFocusChain(), d.CancelBtn);
}

struct AnswerCase
{
    const char *name;
    std::function<void(TFDlgYesNo &)> act;
    int expected;
};

class DlgYesNoAnswer : public ::testing::TestWithParam<AnswerCase>
{
};

TEST_P(DlgYesNoAnswer, ClosesWithTheAnswer)
{
    TFDlgYesNo d;
    openActive(d);
    ASSERT_EQ(QApplication::focusWidget(), d.OKBtn);
    GetParam().act(d);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.modalResult(), GetParam().expected);
    EXPECT_EQ(d.result(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DlgYesNoAnswer,
    ::testing::Values(
        AnswerCase{"Escape", [](TFDlgYesNo &d) { QTest::keyClick(&d, Qt::Key_Escape); },
                   TFDlgYesNo::mrCancel},
        AnswerCase{"Enter", [](TFDlgYesNo &d) { QTest::keyClick(d.OKBtn, Qt::Key_Return); },
                   TFDlgYesNo::mrYes},
        AnswerCase{"KeypadEnter", [](TFDlgYesNo &d) { QTest::keyClick(d.OKBtn, Qt::Key_Enter); },
                   TFDlgYesNo::mrYes},
        AnswerCase{"ClickJa", [](TFDlgYesNo &d) { QTest::mouseClick(d.OKBtn, Qt::LeftButton); },
                   TFDlgYesNo::mrYes},
        AnswerCase{"ClickNein",
                   [](TFDlgYesNo &d) { QTest::mouseClick(d.CancelBtn, Qt::LeftButton); },
                   TFDlgYesNo::mrCancel},
        AnswerCase{"TabThenEnterAnswersNein",
                   [](TFDlgYesNo &d) {
                       QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                       ASSERT_EQ(QApplication::focusWidget(), d.CancelBtn);
                       QTest::keyClick(d.CancelBtn, Qt::Key_Return);
                   },
                   TFDlgYesNo::mrCancel},
        AnswerCase{"CloseBox", [](TFDlgYesNo &d) { d.close(); }, TFDlgYesNo::mrCancel}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DlgYesNo, AFreshlyOpenedDialogAnswersEnterWithYesAfterANein)
{
    TFDlgYesNo d;
    openActive(d);
    QTest::keyClick(d.OKBtn, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.CancelBtn);
    QTest::keyClick(d.CancelBtn, Qt::Key_Return);
    EXPECT_EQ(d.modalResult(), TFDlgYesNo::mrCancel);

    // Opened again: the focus is back on "Ja", so Enter answers yes.
    openActive(d);
    EXPECT_EQ(d.modalResult(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(d.modalResult(), TFDlgYesNo::mrYes);
}

TEST(DlgYesNo, ModalRunAnswersEscapeWithCancelAndEnterWithYes)
{
    TFDlgYesNo d;
    d.Label1->setText("Ergebnisse entfernen?");
    auto pressSoon = [&d](Qt::Key key) {
        QTimer::singleShot(0, &d, [&d, key] {
            (void)QTest::qWaitForWindowExposed(&d);
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget()
                                                        : static_cast<QWidget *>(&d),
                            key);
        });
    };
    pressSoon(Qt::Key_Escape);
    EXPECT_EQ(d.showModalResult(), TFDlgYesNo::mrCancel);
    pressSoon(Qt::Key_Return);
    EXPECT_EQ(d.showModalResult(), TFDlgYesNo::mrYes);
    // The question stays until the caller sets a new one.
    EXPECT_EQ(d.Label1->text(), "Ergebnisse entfernen?");
    d.Label1->setText("Andere Frage?");
    pressSoon(Qt::Key_Escape);
    d.showModalResult();
    EXPECT_EQ(d.Label1->text(), "Andere Frage?");
}

TEST(DlgYesNo, AnswerGivenInAdvanceIsUsedOnce)
{
    TFDlgYesNo d;
    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    EXPECT_EQ(d.showModalResult(), TFDlgYesNo::mrYes);
    QTimer::singleShot(0, &d, [&d] {
        (void)QTest::qWaitForWindowExposed(&d);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_EQ(d.showModalResult(), TFDlgYesNo::mrCancel);
}

TEST(DlgYesNo, CentredOnItsOwner)
{
    QMainWindow owner;
    owner.setGeometry(243, 112, 800, 530);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    TFDlgYesNo d(&owner);
    d.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QPoint delta = d.frameGeometry().center() - owner.frameGeometry().center();
    EXPECT_LE(delta.manhattanLength(), 4) << delta.x() << "," << delta.y();
    d.reject();
}

TEST(DlgYesNo, QuestionPictureIsDrawnTransparent)
{
    TFDlgYesNo d;
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    const QImage img = d.grab().toImage();
    const QRgb face = d.palette().color(QPalette::Window).rgb();
    // The picture's corners let the dialog's face through.
    EXPECT_EQ(pixel(img, 5, 17), face);
    EXPECT_EQ(pixel(img, 43, 56), face);
    // Somewhere in the picture: the blue question mark and the white bubble.
    int blue = 0, white = 0;
    for (int y = 17; y < 57; ++y)
        for (int x = 5; x < 44; ++x) {
            const QRgb c = pixel(img, x, y);
            blue += (c & 0xFFFFFF) == (Pictures::QuestionMarkBlue & 0xFFFFFF);
            white += (c & 0xFFFFFF) == 0xFFFFFF;
        }
    EXPECT_GT(blue, 20);
    EXPECT_GT(white, 100);
    d.hide();
}

// ---- Information box ----

TEST(FormInfo, LayoutTextsAndFonts)
{
    TFormInfo f;
    EXPECT_EQ(f.windowTitle(), "Information");
    EXPECT_EQ(f.size(), QSize(272, 331));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_TRUE(f.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(f.Panel1->geometry(), QRect(16, 22, 44, 41));
    EXPECT_EQ(f.Image1->pixmap().size(), QSize(32, 32));

    EXPECT_EQ(f.lbl_Name->text(), "Tornelo");
    EXPECT_EQ(f.lbl_Name->pos(), QPoint(66, 9));
    EXPECT_EQ(f.lbl_Name->font().pixelSize(), 29);
    EXPECT_TRUE(f.lbl_Name->font().bold());
    EXPECT_TRUE(f.lbl_Name->font().underline());
    EXPECT_EQ(f.lbl_Name->palette().color(QPalette::WindowText), QColor(128, 0, 0));

    EXPECT_EQ(f.lbl_Version->text(), "Version 1.6  ( 7.05.2007 )");
    EXPECT_EQ(f.lbl_Version->pos(), QPoint(105, 51));
    EXPECT_EQ(f.lbl_Version->font().pixelSize(), 13);
    EXPECT_TRUE(f.lbl_Version->font().bold());

    EXPECT_EQ(f.Memo1->geometry(), QRect(16, 96, 241, 137));
    EXPECT_TRUE(f.Memo1->isReadOnly());
    EXPECT_EQ(f.Memo1->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(f.Memo1->toPlainText(), TFormInfo::NoticeText);
    EXPECT_TRUE(f.Memo1->toPlainText().contains("Zeitnahmeprogramm"));

    EXPECT_EQ(f.cmd_OK->text(), "Einverstanden");
    EXPECT_EQ(f.cmd_OK->geometry(), QRect(67, 294, 137, 28));
    EXPECT_TRUE(f.cmd_OK->isFlat());
    EXPECT_FALSE(f.cmd_OK->icon().isNull());
    EXPECT_EQ(f.cmd_OK->font().pixelSize(), 13);
    EXPECT_TRUE(f.cmd_OK->font().bold());
    EXPECT_EQ(f.cmd_OK->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
}

TEST(FormInfo, ColoursOnScreen)
{
    TFormInfo f;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    const QImage img = f.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(5, 5)), QColor(166, 202, 240)); // sky blue
    EXPECT_EQ(QColor(img.pixel(262, 280)), QColor(166, 202, 240));
    // Inside the lowered white panel, away from the picture.
    EXPECT_EQ(QColor(img.pixel(19, 60)), QColor(Qt::white));
    // The stopwatch's rim and red hand are in the panel.
    int rim = 0, hand = 0;
    for (int y = 22; y < 63; ++y)
        for (int x = 16; x < 60; ++x) {
            const QRgb c = img.pixel(x, y) & 0xFFFFFF;
            rim += c == (Pictures::WatchRim & 0xFFFFFF);
            hand += c == (Pictures::WatchHand & 0xFFFFFF);
        }
    EXPECT_GT(rim, 30);
    EXPECT_GT(hand, 3);
    // The maroon name is drawn in its label.
    const QRect name = f.lbl_Name->geometry();
    int maroon = 0;
    for (int y = name.top(); y <= name.bottom(); ++y)
        for (int x = name.left(); x <= name.right(); ++x)
            maroon += QColor(img.pixel(x, y)) == QColor(128, 0, 0);
    EXPECT_GT(maroon, 50);
    f.hide();
}

TEST(FormInfo, EscapeAndEinverstandenClose)
{
    TFormInfo f;
    openActive(f);
    // No control takes the focus, so Tab leads nowhere and the box gets every key.
    QTest::keyClick(&f, Qt::Key_Tab);
    QWidget *focus = QApplication::focusWidget();
    EXPECT_TRUE(focus == nullptr || focus == &f) << focus->objectName().toStdString();
    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_FALSE(f.isVisible());

    openActive(f);
    QTest::mouseClick(f.cmd_OK, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());

    openActive(f);
    f.close();
    EXPECT_FALSE(f.isVisible());
}

TEST(FormInfo, EnterDoesNotCloseTheBox)
{
    TFormInfo f;
    openActive(f);
    QTest::keyClick(&f, Qt::Key_Return);
    EXPECT_TRUE(f.isVisible());
    f.reject();
}

// ---- Pictures ----

TEST(Pictures, QuestionAndStopwatchAreTransparentAroundTheirShapes)
{
    for (int size : {32, 64}) {
        const QImage q = Pictures::question(size).toImage();
        EXPECT_EQ(q.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(q.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(q.pixel(size - 1, size - 1)), 0);
        // Inside the bubble, left of the question mark: white.
        EXPECT_EQ(q.pixel(size * 6 / 32, size * 12 / 32), Pictures::BubbleWhite);

        const QImage a = Pictures::application(size).toImage();
        EXPECT_EQ(qAlpha(a.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(a.pixel(size - 1, 0)), 0);
        // The rim, left of the face's centre.
        EXPECT_EQ(a.pixel(size * 4 / 32, size * 37 / 64), Pictures::WatchRim);
        // The face is white between centre and rim at the bottom.
        EXPECT_EQ(a.pixel(size * 14 / 32, size * 47 / 64), qRgb(255, 255, 255));
    }
    const QIcon icon = Pictures::applicationIcon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
}
