#include "protocol/Journal.h"
#include "protocol/Recovery.h"
#include "tests/support/core/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

// Waits for a condition another thread makes true; the deadline only ends a hung test.
template <class F> bool waitFor(F done, int ms = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

QDateTime at(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

qint32 ms(int h, int m, int s, int milli)
{
    return msOfDay(TimeOfDay{h, m, s, milli});
}

TEST(JournalFormat, FieldsSurviveAnyCharacter)
{
    const QStringList cases[] = {
        {"10:00:00.000", "Zeit", "10:00:00,00", "F8", "-"},
        {"a\tb", "line\nbreak", "cr\r", "back\\slash", "\\t literally"},
        {"", "", "Ümlaut €"},
    };
    for (const QStringList &fields : cases) {
        const QString line = JournalFormat::line(fields);
        EXPECT_FALSE(line.contains(QLatin1Char('\n')));
        EXPECT_FALSE(line.contains(QLatin1Char('\r')));
        EXPECT_EQ(line.count(QLatin1Char('\t')), fields.size() - 1);
        EXPECT_EQ(JournalFormat::fields(line), fields);
    }
}

TEST(JournalFormat, MomentAndDayAroundMidnight)
{
    EXPECT_EQ(JournalFormat::moment(TimeOfDay{7, 5, 3, 9}), QStringLiteral("07:05:03.009"));
    struct Case
    {
        QDateTime now;
        qint32 moment;
        QDate day;
    };
    const Case cases[] = {
        {at(2026, 12, 8, 12, 0, 0), ms(11, 59, 59, 999), QDate(2026, 12, 8)},
        // Stamped before midnight, written after it: the day that ended.
        {at(2026, 12, 9, 0, 0, 1), ms(23, 59, 59, 990), QDate(2026, 12, 8)},
        {at(2026, 12, 9, 0, 0, 1), ms(0, 0, 0, 500), QDate(2026, 12, 9)},
        {at(2026, 12, 8, 23, 59, 59), ms(23, 59, 59, 100), QDate(2026, 12, 8)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(JournalFormat::dayOf(c.now, c.moment), c.day) << c.now.toString().toStdString();
}

class JournalWriter : public ::testing::Test
{
protected:
    void SetUp() override { folder = dir.path() + QStringLiteral("/data/tornelo"); }
    void make()
    {
        writer = std::make_unique<TJournalWriter>(folder, QStringLiteral("recovery.txt"));
        writer->now = [this] { return now; };
        writer->onDurable = [this](quint64 n) { durable = n; };
        writer->onError = [this](TJournalWriter::Part part, const QString &e) {
            std::lock_guard lock(mutex);
            said << QStringLiteral("%1 fails: %2").arg(name(part), e);
            ++errors;
        };
        writer->onRecovered = [this](TJournalWriter::Part part) {
            std::lock_guard lock(mutex);
            said << QStringLiteral("%1 back").arg(name(part));
        };
    }
    static QString name(TJournalWriter::Part part)
    {
        return part == TJournalWriter::Part::Journal ? QStringLiteral("journal")
                                                     : QStringLiteral("recovery");
    }
    QStringList reports()
    {
        std::lock_guard lock(mutex);
        return said;
    }
    QString journal(const QDate &d) const
    {
        return folder + QLatin1Char('/') + JournalFormat::fileName(d);
    }

    QTemporaryDir dir;
    QString folder;
    QDateTime now = at(2026, 12, 8, 10, 0, 0);
    std::unique_ptr<TJournalWriter> writer;
    std::atomic<quint64> durable{0};
    std::atomic<int> errors{0};
    std::mutex mutex;
    QStringList said;
};

TEST_F(JournalWriter, LinesReachTheDaysFileInOrderAndAreReportedDurable)
{
    make();
    QStringList written;
    for (int k = 0; k < 50; ++k) {
        const TimeOfDay t{10, 0, k, 7};
        if (k % 2) {
            EXPECT_EQ(writer->append(msOfDay(t), {"Einfügen", "1\t2"}), quint64(k + 1));
            written << JournalFormat::moment(t) + QStringLiteral("\tEinfügen\t1\\t2");
        } else {
            EXPECT_EQ(writer->appendTime(t, QStringLiteral("x"), QStringLiteral("Maus")),
                      quint64(k + 1));
            written << JournalFormat::moment(t) + QStringLiteral("\tZeit\tx\tMaus\t-");
        }
    }
    writer->wake();
    ASSERT_TRUE(waitFor([&] { return durable.load() == 50; }));
    const QStringList lines = fileLines(journal(QDate(2026, 12, 8)));
    ASSERT_EQ(lines.size(), 51);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("# Tornelo-Journal 2026-12-08")));
    EXPECT_EQ(lines.mid(1), written);
    EXPECT_EQ(errors.load(), 0);

    // A second run appends to the same day's file, without a second heading.
    writer.reset();
    make();
    writer->append(ms(10, 1, 0, 0), {"later"});
    writer->wake();
    ASSERT_TRUE(waitFor([&] { return durable.load() == 1; }));
    const QStringList again = fileLines(journal(QDate(2026, 12, 8)));
    ASSERT_EQ(again.size(), 52);
    EXPECT_EQ(again.last(), QStringLiteral("10:01:00.000\tlater"));
}

TEST_F(JournalWriter, APassBeforeMidnightWrittenAfterItGoesToTheDayThatEnded)
{
    now = at(2026, 12, 9, 0, 0, 2);
    make();
    writer->append(ms(23, 59, 59, 990), {"before"});
    writer->append(ms(0, 0, 1, 0), {"after"});
    writer->wake();
    ASSERT_TRUE(waitFor([&] { return durable.load() == 2; }));
    EXPECT_EQ(fileLines(journal(QDate(2026, 12, 8))).value(1),
              QStringLiteral("23:59:59.990\tbefore"));
    EXPECT_EQ(fileLines(journal(QDate(2026, 12, 9))).value(1),
              QStringLiteral("00:00:01.000\tafter"));
}

// Something else where the folder should be: every line is refused, append never waits;
// the journal and the recovery file each say once that they fail, naming their own file,
// and once that they are written again; the kept lines follow in their order.
TEST_F(JournalWriter, UnwritableFolderReportsEachPartOnceAndKeepsTheLinesForLater)
{
    QDir().mkpath(dir.path() + QStringLiteral("/data"));
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    make();
    for (int k = 1; k <= 5; ++k) {
        writer->append(ms(10, 0, k, 0), {QStringLiteral("line %1").arg(k)});
        EXPECT_TRUE(writer->flush(10000));
        writer->writeRecovery([] { return QByteArray("x"); });
        EXPECT_TRUE(writer->flush(10000));
    }
    const QString reason = QStringLiteral(": Ein Teil des Pfades ist kein Ordner");
    QStringList failing = reports();
    failing.sort();
    EXPECT_EQ(failing, (QStringList{"journal fails: " + journal(QDate(2026, 12, 8)) + reason,
                                    "recovery fails: " + writer->recoveryPath() + reason}));
    EXPECT_EQ(durable.load(), 0u);

    ASSERT_TRUE(QFile::remove(folder));
    writer->append(ms(10, 0, 6, 0), {QStringLiteral("line 6")});
    // Woken as the program wakes it after each line: the retry of the kept lines may have
    // come (and worked) just before this line was queued.
    writer->wake();
    ASSERT_TRUE(waitFor([&] { return durable.load() == 6; }));
    const QStringList lines = fileLines(journal(QDate(2026, 12, 8)));
    ASSERT_EQ(lines.size(), 7);
    for (int k = 1; k <= 6; ++k)
        EXPECT_EQ(lines[k],
                  QStringLiteral("10:00:%1.000\tline %2").arg(k, 2, 10, QLatin1Char('0')).arg(k));
    EXPECT_EQ(reports().mid(2), QStringList{"journal back"});
    writer->writeRecovery([] { return QByteArray("y"); });
    ASSERT_TRUE(writer->flush(10000));
    writer->append(ms(10, 0, 7, 0), {QStringLiteral("line 7")});
    ASSERT_TRUE(writer->flush(10000));
    EXPECT_EQ(reports().mid(2), (QStringList{"journal back", "recovery back"}));
}

TEST_F(JournalWriter, RecoveryFileIsReplacedWholeAndRemoved)
{
    make();
    const QString path = writer->recoveryPath();
    for (const QByteArray &contents : {QByteArray("first\n"), QByteArray("second, longer\n")}) {
        writer->writeRecovery([contents] { return contents; });
        ASSERT_TRUE(writer->flush(10000));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), contents);
    }
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".tmp")));
    writer->removeRecovery();
    ASSERT_TRUE(writer->flush(10000));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(errors.load(), 0);
}

