#include "tests/support/GridHelpers.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <numeric>

namespace {

// A grid with one title row and the given texts in column 0 and the row's input
// number in column 1, so that every test can see where each row came from.
std::unique_ptr<TSortGrid> keyedGrid(const QStringList &keys)
{
    QList<QStringList> rows{{"Key", "From"}};
    for (int i = 0; i < keys.size(); ++i)
        rows << QStringList{keys[i], QString::number(i + 1)};
    return makeSortGrid(rows);
}

class SortTest : public ::testing::Test
{
protected:
    LocaleScope locale{QLocale::c()};
};

} // namespace

TEST_F(SortTest, CaseModesKeepEqualKeysInInputOrder)
{
    auto g = keyedGrid({"b", "A", "a", "B"});
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"A", "a", "b", "B"}));

    auto s = keyedGrid({"b", "A", "a", "B"});
    s->SortOptions().SortCaseSensitive = true;
    s->SortByColumn(0);
    EXPECT_EQ(dataColumn(*s, 0), (QStringList{"A", "B", "a", "b"}));
    EXPECT_EQ(s->Cells(0, 0), "Key"); // the title row never moves
}

TEST_F(SortTest, DescendingNeverReversesEqualKeys)
{
    auto g = keyedGrid({"x", "y", "x", "z", "y", "x"});
    g->SortOptions().SortDirection = sdDescending;
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"z", "y", "y", "x", "x", "x"}));
    EXPECT_EQ(dataColumn(*g, 1), (QStringList{"4", "2", "5", "1", "3", "6"}));
}

struct StyleCase
{
    TSortStyle style;
    QStringList input;
    QStringList expected;
};

class SortStyleOrder : public ::testing::TestWithParam<StyleCase>
{
protected:
    LocaleScope locale{QLocale::c()};
};

TEST_P(SortStyleOrder, OrdersAsTheStyleSays)
{
    const StyleCase &c = GetParam();
    auto g = keyedGrid(c.input);
    g->SortOptions().SortStyle = c.style;
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, SortStyleOrder,
    ::testing::Values(StyleCase{ssNormal, {"9", "10"}, {"10", "9"}},
                      StyleCase{ssNumeric, {"10", "9"}, {"9", "10"}},
                      StyleCase{ssNumeric, {"2.5", "-1", "10", "2"}, {"-1", "2", "2.5", "10"}},
                      // A pair with a text that is no number is compared as text.
                      StyleCase{ssNumeric, {"9", "1a"}, {"1a", "9"}},
                      StyleCase{ssNumeric, {"1,000", "2"}, {"1,000", "2"}},
                      StyleCase{ssNumericExtended, {"A10", "A9", "A1"}, {"A1", "A9", "A10"}},
                      StyleCase{ssNumericExtended, {"x12y", "x2y"}, {"x2y", "x12y"}},
                      StyleCase{ssNumericExtended, {"B1", "", "A2", ""}, {"", "", "A2", "B1"}},
                      StyleCase{ssTime, {"10:00:00", "9:00:00", "x"}, {"9:00:00", "10:00:00", "x"}},
                      StyleCase{ssTime, {"23:59:59", "9:05:00"}, {"9:05:00", "23:59:59"}}));

TEST(SortCompare, NumericExtendedEdgeCases)
{
    EXPECT_EQ(TSortGrid::CompareNumericExtended("A9", "A10"), -1);
    EXPECT_EQ(TSortGrid::CompareNumericExtended("A10", "A9"), 1);
    EXPECT_EQ(TSortGrid::CompareNumericExtended("x2y", "x12y"), -1);
    EXPECT_EQ(TSortGrid::CompareNumericExtended("A5", "A5"), 0);
    // An empty text is smaller than any other.
    EXPECT_EQ(TSortGrid::CompareNumericExtended("", "A"), -1);
    EXPECT_EQ(TSortGrid::CompareNumericExtended("A", ""), 1);
    EXPECT_EQ(TSortGrid::CompareNumericExtended("", ""), 0);
    // Equal numbers written differently still have an order, the same both ways.
    EXPECT_EQ(TSortGrid::CompareNumericExtended("A07", "A7"),
              -TSortGrid::CompareNumericExtended("A7", "A07"));
    EXPECT_NE(TSortGrid::CompareNumericExtended("A07", "A7"), 0);
    // Text comparison is by character code, and a prefix is smaller.
    EXPECT_EQ(TSortGrid::CompareText("ab", "abc"), -1);
    EXPECT_EQ(TSortGrid::CompareText("Z", "a"), -1);
}

