#include "tests/support/PaintCounter.h"
#include "widgets/Udigit.h"

#include <QPoint>
#include <QTest>
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

namespace {

constexpr TColor kBack = 0x302010; // distinct from both fills, so rims and gaps show
constexpr TColor kOn = clLime;
constexpr TColor kOff = clMaroon;

struct SegmentShape
{
    const char *name;
    quint8 bit;
    std::vector<QPoint> vertices; // must be the rim, in the background colour
    std::vector<QPoint> inside;   // one pixel inside the rim, in the segment's fill
    std::vector<QPoint> outside;  // one pixel beyond the rim, in the background colour
};

// The segments of a 45 x 89 digit with Thickness 5 and Separation 1.
const std::vector<SegmentShape> &bigDigitShapes()
{
    static const std::vector<SegmentShape> shapes = {
        {"top",
         TDigit::SegTop,
         {{6, 5}, {11, 0}, {33, 0}, {38, 5}, {33, 10}, {11, 10}},
         {{7, 5}, {37, 5}, {22, 1}, {22, 9}},
         {{5, 5}, {39, 5}, {22, 11}}},
        {"middle",
         TDigit::SegMiddle,
         {{6, 44}, {11, 39}, {33, 39}, {38, 44}, {33, 49}, {11, 49}},
         {{7, 44}, {37, 44}, {22, 40}, {22, 48}},
         {{5, 44}, {39, 44}, {22, 38}, {22, 50}}},
        {"bottom",
         TDigit::SegBottom,
         {{6, 83}, {11, 78}, {33, 78}, {38, 83}, {33, 88}, {11, 88}},
         {{7, 83}, {37, 83}, {22, 79}, {22, 87}},
         {{5, 83}, {22, 77}}},
        {"upper-left",
         TDigit::SegUpperLeft,
         {{0, 11}, {5, 6}, {10, 11}, {10, 38}, {5, 43}, {0, 38}},
         {{5, 7}, {5, 42}, {1, 24}, {9, 24}},
         {{5, 5}, {5, 44}, {11, 24}}},
        {"upper-right",
         TDigit::SegUpperRight,
         {{34, 11}, {39, 6}, {44, 11}, {44, 38}, {39, 43}, {34, 38}},
         {{39, 7}, {39, 42}, {35, 24}, {43, 24}},
         {{39, 5}, {39, 44}, {33, 24}}},
        {"lower-left",
         TDigit::SegLowerLeft,
         {{0, 50}, {5, 45}, {10, 50}, {10, 77}, {5, 82}, {0, 77}},
         {{5, 46}, {5, 81}, {1, 63}, {9, 63}},
         {{5, 44}, {5, 83}, {11, 63}}},
        {"lower-right",
         TDigit::SegLowerRight,
         {{34, 50}, {39, 45}, {44, 50}, {44, 77}, {39, 82}, {34, 77}},
         {{39, 46}, {39, 81}, {35, 63}, {43, 63}},
         {{39, 44}, {39, 83}, {33, 63}}},
        {"point",
         TDigit::SegPoint,
         {{44, 88}, {35, 88}, {44, 79}},
         {{43, 87}, {37, 87}, {43, 81}},
         {{39, 83}, {34, 88}, {44, 78}}},
    };
    return shapes;
}

std::unique_ptr<TDigit> bigDigit()
{
    auto d = std::make_unique<TDigit>();
    d->resize(45, 89);
    d->setColorOn(kOn);
    d->setColorOff(kOff);
    d->setColor(kBack);
    d->setThickness(5);
    d->setSeparation(1);
    return d;
}

// One case: how the pattern is set, and the pattern expected.
struct PatternCase
{
    const char *label;
    int value;       // set through Value when >= 0
    int binary;      // set through ValueBinary when >= 0
    quint8 expected; // the lit segments
};

void PrintTo(const PatternCase &c, std::ostream *os)
{
    *os << c.label;
}

class DigitPattern : public ::testing::TestWithParam<PatternCase>
{
};

TEST_P(DigitPattern, SegmentsLitExactlyWithinTheirVertices)
{
    const PatternCase &c = GetParam();
    auto d = bigDigit();
    if (c.value >= 0) {
        d->setValue(c.value == 0 ? 1 : 0); // make sure the setter really runs
        d->setValue(c.value);
    }
    if (c.binary >= 0)
        d->setValueBinary(quint8(c.binary));
    ASSERT_EQ(d->ValueBinary(), c.expected);

    const QImage img = d->grab().toImage();
    ASSERT_EQ(img.size(), QSize(45, 89));
    for (const SegmentShape &s : bigDigitShapes()) {
        const TColor fill = (c.expected & s.bit) ? kOn : kOff;
        for (const QPoint &p : s.vertices)
            EXPECT_EQ(pixelAt(img, p.x(), p.y()), kBack)
                << s.name << " vertex " << p.x() << "," << p.y();
        for (const QPoint &p : s.inside)
            EXPECT_EQ(pixelAt(img, p.x(), p.y()), fill)
                << s.name << " inside " << p.x() << "," << p.y();
        for (const QPoint &p : s.outside)
            EXPECT_EQ(pixelAt(img, p.x(), p.y()), kBack)
                << s.name << " outside " << p.x() << "," << p.y();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Digits, DigitPattern,
    ::testing::Values(PatternCase{"digit0", 0, -1, 125}, PatternCase{"digit1", 1, -1, 80},
                      PatternCase{"digit2", 2, -1, 55}, PatternCase{"digit3", 3, -1, 87},
                      PatternCase{"digit4", 4, -1, 90}, PatternCase{"digit5", 5, -1, 79},
                      PatternCase{"digit6", 6, -1, 111}, PatternCase{"digit7", 7, -1, 81},
                      PatternCase{"digit8", 8, -1, 127}, PatternCase{"digit9", 9, -1, 95},
                      PatternCase{"binary0", -1, 0, 0}, PatternCase{"binary255", -1, 255, 255}),
    [](const ::testing::TestParamInfo<PatternCase> &i) { return std::string(i.param.label); });

TEST(DigitDefaults, SmallDigitTopSegmentAndPoint)
{
    TDigit d;
    EXPECT_EQ(d.size(), QSize(16, 32));
    EXPECT_EQ(d.Value(), 0);
    EXPECT_EQ(d.ValueBinary(), 125);
    EXPECT_EQ(d.ColorOn(), clYellow);
    EXPECT_EQ(d.ColorOff(), clBlack);
    EXPECT_EQ(d.Color(), clBlack);
    EXPECT_EQ(d.Thickness(), 2);
    EXPECT_EQ(d.Separation(), 1);
    EXPECT_EQ(d.BorderStyle(), TDigit::bsSingle);

    // A background unlike the unlit fill, so that the rim can be told apart.
    d.setColor(kBack);
    d.setValueBinary(TDigit::SegTop | TDigit::SegPoint);
    QImage img = d.grab().toImage();
    for (const QPoint p : {QPoint(3, 2), QPoint(5, 0), QPoint(10, 0), QPoint(12, 2), QPoint(10, 4),
                           QPoint(5, 4), QPoint(15, 31), QPoint(12, 31), QPoint(15, 28)})
        EXPECT_EQ(pixelAt(img, p.x(), p.y()), kBack) << "vertex " << p.x() << "," << p.y();
    for (const QPoint p : {QPoint(4, 2), QPoint(11, 2), QPoint(7, 1), QPoint(7, 3), QPoint(14, 30)})
        EXPECT_EQ(pixelAt(img, p.x(), p.y()), clYellow) << "lit " << p.x() << "," << p.y();
    for (const QPoint p : {QPoint(2, 2), QPoint(13, 2), QPoint(7, 5), QPoint(11, 31),
                           QPoint(15, 27), QPoint(13, 29)})
        EXPECT_EQ(pixelAt(img, p.x(), p.y()), kBack) << "outside " << p.x() << "," << p.y();

    // Unlit, the point takes the off colour; with off = background the control is blank.
    d.setValueBinary(0);
    d.setColorOff(kBack);
    img = d.grab().toImage();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(pixelAt(img, x, y), kBack) << x << "," << y;
}

struct ValueCase
{
    int from;
    int to;
    int stored;
    int overflows;
};

class DigitValue : public ::testing::TestWithParam<ValueCase>
{
};

TEST_P(DigitValue, StoresDigitOrZeroAndReportsOverflow)
{
    const ValueCase c = GetParam();
    TDigit d;
    d.setValue(c.from);
    int overflows = 0;
    QObject *sender = nullptr;
    d.OnOverflow = [&](QObject *s) {
        ++overflows;
        sender = s;
    };
    d.setValue(c.to);
    EXPECT_EQ(d.Value(), c.stored);
    EXPECT_EQ(d.ValueBinary(), TDigit::digitPattern(c.stored));
    EXPECT_EQ(overflows, c.overflows);
    if (c.overflows) {
        EXPECT_EQ(sender, &d);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DigitValue,
                         ::testing::Values(ValueCase{0, 9, 9, 0}, ValueCase{9, 0, 0, 0},
                                           ValueCase{5, 10, 0, 1}, ValueCase{5, -1, 0, 1},
                                           ValueCase{0, 10, 0, 1}, ValueCase{0, -1, 0, 1},
                                           ValueCase{3, INT_MAX, 0, 1},
                                           ValueCase{3, INT_MIN, 0, 1}));

TEST(DigitValue, PatternTable)
{
    const quint8 expected[10] = {0x7D, 0x50, 0x37, 0x57, 0x5A, 0x4F, 0x6F, 0x51, 0x7F, 0x5F};
    TDigit d;
    for (int v : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
        d.setValue(v);
        EXPECT_EQ(d.ValueBinary(), expected[v]) << v;
    }
}

// Shown on the offscreen screen, so that repaints are really delivered and counted.
class DigitRepaint : public ::testing::Test
{
protected:
    void SetUp() override
    {
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        counter.watch(&d);
        flushPaints();
        counter.reset();
    }
    int paintsAfter()
    {
        flushPaints();
        const int n = counter.count(&d);
        counter.reset();
        return n;
    }
    TDigit d;
    PaintCounter counter;
};

TEST_F(DigitRepaint, OverflowFromZeroRepaintsAndSameValueDoesNothing)
{
    int overflows = 0;
    d.OnOverflow = [&](QObject *) { ++overflows; };
    d.setValue(10);
    EXPECT_EQ(overflows, 1);
    EXPECT_EQ(paintsAfter(), 1);
    EXPECT_EQ(d.Value(), 0);

    // The pattern set directly is not restored by setting the value it already has.
    d.setValueBinary(255);
    EXPECT_EQ(paintsAfter(), 1);
    d.setValue(0);
    EXPECT_EQ(d.ValueBinary(), 255);
    EXPECT_EQ(paintsAfter(), 0);
    EXPECT_EQ(overflows, 1);

    d.setValue(-1);
    EXPECT_EQ(overflows, 2);
    EXPECT_EQ(d.ValueBinary(), 125);
    EXPECT_EQ(paintsAfter(), 1);
}

TEST_F(DigitRepaint, SettersRepaintOnlyOnChange)
{
    struct Setter
    {
        const char *name;
        std::function<void()> same;
        std::function<void()> change;
    };
    const std::vector<Setter> setters = {
        {"Value", [&] { d.setValue(0); }, [&] { d.setValue(4); }},
        {"ValueBinary", [&] { d.setValueBinary(d.ValueBinary()); },
         [&] { d.setValueBinary(d.ValueBinary() ^ 1); }},
        {"ColorOn", [&] { d.setColorOn(clYellow); }, [&] { d.setColorOn(clRed); }},
        {"ColorOff", [&] { d.setColorOff(clBlack); }, [&] { d.setColorOff(clGray); }},
        {"Color", [&] { d.setColor(clBlack); }, [&] { d.setColor(clWhite); }},
        {"Thickness", [&] { d.setThickness(2); }, [&] { d.setThickness(3); }},
        {"Thickness refused", [&] { d.setThickness(20); }, [&] { d.setThickness(8); }},
        {"Separation", [&] { d.setSeparation(1); }, [&] { d.setSeparation(-4); }},
        {"BorderStyle", [&] { d.setBorderStyle(TDigit::bsSingle); },
         [&] { d.setBorderStyle(TDigit::bsNone); }},
    };
    for (const Setter &s : setters) {
        s.same();
        EXPECT_EQ(paintsAfter(), 0) << s.name << " unchanged";
        s.change();
        EXPECT_EQ(paintsAfter(), 1) << s.name << " changed";
    }
}

TEST_F(DigitRepaint, NewColoursReachThePixels)
{
    d.setColorOn(clRed);
    d.setColor(clBlue);
    flushPaints();
    const QImage img = d.grab().toImage();
    EXPECT_EQ(pixelAt(img, 7, 2), clRed);  // top segment, lit by the digit 0
    EXPECT_EQ(pixelAt(img, 7, 8), clBlue); // the hollow inside the 0
}

struct ThicknessCase
{
    int w;
    int h;
    int t;
    bool accepted;
};

class DigitThickness : public ::testing::TestWithParam<ThicknessCase>
{
};

TEST_P(DigitThickness, LimitedByHalfWidthAndHalfHeight)
{
    const ThicknessCase c = GetParam();
    TDigit d;
    d.resize(c.w, c.h);
    d.setThickness(c.t);
    EXPECT_EQ(d.Thickness(), c.accepted ? c.t : 2);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DigitThickness,
    ::testing::Values(ThicknessCase{16, 32, 9, false}, ThicknessCase{16, 32, 8, true},
                      ThicknessCase{17, 33, 8, true}, ThicknessCase{17, 33, 9, false},
                      ThicknessCase{40, 10, 6, false}, ThicknessCase{40, 10, 5, true},
                      ThicknessCase{45, 89, 22, true}, ThicknessCase{45, 89, 23, false}));

TEST(DigitThickness, CheckedAgainstTheCurrentSize)
{
    TDigit d; // 16 x 32
    d.setThickness(10);
    EXPECT_EQ(d.Thickness(), 2); // refused before the size is set
    d.resize(45, 89);
    d.setThickness(10);
    EXPECT_EQ(d.Thickness(), 10);
}

TEST(DigitMouse, EventsCarrySenderButtonAndPosition)
{
    TDigit d;
    d.resize(45, 89);
    std::vector<QString> seen;
    d.OnMouseDown = [&](QObject *s, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
        seen.push_back(QStringLiteral("down %1 %2 %3 %4").arg(s == &d).arg(int(b)).arg(x).arg(y));
    };
    d.OnMouseUp = [&](QObject *s, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
        seen.push_back(QStringLiteral("up %1 %2 %3 %4").arg(s == &d).arg(int(b)).arg(x).arg(y));
    };
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    QTest::mouseClick(&d, Qt::RightButton, Qt::NoModifier, QPoint(12, 40));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], QStringLiteral("down 1 2 12 40"));
    EXPECT_EQ(seen[1], QStringLiteral("up 1 2 12 40"));
}

} // namespace

namespace {

// Unchecked Separation, a negative Thickness and tiny sizes draw odd shapes, never fail.
TEST(DigitOddShapes, PaintWithoutFailing)
{
    for (const QSize size : {QSize(1, 1), QSize(2, 3), QSize(16, 32), QSize(300, 40)}) {
        for (const int t : {-3, 0, 1}) {
            for (const int s : {-1000, 0, 1000}) {
                TDigit d;
                d.resize(size);
                d.setThickness(t);
                d.setSeparation(s);
                d.setValueBinary(255);
                const QImage img = d.grab().toImage();
                EXPECT_EQ(img.size(), size);
            }
        }
    }
}

} // namespace