TableData table(int cols, std::vector<QStringList> rows)
{
    TableData t;
    t.colCount = cols;
    t.rows = std::move(rows);
    return t;
}

TEST(RecoveryFormat, RoundTripKeepsEveryCell)
{
    RecoveryFormat::State s;
    s.results = table(4, {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"},
                          {"7", "Anna\tB.", "10:00:01,23", ""},
                          {"", "Zeile\nzwei \\ drei", "", "10:05:00,00"},
                          {"", "", "", ""}});
    s.pred = table(3, {{"", "Zeit", "Nr."}, {"1", "10:06:00,10", "12"}, {"2", "", ""}});
    s.saved = true;
    s.written = QDateTime(QDate(2026, 12, 8), QTime(10, 6, 1, 250));
    const std::optional<RecoveryFormat::State> back =
        RecoveryFormat::decode(RecoveryFormat::encode(s));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->results.colCount, 4);
    EXPECT_EQ(back->results.rows, s.results.rows);
    EXPECT_EQ(back->pred.rows, s.pred.rows);
    EXPECT_TRUE(back->saved);
    EXPECT_EQ(back->written, s.written);
    EXPECT_TRUE(RecoveryFormat::hasData(s));

    // The run as it was; a file without those lines (an earlier version's) is idle, locked.
    for (auto state : {RecoveryFormat::Idle, RecoveryFormat::Running, RecoveryFormat::Stopped})
        for (bool free : {false, true}) {
            s.run = {state, free};
            EXPECT_EQ(RecoveryFormat::decode(RecoveryFormat::encode(s))->run, s.run);
        }
    QByteArray old = RecoveryFormat::encode(s);
    old.replace("Uhr\tgestoppt\n", "").replace("Lichtschranke\tfrei\n", "");
    ASSERT_TRUE(RecoveryFormat::decode(old));
    EXPECT_EQ(RecoveryFormat::decode(old)->run, RecoveryFormat::Run());
}

