#include "app/Safekeeping.h"
#include "tests/support/WindowControls.h"
#include "protocol/Journal.h"
#include "protocol/ProtocolTables.h"
#include "protocol/Recovery.h"
#include "tests/support/FileSeams.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ResultsGrid.h"
#include "tests/support/TestTimer.h"
#include "tests/support/core/Files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const QString kAsk = QStringLiteral("Letztes Protokoll wiederherstellen?");
const QString kJournalError = QStringLiteral("Das Journal kann nicht geschrieben werden");

// Every event of every journal in folder (the day's file follows the wall clock, not the
// test clock), each as its fields without the moment; program start and end left out.
std::vector<QStringList> journalEvents(const QString &folder, QStringList *moments = nullptr)
{
    std::vector<QStringList> out;
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("journal-*.txt")}, QDir::Files, QDir::Name);
    for (const QString &name : files)
        for (const QString &line : fileLines(folder + QLatin1Char('/') + name)) {
            if (line.startsWith(QLatin1Char('#')))
                continue;
            QStringList f = JournalFormat::fields(line);
            if (f.value(1) == QStringLiteral("Programmstart") ||
                f.value(1) == QStringLiteral("Programmende"))
                continue;
            if (moments)
                *moments << f.value(0);
            out.push_back(f.mid(1));
        }
    return out;
}

