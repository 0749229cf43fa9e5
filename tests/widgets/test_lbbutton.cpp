#include "platform/Colors.h"
#include "tests/support/TestTimer.h"
#include "widgets/LbButtons.h"

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

namespace {

int countPixels(const QImage &img, TColor c)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixelColor(x, y) == toQColor(c);
    return n;
}

void hover(TLbButton &b, bool in)
{
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&b, in ? static_cast<QEvent *>(&enter) : &leave);
}

// START as the main window sets it up.
void makeStart(TLbButton &b)
{
    b.resize(130, 40);
    b.setColor(clLime);
    b.setColorLight(clGreen);
    b.setColorShadow(clGreen);
    b.setFontColor(clYellow);
    b.setText(QStringLiteral("START"));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(32);
    f.setBold(true);
    b.setFont(f);
}

TEST(LbButton, GradientBandsAtBothHeights)
{
    TestTimerFactory timers;
    TLbButton start(nullptr, timers.factory());
    makeStart(start);
    // Green channel down the left and right edge: outline (y 1, 38), light to face from
    // y 2 to 10, face to light from y 10 to 39, one-pixel bands, later bands on top.
    const int tall[][2] = {{1, 255},  {2, 140},  {3, 156},  {9, 250},
                           {10, 250}, {11, 246}, {37, 136}, {38, 255}};
    const QImage a = start.grab().toImage();
    for (auto [y, g] : tall) {
        EXPECT_EQ(a.pixelColor(3, y), QColor(0, g, 0)) << "40 px, y " << y;
        EXPECT_EQ(a.pixelColor(126, y), QColor(0, g, 0)) << "40 px, y " << y;
    }
    // The control's own size, light (white) and shadow (grey) on a silver face.
    TLbButton plain(nullptr, timers.factory());
    plain.setColor(clSilver);
    const int small[][2] = {{1, 192}, {2, 234},  {3, 214},  {4, 194}, {5, 194},
                            {6, 198}, {20, 250}, {21, 192}, {22, 128}};
    const QImage b = plain.grab().toImage();
    ASSERT_EQ(b.size(), QSize(100, 23));
    for (auto [y, v] : small)
        EXPECT_EQ(b.pixelColor(50, y), QColor(v, v, v)) << "23 px, y " << y;
}

TEST(LbButton, CornersPressedOutlineAndDisabledCaption)
{
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, Qt::blue);
    parent.setPalette(pal);
    TestTimerFactory timers;
    TLbButton b(&parent, timers.factory());
    makeStart(b);
    b.move(10, 10);
    parent.resize(160, 60);
    const QImage img = parent.grab().toImage();
    EXPECT_EQ(img.pixelColor(10, 10), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(139, 49), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(75, 10), toQColor(clGreen)); // rounded outline

    QTest::mousePress(&b, Qt::LeftButton);
    EXPECT_EQ(b.grab().toImage().pixelColor(1, 20), toQColor(clGreen));
    QTest::mouseRelease(&b, Qt::LeftButton);
    const QImage enabled = b.grab().toImage();
    EXPECT_EQ(enabled.pixelColor(1, 20), toQColor(clLime));
    EXPECT_GT(countPixels(enabled, clYellow), 50);
    EXPECT_EQ(countPixels(enabled, clGray), 0);
    b.setEnabled(false);
    const QImage disabled = b.grab().toImage();
    EXPECT_GT(countPixels(disabled, clGray), 50);
    EXPECT_EQ(countPixels(disabled, clYellow), 0);
}

TEST(LbButton, FocusRectangleFourPixelsInside)
{
    QWidget top;
    TestTimerFactory timers;
    TLbButton b(&top, timers.factory());
    b.setColor(clSilver);
    top.show();
    QApplication::setActiveWindow(&top);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&top));
    b.setFocus();
    ASSERT_TRUE(b.hasFocus());
    // Columns 3 and 96 are plain gradient; in columns 4 and 95 every other pixel is inverted.
    const QImage img = b.grab().toImage();
    for (int y = 5; y <= 17; ++y) {
        const QRgb plain = img.pixel(3, y) & 0xFFFFFF;
        EXPECT_EQ(img.pixel(96, y) & 0xFFFFFF, plain) << y;
        EXPECT_EQ(img.pixel(4, y) & 0xFFFFFF, y % 2 == 0 ? plain ^ 0xFFFFFF : plain) << y;
        EXPECT_EQ(img.pixel(95, y) & 0xFFFFFF, y % 2 == 1 ? plain ^ 0xFFFFFF : plain) << y;
    }
    b.clearFocus();
    const QImage plain = b.grab().toImage();
    EXPECT_EQ(plain.pixel(4, 6), plain.pixel(3, 6));
}

TEST(LbButton, SlowDeceaseFadesInEightStepsOthersDropAtOnce)
{
    TestTimerFactory timers;
    TLbButton b(nullptr, timers.factory());
    ASSERT_EQ(timers.made.size(), 1u);
    TestTimer &fade = *timers.made[0];
    b.resize(100, 40);
    b.setColor(clRed);
    b.setHotTrackColor(clLime);
    b.show();
    int events = 0;
    QObject::connect(&b, &TLbButton::OnMouseEnter, [&](TLbButton *s) { events += s == &b; });
    QObject::connect(&b, &TLbButton::OnMouseExit, [&](TLbButton *s) { events += 10 * (s == &b); });

    hover(b, true);
    EXPECT_EQ(b.grab().toImage().pixelColor(1, 20), toQColor(clLime));
    hover(b, false);
    EXPECT_EQ(b.hotLevel(), 0);
    EXPECT_FALSE(fade.isActive());
    EXPECT_EQ(events, 11);

    b.setSlowDecease(true);
    hover(b, true);
    hover(b, false);
    for (int level = 8; level >= 0; --level) {
        EXPECT_EQ(b.hotLevel(), level);
        if (level == 4) { // half way from red to lime, truncated per channel
            EXPECT_EQ(b.grab().toImage().pixelColor(1, 20), QColor(127, 127, 0));
        }
        fade.advance(30);
    }
    EXPECT_FALSE(fade.isActive());
    EXPECT_EQ(fade.fired, 8);
}

TEST(LbButton, DestroyedMidFadeLeavesNoTimer)
{
    struct WatchedTimer : TestTimer
    {
        bool *gone = nullptr;
        ~WatchedTimer() override { *gone = true; }
    };
    bool gone = false;
    WatchedTimer *timer = nullptr;
    auto b = std::make_unique<TLbButton>(nullptr, [&] {
        auto t = std::make_unique<WatchedTimer>();
        t->gone = &gone;
        timer = t.get();
        return std::unique_ptr<ITimer>(std::move(t));
    });
    b->setSlowDecease(true);
    b->show();
    hover(*b, true);
    hover(*b, false);
    timer->advance(60);
    ASSERT_TRUE(timer->isActive());
    b.reset();
    EXPECT_TRUE(gone);
}

TEST(LbButton, ClickEndsModalDialogAndOpensPopupMenu)
{
    QDialog dialog;
    TestTimerFactory timers;
    TLbButton b(&dialog, timers.factory());
    QMenu menu;
    menu.addAction(QStringLiteral("Eins"));
    b.setPopupMenu(&menu);
    b.setModalResult(1);
    bool visibleInHandler = false;
    QObject::connect(&b, &TLbButton::clicked, [&] { visibleInHandler = dialog.isVisible(); });
    dialog.open();
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_TRUE(visibleInHandler); // the click event comes first
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(menu.pos(), b.mapToGlobal(QPoint(0, b.height())));
    menu.close();
}

} // namespace