// The last passes before a crash that the recovery file had not caught up with come back
// from the journal; what the file holds and what was dropped on purpose do not.
TEST(RecoveryFormat, TimesTheJournalHasAndTheFileMissed)
{
    RecoveryFormat::State s;
    s.results = table(4, {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}, {"7", "A", "10:00:01,00", ""}});
    s.pred = table(3, {{"", "Zeit", "Nr."}, {"1", "10:00:02,00", "12"}});
    const qint32 written = QTime(10, 0, 3).msecsSinceStartOfDay();
    const qint32 since = written - 10'000;
    auto zeit = [](const char *at, const char *t) {
        return QByteArray(at) + "\tZeit\t" + t + "\tLichtschranke 4+6\tCOM5\n";
    };
    struct Case
    {
        const char *what;
        QByteArray journal;
        QList<RecoveryFormat::Entry> missing;
    };
    const Case cases[] = {
        {"in the file",
         zeit("10:00:01.000", "10:00:01,00") + zeit("10:00:02.000", "10:00:02,00"),
         {}},
        {"after the last write",
         zeit("10:00:02.000", "10:00:02,00") + zeit("10:00:03.500", "10:00:03,50"),
         {{"10:00:03,50", ""}}},
        {"same hundredth twice, once held",
         zeit("10:00:02.000", "10:00:02,00") + zeit("10:00:02.004", "10:00:02,00"),
         {{"10:00:02,00", ""}}},
        {"before the margin", zeit("09:59:50.000", "09:59:50,00"), {}},
        {"dropped",
         zeit("10:00:03.100", "10:00:03,10") + zeit("10:00:03.200", "10:00:03,20") +
             "10:00:03.300\tZwischenprotokoll löschen\t10:00:03,10\n",
         {{"10:00:03,20", ""}}},
        {"cleared", zeit("10:00:03.100", "10:00:03,10") + "10:00:03.300\tNeu / Löschen\n", {}},
        {"moved after the write: back with its number",
         zeit("10:00:03.100", "10:00:03,10") + "10:00:03.300\tEinfügen\t7\t10:00:03,10\tZeit 2\n",
         {{"10:00:03,10", "7"}}},
        {"garbage lines",
         QByteArray("kein Journal\n\n\t\t\n") + zeit("10:00:04.000", "10:00:04,00"),
         {{"10:00:04,00", ""}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RecoveryFormat::entriesMissing(s, c.journal, since), c.missing) << c.what;

    RecoveryFormat::appendEntries(s.pred, {{"10:00:03,50", ""}, {"10:00:04,00", "9"}});
    EXPECT_EQ(s.pred.rows, (std::vector<QStringList>{{"", "Zeit", "Nr."},
                                                     {"1", "10:00:02,00", "12"},
                                                     {"2", "10:00:03,50", ""},
                                                     {"3", "10:00:04,00", "9"}}));
    // An empty list: the one blank row makes way.
    TableData empty = table(3, {{"", "Zeit", "Nr."}, {"", "", ""}});
    RecoveryFormat::appendEntries(empty, {{"10:00:03,50", ""}});
    EXPECT_EQ(empty.rows,
              (std::vector<QStringList>{{"", "Zeit", "Nr."}, {"1", "10:00:03,50", ""}}));
}

TEST(RecoveryFormat, OnlyAWholeFileIsTaken)
{
    RecoveryFormat::State s;
    s.results = table(3, {{"Nr.", "Fahrer", "Zeit 1"}, {"1", "A", "10:00:00,00"}});
    s.pred = table(3, {{"", "Zeit", "Nr."}, {"1", "10:00:01,00", ""}});
    const QByteArray whole = RecoveryFormat::encode(s);
    ASSERT_TRUE(RecoveryFormat::decode(whole));
    EXPECT_TRUE(RecoveryFormat::decode(QByteArray(whole).replace("\n", "\r\n")));
    // Every table has at least its title row: one said to have none is not whole, even
    // when the rest of the file reads well without it.
    const QByteArray resultsTable =
        "Ergebnisprotokoll\t3\t2\nNr.\tFahrer\tZeit 1\n1\tA\t10:00:00,00\n";
    const QByteArray predTable = "Zwischenprotokoll\t3\t2\n\tZeit\tNr.\n1\t10:00:01,00\t\n";
    ASSERT_TRUE(whole.contains(resultsTable + predTable + "Ende\n"));
    const QByteArray broken[] = {
        QByteArray(whole).replace(resultsTable, "Ergebnisprotokoll\t3\t0\n"),
        QByteArray(whole).replace(predTable, "Zwischenprotokoll\t3\t0\n"),
        whole.left(whole.size() - 5), // cut before its end
        QByteArray(whole).replace("Zwischenprotokoll\t3", "Zwischenprotokoll\t4"),
        QByteArray(whole).replace("Ergebnisprotokoll\t3\t2", "Ergebnisprotokoll\t3\t9"),
        QByteArray(whole).replace("A\t10", "A\tx\t10"), // a cell too many
        QByteArray(),
        QByteArray("irgendein Text\n"),
    };
    for (const QByteArray &b : broken)
        EXPECT_FALSE(RecoveryFormat::decode(b)) << b.toStdString();
}

TEST(RecoveryFormat, TitlesAndBlankCellsAreNoData)
{
    RecoveryFormat::State s;
    s.results = table(3, {{"Nr.", "Fahrer", "Zeit 1"}, {"", " ", ""}});
    s.pred = table(3, {{"", "Zeit", "Nr."}, {"", "", ""}});
    EXPECT_FALSE(RecoveryFormat::hasData(s));
    s.pred.rows[1][2] = QStringLiteral("5");
    EXPECT_TRUE(RecoveryFormat::hasData(s));
}

} // namespace