std::optional<RecoveryFormat::State> recoveryIn(const QString &folder)
{
    QFile f(folder + QStringLiteral("/recovery.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return RecoveryFormat::decode(f.readAll());
}

class Keeping : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid());
        folder = work.filePath(QStringLiteral("data"));
        MainWindowFixture::SetUp();
    }
    void keep()
    {
        w->timerFactory = timers.factory();
        w->startSafekeeping(folder);
        ASSERT_NE(w->safekeeping, nullptr);
        ASSERT_GE(timers.made.size(), 2u);
        soon = timers.made[timers.made.size() - 2];
        check = timers.made.back();
    }
    // Lets the check an event asked for run, then waits until the journal's thread has
    // written.
    void sync()
    {
        soon->fire();
        ASSERT_TRUE(w->safekeeping->writer()->flush(10000));
    }
    // A new window over the same folder, as the next start of the program.
    void reopen(std::optional<int> answer, const std::function<void()> &before = {})
    {
        dlg.reset();
        w.reset();
        w = std::make_unique<TFormMain>(&clock);
        dlg = std::make_unique<TFDlgYesNo>(w.get());
        dlg->Label1->clear();
        w->show();
        QApplication::setActiveWindow(w.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        if (before)
            before();
        if (answer)
            TFDlgYesNo::setNextAnswerForTesting(*answer);
        keep();
    }
    void click(QToolButton *b)
    {
        ASSERT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    // Three times, the first numbered and moved into the results, the second numbered only.
    void someWork()
    {
        key(Qt::Key_F4);
        zeit(10, 0, 1, 0);
        zeit(10, 0, 2, 500);
        zeit(10, 0, 3, 990);
        number(1, "12");
        pred().setRow(1);
        click(ui(*w).bInsert);
        number(1, "7");
    }
    QString recoveryPath() const { return folder + QStringLiteral("/recovery.txt"); }

    QTemporaryDir work;
    QString folder;
    TestTimerFactory timers;
    TestTimer *check = nullptr;
    TestTimer *soon = nullptr;
};

TEST_F(Keeping, TimesAndMovesAreJournalledEnoughToRebuildTheProtocol)
{
    keep();
    someWork();
    res().setRow(1);
    click(ui(*w).bRestore);
    click(ui(*w).bDel);
    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    click(ui(*w).sbCls);
    sync();

    const std::vector<QStringList> expected = {
        {"Zeit", "10:00:01,00", "F8", "-"},
        {"Zeit", "10:00:02,50", "F8", "-"},
        {"Zeit", "10:00:03,99", "F8", "-"},
        {"Einfügen", "12", "10:00:01,00", "Zeit 1"},
        {"Zurück", "12", "10:00:01,00", "Zeit 1"},
        {"Zwischenprotokoll löschen", "10:00:03,99"},
        {"Neu / Löschen"},
    };
    QStringList moments;
    EXPECT_EQ(journalEvents(folder, &moments), expected);
    // A time's line carries the moment it was taken to the millisecond.
    EXPECT_EQ(moments.mid(0, 3), (QStringList{"10:00:01.000", "10:00:02.500", "10:00:03.990"}));
}

TEST_F(Keeping, SourceAndPortOfATime)
{
    struct Case
    {
        QString source;
        QStringList fields;
    };
    const Case cases[] = {
        {"F8", {"Zeit", "t", "F8", "-"}},
        {"Maus", {"Zeit", "t", "Maus", "-"}},
        {"Lichtschranke 4+6 COM5", {"Zeit", "t", "Lichtschranke 4+6", "COM5"}},
        {"Lichtschranke 7+8 COM12", {"Zeit", "t", "Lichtschranke 7+8", "COM12"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(JournalFormat::timeFields(QStringLiteral("t"), c.source), c.fields)
            << c.source.toStdString();
}

// A time reaches the recovery file at once; a typed cell with the next check, within the
// second.
TEST_F(Keeping, RecoveryFileFollowsTimesAtOnceAndEditsWithTheCheck)
{
    keep();
    EXPECT_EQ(check->interval(), 1000);
    key(Qt::Key_F4);
    zeit(9, 30, 0, 0);
    sync();
    std::optional<RecoveryFormat::State> s = recoveryIn(folder);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pred.cell(1, 1), QStringLiteral("09:30:00,00"));

    res().setCells(1, 1, QStringLiteral("Anna")); // a change no command announces
    sync();
    EXPECT_EQ(recoveryIn(folder)->results.cell(1, 1), QString());
    check->fire();
    sync();
    EXPECT_EQ(recoveryIn(folder)->results.cell(1, 1), QStringLiteral("Anna"));
}

// The file as the running program left it (no clean close, as after a crash) brings
// both tables back exactly, also with another number of time columns.
TEST_F(Keeping, YesRestoresBothTablesExactly)
{
    keep();
    w->tables->setCountRunden(6);
    w->tables->ApplyTimeColumnCount();
    someWork();
    res().setCells(1, 1, QStringLiteral("Zeile\tmit TAB"));
    check->fire();
    sync();
    const TableData predBefore = TProtocolTables::snapshot(w->view->predTable());
    const TableData resBefore = TProtocolTables::snapshot(w->view->resultsTable());
    QFile::remove(work.filePath(QStringLiteral("crash.txt")));
    ASSERT_TRUE(QFile::copy(recoveryPath(), work.filePath(QStringLiteral("crash.txt"))));

    w->safekeeping->close();
    QFile::remove(recoveryPath());
    ASSERT_TRUE(QFile::copy(work.filePath(QStringLiteral("crash.txt")), recoveryPath()));
    reopen(TFDlgYesNo::mrYes);
    EXPECT_EQ(dlg->Label1->text(), kAsk);
    EXPECT_EQ(w->tables->CountRunden(), 6);
    EXPECT_EQ(TProtocolTables::snapshot(w->view->predTable()).rows, predBefore.rows);
    EXPECT_EQ(TProtocolTables::snapshot(w->view->resultsTable()).rows, resBefore.rows);
    // The restored state goes on: the next time joins the entries and is kept too.
    key(Qt::Key_F4);
    zeit(10, 1, 0, 0);
    sync();
    EXPECT_EQ(recoveryIn(folder)->pred.rowCount(), predBefore.rowCount() + 1);
}

// The port is open while the question waits: a time taken then joins the restored ones.
TEST_F(Keeping, ATimeTakenWhileAskingIsKept)
{
    keep();
    someWork();
    w->safekeeping->close();
    std::vector<QStringList> expected = TProtocolTables::snapshot(w->view->predTable()).rows;
    expected.push_back({"3", "10:30:00,00", ""});
    reopen(TFDlgYesNo::mrYes, [&] {
        key(Qt::Key_F4);
        zeit(10, 30, 0, 0);
    });
    EXPECT_EQ(TProtocolTables::snapshot(w->view->predTable()).rows, expected);
}

TEST_F(Keeping, NoKeepsTheFileAsideAndStartsEmpty)
{
    keep();
    someWork();
    w->safekeeping->close();
    const QByteArray before = fileBytes(recoveryPath());

    reopen(TFDlgYesNo::mrCancel);
    EXPECT_EQ(dlg->Label1->text(), kAsk);
    EXPECT_TRUE(TProtocolTables::tableEmpty(w->view->predTable()));
    EXPECT_TRUE(rowBlank(res(), 1));
    EXPECT_FALSE(QFile::exists(recoveryPath()));
    const QStringList aside =
        QDir(folder).entryList({QStringLiteral("recovery-*.txt")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(fileBytes(folder + QLatin1Char('/') + aside[0]), before);
    EXPECT_TRUE(aside[0].startsWith(QStringLiteral("recovery-") +
                                    QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))))
        << aside[0].toStdString();
    EXPECT_TRUE(ui(*w).StatusBar1->currentMessage().contains(aside[0]));

    // The next start has nothing to offer.
    w->safekeeping->close();
    reopen(std::nullopt);
    EXPECT_EQ(dlg->Label1->text(), QString());
}

// A clean close removes the file only when nothing would be lost.
TEST_F(Keeping, CleanCloseRemovesTheFileOnlyWhenNothingWouldBeLost)
{
    FileSeams seams;
    struct Case
    {
        const char *name;
        std::function<void()> work;
        bool kept;
    };
    // A time taken and moved into the results protocol as car 3.
    const auto moved = [&] {
        zeit(10, 0, 0, 0);
        number(1, "3");
        pred().setRow(1);
        click(ui(*w).bInsert);
    };
    const Case cases[] = {
        {"nothing taken", [] {}, false},
        {"an entry left", [&] { zeit(10, 0, 0, 0); }, true},
        {"results unsaved", [&] { moved(); }, true},
        {"results saved",
         [&] {
             moved();
             seams.choose(work.filePath(QStringLiteral("p.txt")), 1);
             click(ui(*w).sbSave);
         },
         false},
        {"only a web page written",
         [&] {
             moved();
             seams.choose(work.filePath(QStringLiteral("p.html")), 2);
             click(ui(*w).sbSave);
         },
         true},
        {"changed after saving",
         [&] {
             moved();
             seams.choose(work.filePath(QStringLiteral("p.txt")), 1);
             click(ui(*w).sbSave);
             res().setCells(1, 1, QStringLiteral("B"));
         },
         true},
        {"cleared",
         [&] {
             moved();
             TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
             click(ui(*w).sbCls);
         },
         false},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        folder = work.filePath(QStringLiteral("case%1").arg(++n));
        reopen(std::nullopt);
        key(Qt::Key_F4);
        c.work();
        check->fire();
        sync();
        w->FormDestroy();
        EXPECT_EQ(QFile::exists(recoveryPath()), c.kept);
    }
}

// The data folder cannot be written: every time is still taken, the status bar says so
// once.
void timingGoesOnWithOneMessage(TFormMain &w, const std::function<void()> &more)
{
    QSignalSpy messages(ui(w).StatusBar1, &QStatusBar::messageChanged);
    more();
    auto errors = [&] {
        int k = 0;
        for (const QList<QVariant> &m : messages)
            k += m.value(0).toString().startsWith(kJournalError);
        return k;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return errors() == 1; }, 10000));
    more();
    ASSERT_TRUE(w.safekeeping->writer()->flush(10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(errors(), 1);
    EXPECT_EQ(ui(w).SortGridPred->RowCount(), 7);
}

TEST_F(Keeping, UnwritableDataFolderTimingGoesOnWithOneMessage)
{
    {
        QFile blocker(folder); // a file where the folder should be
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    keep();
    key(Qt::Key_F4);
    int s = 0;
    timingGoesOnWithOneMessage(*w, [&] {
        for (int k = 0; k < 3; ++k)
            zeit(11, 0, s++, 0);
    });
}

// Root writes into read-only folders: ctest repeats this as user nobody.
using ReadOnlyDataFolder = Keeping;
TEST_F(ReadOnlyDataFolder, TimingGoesOnWithOneMessage)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders; ctest repeats this test as "
                        "user nobody";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    keep();
    key(Qt::Key_F4);
    int s = 0;
    timingGoesOnWithOneMessage(*w, [&] {
        for (int k = 0; k < 3; ++k)
            zeit(11, 0, s++, 0);
    });
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

// The window as the program makes it, in a process of its own: ten times, two moves and
// a save, then it waits to be killed. Only Crash.* starts it.
using CrashChild = Keeping;
TEST_F(CrashChild, WorksUntilKilled)
{
    const QString out = qEnvironmentVariable("TORNELO_CRASH_CHILD");
    if (out.isEmpty())
        GTEST_SKIP() << "started by Crash.*";
    w->startSafekeeping(); // the user's data folder, as the program has it
    key(Qt::Key_F4);
    for (int k = 0; k < 10; ++k)
        zeit(10, 0, k, 10 * k + 5);
    for (const char *nr : {"3", "8"}) {
        number(1, nr);
        pred().setRow(1);
        click(ui(*w).bInsert);
    }
    w->SaveProtocolText(out + QStringLiteral("/before.txt"));
    key(Qt::Key_F3); // the barrier is free when the program dies
    QCoreApplication::processEvents();
    ASSERT_TRUE(w->safekeeping->writer()->flush(10000));
    // One more time, killed before the recovery file has it: only the journal does.
    zeit(10, 0, 30, 0);
    QStringList rows;
    for (const QStringList &r : TProtocolTables::snapshot(w->view->predTable()).rows)
        rows << r.join(QLatin1Char('\t'));
    QFile f(out + QStringLiteral("/pred.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(rows.join(QLatin1Char('\n')).toUtf8() + '\n' + w->safekeeping->folder().toUtf8() +
            '\n');
    f.close();
    ASSERT_TRUE(w->safekeeping->writer()->flush(10000));
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    for (;;)
        QTest::qWait(100);
}

// Killed without a word after ten times and two moves, and a last time that only the
// journal has: the next start brings back both tables as a save just before the kill had
// them, the last time with them, and the run as it was.
using Crash = Keeping;
TEST_F(Crash, KilledAfterTenTimesAndTwoMovesLosesNothing)
{
    QTemporaryDir out;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TORNELO_CRASH_CHILD"), out.path());
    // Its temporary folders (settings, data) are not removed by a killed process.
    ASSERT_TRUE(QDir(out.path()).mkdir(QStringLiteral("tmp")));
    env.insert(QStringLiteral("TMPDIR"), out.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=CrashChild.*")});
    ASSERT_TRUE(child.waitForStarted(10000));
    QByteArray said;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!said.contains("READY\n") && child.state() == QProcess::Running &&
           std::chrono::steady_clock::now() < deadline) {
        child.waitForReadyRead(1000);
        said += child.readAllStandardOutput();
    }
    ASSERT_TRUE(said.contains("READY\n")) << said.toStdString();
    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    QStringList left = fileLines(out.filePath(QStringLiteral("pred.txt")));
    ASSERT_EQ(left.size(), 1 + 9 + 1); // titles, nine entries, the data folder
    folder = left.takeLast();
    ASSERT_TRUE(folder.startsWith(out.path())) << folder.toStdString();

    std::vector<QStringList> expected;
    for (int k = 0; k < 10; ++k)
        expected.push_back({QStringLiteral("Zeit"),
                            TChronometer::timeText(TimeOfDay{10, 0, k, 10 * k + 5}),
                            QStringLiteral("F8"), QStringLiteral("-")});
    expected.push_back({QStringLiteral("Einfügen"), QStringLiteral("3"),
                        TChronometer::timeText(TimeOfDay{10, 0, 0, 5}), QStringLiteral("Zeit 1")});
    expected.push_back({QStringLiteral("Einfügen"), QStringLiteral("8"),
                        TChronometer::timeText(TimeOfDay{10, 0, 1, 15}), QStringLiteral("Zeit 1")});
    expected.push_back({QStringLiteral("Zeit"), QStringLiteral("10:00:30,00"), QStringLiteral("F8"),
                        QStringLiteral("-")});
    EXPECT_EQ(journalEvents(folder), expected);
    const std::optional<RecoveryFormat::State> kept = recoveryIn(folder);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->pred.rowCount(), 1 + 8); // the last time had not reached it

    TFDlgYesNo::setNextAnswerForTesting(TFDlgYesNo::mrYes);
    keep();
    EXPECT_EQ(dlg->Label1->text(), kAsk);
    w->SaveProtocolText(out.filePath(QStringLiteral("after.txt")));
    EXPECT_EQ(fileBytes(out.filePath(QStringLiteral("after.txt"))),
              fileBytes(out.filePath(QStringLiteral("before.txt"))));
    QStringList rows;
    for (const QStringList &r : TProtocolTables::snapshot(w->view->predTable()).rows)
        rows << r.join(QLatin1Char('\t'));
    EXPECT_EQ(rows, left);
    // The run goes on as it was: the clock runs and the barrier takes the next pass.
    EXPECT_TRUE(w->chrono->running());
    EXPECT_EQ(w->guard->lockState(), 1);
}

// A stream of passes, some of them numbered and moved, until the process is killed; it says
// where its data folder is once the first passes are in. Only CrashAtRandom.* starts it.
using StreamChild = Keeping;
TEST_F(StreamChild, TakesTimesUntilKilled)
{
    if (qEnvironmentVariable("TORNELO_STREAM_CHILD").isEmpty())
        GTEST_SKIP() << "started by CrashAtRandom.*";
    w->startSafekeeping();
    key(Qt::Key_F4);
    int ms = 0;
    for (int k = 0; k < 2000; ++k) {
        ms += 7 + k % 13;
        zeit(11, ms / 60000, ms / 1000 % 60, ms % 1000);
        if (k % 5 == 4) {
            number(pred().RowCount() - 1, QString::number(k % 17));
            pred().setRow(pred().RowCount() - 1);
            click(ui(*w).bInsert);
        }
        QCoreApplication::processEvents();
        if (k == 5) {
            std::fputs(("READY " + w->safekeeping->folder() + "\n").toUtf8().constData(), stdout);
            std::fflush(stdout);
        }
        ::usleep(4000);
    }
}

// Killed at a random moment of a stream of passes, twenty times: after "Ja" every time
// the journal has is in the tables.
using CrashAtRandom = Keeping;
TEST_F(CrashAtRandom, EveryJournalledTimeComesBack)
{
    QRandomGenerator rng(909);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        QTemporaryDir out;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TORNELO_STREAM_CHILD"), QStringLiteral("1"));
        ASSERT_TRUE(QDir(out.path()).mkdir(QStringLiteral("tmp")));
        env.insert(QStringLiteral("TMPDIR"), out.filePath(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=StreamChild.*")});
        ASSERT_TRUE(child.waitForStarted(10000));
        QByteArray said;
        const QDeadlineTimer ready(60000);
        auto readyLine = [&] {
            const qsizetype at = said.indexOf("READY ");
            return at >= 0 && said.indexOf('\n', at) > at;
        };
        while (!readyLine() && child.state() == QProcess::Running && !ready.hasExpired()) {
            child.waitForReadyRead(1000);
            said += child.readAllStandardOutput();
        }
        ASSERT_TRUE(readyLine()) << said.toStdString();
        const qsizetype at = said.indexOf("READY ") + 6;
        folder = QString::fromUtf8(said.mid(at, said.indexOf('\n', at) - at).trimmed());
        ASSERT_TRUE(folder.startsWith(out.path())) << folder.toStdString();
        // Somewhere in the stream: right after a pass, a move, a write of the file.
        child.waitForFinished(int(rng.bounded(1500)));
        ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(10000));

        QStringList journalled;
        for (const QStringList &e : journalEvents(folder))
            if (e.value(0) == QStringLiteral("Zeit"))
                journalled << e.value(1);
        ASSERT_GT(journalled.size(), 5);

        reopen(TFDlgYesNo::mrYes);
        QStringList held;
        for (int r = 1; r < pred().RowCount(); ++r)
            held << pred().Cells(1, r);
        for (int r = 1; r < res().RowCount(); ++r)
            for (int c = 2; c < res().ColCount(); ++c)
                held << res().Cells(c, r);
        for (const QString &t : journalled)
            EXPECT_TRUE(held.removeOne(t)) << t.toStdString();
        w->safekeeping->close();
    }
}