TEST_F(SortTest, SecondaryIndexBreaksTies)
{
    auto g = makeSortGrid({{"N", "K1", "K2"},
                           {"r1", "b", "2"},
                           {"r2", "a", "9"},
                           {"r3", "b", "1"},
                           {"r4", "a", "3"}});
    g->SortOptions().SecondaryIndex = "2";
    g->SortByColumn(1);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"r4", "r2", "r3", "r1"}));
    // The primary column listed among the secondary ones changes nothing.
    g->SortOptions().SecondaryIndex = "1, 2";
    g->SortOptions().SortDirection = sdDescending;
    g->SortByColumn(1);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"r1", "r3", "r2", "r4"}));
}

TEST_F(SortTest, AutomaticStyleIsDetectedAndKept)
{
    auto g = keyedGrid({"10", "2", "1"});
    g->SortOptions().SortStyle = ssAutomatic;
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"1", "2", "10"}));
    EXPECT_EQ(g->SortOptions().SortStyle, ssNumeric);

    auto t = keyedGrid({"b", "10", "a"});
    t->SortOptions().SortStyle = ssAutomatic;
    t->SortByColumn(0);
    EXPECT_EQ(t->SortOptions().SortStyle, ssNormal);
    // An empty cell converts as nothing.
    auto e = keyedGrid({"1", "", "3"});
    EXPECT_EQ(e->DetectSortStyle(0), ssNormal);
    EXPECT_EQ(keyedGrid({"10:00:00", "9:15:00"})->DetectSortStyle(0), ssTime);
}

TEST_F(SortTest, EventsStylesAndCustomComparison)
{
    auto g = makeSortGrid({{"A", "B"}, {"aaa", "3"}, {"b", "1"}, {"cc", "2"}});
    QStringList log;
    g->OnBeginSort = [&](QObject *, int &col) {
        log << QString("begin %1").arg(col);
        col = 0; // the handler picks the column
        g->SortOptions().CustomCompare = [](const QString &a, const QString &b) {
            return int(a.size()) - int(b.size());
        };
    };
    g->OnGetSortStyle = [&](QObject *, int col, TSortStyle &style) {
        log << QString("style %1 %2").arg(col).arg(int(style));
        style = ssCustom;
    };
    g->OnEndSort = [&](QObject *, int col) { log << QString("end %1").arg(col); };
    g->OnEndUpdate = [&](QObject *) { log << "endupdate"; };
    g->SortByColumn(1);
    EXPECT_EQ(log, (QStringList{"begin 1", QString("style 0 %1").arg(int(ssAutomatic)), "end 0",
                                "endupdate"}));
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"b", "cc", "aaa"}));
    EXPECT_FALSE(g->SortOptions().CustomCompare); // cleared after the sort
    EXPECT_EQ(g->SortOptions().SortStyle, ssCustom);
    EXPECT_FALSE(g->Sorting());

    // ssCustom without a comparison falls back to the texts instead of failing.
    g->OnBeginSort = nullptr;
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"aaa", "b", "cc"}));
}

TEST_F(SortTest, CanSortOffDoesNothing)
{
    auto g = keyedGrid({"b", "a"});
    g->SortOptions().CanSort = false;
    g->SortOptions().SortCol = 1;
    bool began = false;
    g->OnBeginSort = [&](QObject *, int &) { began = true; };
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"b", "a"}));
    EXPECT_EQ(g->SortOptions().SortCol, 1);
    EXPECT_FALSE(began);
}

TEST_F(SortTest, SelectedRowStaysOnItsData)
{
    auto g = keyedGrid({"d", "c", "b", "a"});
    g->setRow(2); // "c"
    g->SortByColumn(0);
    EXPECT_EQ(g->Row(), 3);
    EXPECT_EQ(g->Cells(0, g->Row()), "c");
    EXPECT_EQ(g->SelectedRows(), (std::set<int>{3}));
}

TEST_F(SortTest, RowsBeyondRowCountAreLeftAlone)
{
    auto g = keyedGrid({"c", "b", "a"});
    g->setRowCount(3); // "a" is now kept beyond the last row
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"b", "c"}));
    g->setRowCount(4);
    EXPECT_EQ(g->Cells(0, 3), "a");
}

TEST_F(SortTest, HeaderClickChoosesDirection)
{
    auto g = keyedGrid({"b", "a", "c"});
    g->SortOptions().SortCol = 0;
    g->HeaderClick(0, Qt::LeftButton); // same column: descending
    EXPECT_EQ(g->SortOptions().SortDirection, sdDescending);
    EXPECT_EQ(dataColumn(*g, 0), (QStringList{"c", "b", "a"}));
    g->HeaderClick(0, Qt::LeftButton); // descending becomes ascending
    EXPECT_EQ(g->SortOptions().SortDirection, sdAscending);
    g->HeaderClick(1, Qt::LeftButton); // another column: ascending
    EXPECT_EQ(g->SortOptions().SortDirection, sdAscending);
    EXPECT_EQ(g->SortOptions().SortCol, 1);
    g->HeaderClick(1, Qt::RightButton); // right button: always descending
    EXPECT_EQ(g->SortOptions().SortDirection, sdDescending);

    // With CanSort off only the direction changes; a later explicit sort uses it.
    auto p = keyedGrid({"b", "a", "c"});
    p->SortOptions().CanSort = false;
    p->SortOptions().SortCol = 0;
    p->HeaderClick(0, Qt::LeftButton);
    EXPECT_EQ(p->SortOptions().SortDirection, sdDescending);
    EXPECT_EQ(dataColumn(*p, 0), (QStringList{"b", "a", "c"}));
    p->SortOptions().CanSort = true;
    p->SortByColumn(0);
    p->SortOptions().CanSort = false;
    EXPECT_EQ(dataColumn(*p, 0), (QStringList{"c", "b", "a"}));
}

// ---------------------------------------------------------------------------------------
// For random tables the grid orders rows like a reference stable sort.

namespace {

struct RefRow
{
    QString key;
    double num = 0;
    QString prefix;
    qint64 n = 0;
    int from = 0;
};

QString randomWord(QRandomGenerator &rng)
{
    static const char letters[] = "aAbBcC";
    QString s;
    const int len = rng.bounded(0, 4);
    for (int i = 0; i < len; ++i)
        s += QLatin1Char(letters[rng.bounded(6)]);
    return s;
}

int customCompare(const QString &a, const QString &b)
{
    // Longer texts first, then by text.
    if (a.size() != b.size())
        return a.size() > b.size() ? -1 : 1;
    return TSortGrid::CompareText(a, b);
}

} // namespace

class SortProperty : public ::testing::TestWithParam<std::tuple<TSortStyle, TSortDirection, bool>>
{
protected:
    LocaleScope locale{QLocale::c()};
};

TEST_P(SortProperty, MatchesReferenceStableSort)
{
    const auto [style, dir, caseSensitive] = GetParam();
    QRandomGenerator rng(1234 + int(style) * 10 + int(dir) * 2 + int(caseSensitive));
    for (int round = 0; round < 20; ++round) {
        const int n = rng.bounded(0, 60);
        std::vector<RefRow> ref;
        QList<QStringList> rows{{"K", "From"}};
        for (int i = 0; i < n; ++i) {
            RefRow r;
            r.from = i + 1;
            switch (style) {
            case ssNumeric:
            case ssAutomatic:
                r.num = rng.bounded(-50, 50) / (rng.bounded(2) ? 1.0 : 4.0);
                r.key = QString::number(r.num);
                break;
            case ssNumericExtended:
                r.prefix = rng.bounded(2) ? "A" : "B";
                r.n = rng.bounded(1, 300);
                r.key = r.prefix + QString::number(r.n);
                break;
            case ssTime: {
                const QTime t(rng.bounded(24), rng.bounded(60), rng.bounded(60));
                r.num = t.msecsSinceStartOfDay();
                r.key = t.toString("HH:mm:ss");
                break;
            }
            default:
                r.key = randomWord(rng);
                break;
            }
            ref.push_back(r);
            rows << QStringList{r.key, QString::number(r.from)};
        }
        auto lower = [&](const QString &s) {
            if (caseSensitive)
                return s;
            QString l = s;
            for (QChar &c : l)
                if (c >= 'A' && c <= 'Z')
                    c = c.toLower();
            return l;
        };
        auto cmp = [&](const RefRow &a, const RefRow &b) {
            switch (style) {
            case ssNumeric:
            case ssAutomatic:
            case ssTime:
                return a.num < b.num ? -1 : (a.num > b.num ? 1 : 0);
            case ssNumericExtended:
                if (a.prefix != b.prefix)
                    return a.prefix < b.prefix ? -1 : 1;
                return a.n < b.n ? -1 : (a.n > b.n ? 1 : 0);
            case ssCustom:
                return customCompare(lower(a.key), lower(b.key));
            default:
                return TSortGrid::CompareText(lower(a.key), lower(b.key));
            }
        };
        std::stable_sort(ref.begin(), ref.end(), [&](const RefRow &a, const RefRow &b) {
            return dir == sdAscending ? cmp(a, b) < 0 : cmp(a, b) > 0;
        });
        QStringList expected;
        for (const RefRow &r : ref)
            expected << QString::number(r.from);

        auto g = makeSortGrid(rows);
        g->SortOptions().SortStyle = style;
        g->SortOptions().SortDirection = dir;
        g->SortOptions().SortCaseSensitive = caseSensitive;
        if (style == ssCustom)
            g->OnBeginSort = [&](QObject *, int &) {
                g->SortOptions().CustomCompare = customCompare;
            };
        g->SortByColumn(0);
        if (n == 0)
            EXPECT_EQ(g->Cells(0, 1), "");
        else
            ASSERT_EQ(dataColumn(*g, 1), expected) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(AllStyles, SortProperty,
                         ::testing::Combine(::testing::Values(ssAutomatic, ssNormal, ssNumeric,
                                                              ssNumericExtended, ssTime, ssCustom),
                                            ::testing::Values(sdAscending, sdDescending),
                                            ::testing::Bool()));

TEST_F(SortTest, DateTimeStyleUsesTheLocale)
{
    LocaleScope german{QLocale(QLocale::German, QLocale::Germany)};
    const QLocale de;
    const QDateTime a(QDate(2024, 3, 1), QTime(8, 0));
    const QDateTime b(QDate(2023, 12, 24), QTime(18, 30));
    const QDateTime c(QDate(2024, 3, 1), QTime(7, 59));
    auto g = keyedGrid({de.toString(a, QLocale::ShortFormat), de.toString(b, QLocale::ShortFormat),
                        de.toString(c, QLocale::ShortFormat)});
    EXPECT_EQ(g->DetectSortStyle(0), ssDateTime);
    g->SortOptions().SortStyle = ssDateTime;
    g->SortByColumn(0);
    EXPECT_EQ(dataColumn(*g, 1), (QStringList{"2", "3", "1"}));
    // The German decimal comma under ssNumeric.
    auto n = keyedGrid({"10,5", "9,75", "10"});
    n->SortOptions().SortStyle = ssNumeric;
    n->SortByColumn(0);
    EXPECT_EQ(dataColumn(*n, 0), (QStringList{"9,75", "10", "10,5"}));
}

// ---------------------------------------------------------------------------------------
// The detected style depends on the set of cells, never on their order.

struct DetectCase
{
    const char *locale;
    QStringList cells;
    TSortStyle expected;
};

class DetectOverPermutations : public ::testing::TestWithParam<DetectCase>
{
};

TEST_P(DetectOverPermutations, EveryOrderGivesTheSameStyle)
{
    const DetectCase &c = GetParam();
    LocaleScope scope{QLocale(QString::fromLatin1(c.locale))};
    QStringList cells = c.cells;
    std::sort(cells.begin(), cells.end());
    int orders = 0;
    do {
        auto g = keyedGrid(cells);
        ASSERT_EQ(g->DetectSortStyle(0), c.expected) << cells.join(" | ").toStdString();
        ++orders;
    } while (std::next_permutation(cells.begin(), cells.end()));
    EXPECT_GT(orders, 1);
}

INSTANTIATE_TEST_SUITE_P(
    MixedColumns, DetectOverPermutations,
    ::testing::Values(
        // A number among times: no style fits every cell.
        DetectCase{"C", {"1", "10:00:00", "9:00:00"}, ssNormal},
        DetectCase{"C", {"1", "2", "10:00:00", "9:15"}, ssNormal},
        DetectCase{"C", {"1", "2.5", "-3", "10"}, ssNumeric},
        DetectCase{"C", {"10:00:00", "9:15", "23:59:59", "0:01"}, ssTime},
        DetectCase{"C", {"1", "x", "3", "4"}, ssNormal}, DetectCase{"C", {"", "1", "2"}, ssNormal},
        DetectCase{"de_DE", {"01.03.24 08:00", "24.12.23 18:30", "1"}, ssNormal},
        DetectCase{"de_DE", {"01.03.24 08:00", "10:00:00", "02.03.24"}, ssNormal},
        DetectCase{"de_DE", {"01.03.24 08:00", "24.12.23 18:30", "02.03.24"}, ssDateTime},
        DetectCase{"de_DE", {"10,5", "9,75", "10", "-1"}, ssNumeric}));
