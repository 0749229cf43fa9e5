#include "app/Safekeeping.h"

#include "platform/SystemError.h"
#include "platform/Termination.h"
#include "protocol/ProtocolTables.h"
#include "widgets/SortGrid.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

TSafekeeping::TSafekeeping(TSortGrid &pred, TSortGrid &results, IClock &clock,
                           const QString &folder, QObject *parent)
    : QObject(parent), m_pred(pred), m_results(results), m_clock(clock), m_folder(folder)
{
    m_writer = std::make_unique<TJournalWriter>(folder, QLatin1String(RecoveryName));
    // Each part says once when it fails and once when it works again; the journal's thread
    // keeps trying, and timing goes on either way.
    auto say = [this](const QString &text) {
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                if (showStatus)
                    showStatus(text);
            },
            Qt::QueuedConnection);
    };
    m_writer->onError = [say](TJournalWriter::Part part, const QString &error) {
        say((part == TJournalWriter::Part::Journal
                 ? QStringLiteral("Das Journal kann nicht geschrieben werden: ")
                 : QStringLiteral("Die Wiederherstellungsdatei kann nicht geschrieben werden: ")) +
            error + QStringLiteral(". Die Zeitnahme läuft weiter."));
    };
    m_writer->onRecovered = [say](TJournalWriter::Part part) {
        say(part == TJournalWriter::Part::Journal
                ? QStringLiteral("Das Journal wird wieder geschrieben.")
                : QStringLiteral("Die Wiederherstellungsdatei wird wieder geschrieben."));
    };
    // A recovery file that could not be written is tried again at the next check, changed
    // or not, so that it catches up as soon as the disk takes it.
    m_writer->onRecoveryWritten = [this](bool ok) {
        if (!ok)
            QMetaObject::invokeMethod(
                this, [this] { m_written.reset(); }, Qt::QueuedConnection);
    };
}

TSafekeeping::~TSafekeeping()
{
    close();
}

QString TSafekeeping::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString TSafekeeping::recoveryPath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(RecoveryName);
}

QString TSafekeeping::asideName(const QDateTime &written)
{
    return QStringLiteral("recovery-") + written.toString(QStringLiteral("yyyy-MM-dd-HHmmss")) +
           QStringLiteral(".txt");
}

void TSafekeeping::journalNow(const QStringList &fields)
{
    if (!m_writer)
        return;
    m_writer->append(JournalFormat::momentMs(m_clock.now()), fields);
}

void TSafekeeping::timeTaken(const QString &timeText, const TimeOfDay &t, const QString &source)
{
    if (!m_writer)
        return;
    m_writer->appendTime(t, timeText, source);
    checkSoon();
}

void TSafekeeping::command(const QStringList &event)
{
    journalNow(event);
    checkSoon();
}

void TSafekeeping::passIgnored(const TimeOfDay &t, const QString &timeText, const QString &pair,
                               const QString &port, const QString &reason)
{
    if (!m_writer)
        return;
    m_writer->append(JournalFormat::momentMs(t),
                     {QStringLiteral("Durchfahrt ohne Zeit"), timeText, pair, port, reason});
    m_writer->wake();
}

void TSafekeeping::loaded(const QString &fileName)
{
    journalNow({QStringLiteral("Laden"), fileName});
    checkSoon();
}

void TSafekeeping::saved(const QString &fileName, quint64 revision)
{
    m_savedRevision = revision;
    journalNow({QStringLiteral("Speichern"), fileName});
    checkSoon();
}

bool TSafekeeping::resultsSaved() const
{
    return m_savedRevision && *m_savedRevision == m_results.contentRevision();
}

TSafekeeping::Seen TSafekeeping::current() const
{
    return Seen{m_pred.contentRevision(), m_results.contentRevision(), resultsSaved(),
                runState ? runState() : RecoveryFormat::Run()};
}

void TSafekeeping::checkSoon()
{
    // A zero timer: it runs once the event loop is back, after the tables took the change,
    // and costs the UI thread less than a queued call. Several events share one check.
    if (m_keeping && m_soon && !m_soon->isActive())
        m_soon->start(0);
}

void TSafekeeping::checkNow()
{
    if (!m_keeping || !m_writer)
        return;
    // The event that brought the lines is handled: they need not wait for the next look.
    m_writer->wake();
    const Seen now = current();
    if (m_written && *m_written == now)
        return;
    m_written = now;
    // The results protocol is copied only when it changed: a taken time changes the
    // intermediate protocol alone, and the results may have thousands of rows.
    if (!m_resultsCopy || m_resultsCopyRevision != now.results) {
        auto copy = std::make_shared<TableData>(TProtocolTables::snapshot(m_results));
        m_resultsCopyEmpty = RecoveryFormat::tableEmpty(*copy);
        m_resultsCopy = std::move(copy);
        m_resultsCopyRevision = now.results;
    }
    auto pred = std::make_shared<const TableData>(TProtocolTables::snapshot(m_pred));
    if (m_resultsCopyEmpty && RecoveryFormat::tableEmpty(*pred)) {
        m_writer->removeRecovery();
        return;
    }
    // Turned into text on the journal's thread: the UI thread only copies the cells.
    // Dated by the clock the journal's lines are dated by: the journal is read against it
    // after a crash.
    const TimeOfDay t = m_clock.now();
    const QDateTime written(QDate::currentDate(), QTime(t.hour, t.minute, t.second, t.millisecond));
    m_writer->writeRecovery(
        [results = m_resultsCopy, pred = std::move(pred), saved = now.saved, written,
         run = now.run] { return RecoveryFormat::encode(*results, *pred, saved, written, run); });
}

void TSafekeeping::start(const QString &programName, const QString &version)
{
    if (!m_writer || m_keeping)
        return;
    // The journal is read for the recovery before this run adds to it.
    offerRecovery({QStringLiteral("Programmstart"), programName, version});
    if (m_recoveryOff)
        return;
    m_keeping = true;
    m_written.reset();
    checkNow();
    m_soon = m_makeTimer();
    m_soon->setSingleShot(true);
    m_soon->onTimeout = [this] { checkNow(); };
    m_check = m_makeTimer();
    m_check->onTimeout = [this] { checkNow(); };
    m_check->start(CheckMs);
}

std::optional<RecoveryFormat::State> TSafekeeping::readRecovery()
{
    const QString path = recoveryPath();
    const QFileInfo info(path);
    // Something else in its place (a folder, a pipe) is left alone; writing will say why.
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > RecoveryFormat::MaxFileBytes) {
        m_recoveryOff = true;
        if (showStatus)
            showStatus(
                QStringLiteral("Die Wiederherstellungsdatei kann nicht gelesen werden: ") + path +
                (f.isOpen() ? QStringLiteral(": zu groß")
                            : QStringLiteral(": ") + SystemError::translated(f.errorString())) +
                QStringLiteral(". Sie bleibt, wie sie ist."));
        return std::nullopt;
    }
    std::optional<RecoveryFormat::State> state = RecoveryFormat::decode(f.readAll());
    f.close();
    if (!state) {
        const QString aside = setAside(nullptr);
        if (!aside.isEmpty() && showStatus)
            showStatus(QStringLiteral("Die Wiederherstellungsdatei ist unvollständig und liegt "
                                      "jetzt unter: ") +
                       aside);
        return std::nullopt;
    }
    if (!RecoveryFormat::hasData(*state)) {
        QFile::remove(path);
        return std::nullopt;
    }
    return state;
}

void TSafekeeping::offerRecovery(const QStringList &startLine)
{
    std::optional<RecoveryFormat::State> state = readRecovery();
    // The last passes before a crash that only the journal has, read before this run's
    // own lines follow them.
    const QStringList extra = state ? journalledSince(*state) : QStringList();
    journalNow(startLine);
    if (!state)
        return;
    if (askRestore && askRestore()) {
        RecoveryFormat::State restored = *state;
        if (!extra.isEmpty())
            RecoveryFormat::appendEntries(restored.pred, extra);
        if (restore)
            restore(restored);
        if (!extra.isEmpty() && showStatus)
            showStatus(QStringLiteral("Letztes Protokoll wiederhergestellt, dazu %1 Zeit(en) "
                                      "aus dem Journal: %2")
                           .arg(extra.size())
                           .arg(extra.join(QStringLiteral(", "))));
        if (state->saved)
            m_savedRevision = m_results.contentRevision();
        journalNow({QStringLiteral("Wiederhergestellt"), recoveryPath()});
        return;
    }
    // Asked to end while the question was open: nobody answered it, and the file waits
    // for the next start as it is.
    if (Termination::requested()) {
        m_recoveryOff = true;
        return;
    }
    const QString aside = setAside(&*state);
    if (aside.isEmpty())
        return;
    journalNow({QStringLiteral("Beiseitegelegt"), aside});
    if (showStatus)
        showStatus(QStringLiteral("Das letzte Protokoll liegt jetzt unter: ") + aside);
}

QStringList TSafekeeping::journalledSince(const RecoveryFormat::State &state) const
{
    const QDateTime written =
        state.written.isValid() ? state.written : QFileInfo(recoveryPath()).lastModified();
    if (!written.isValid())
        return {};
    // A pass is stamped before its entry reaches the file; a window busy for a while hands
    // it over late. Times the file holds are not taken twice.
    constexpr qint32 MarginMs = 10'000;
    QStringList missing;
    for (int d = 0; d < 2; ++d) {
        QFile f(m_folder + QLatin1Char('/') + JournalFormat::fileName(written.date().addDays(d)));
        if (!f.open(QIODevice::ReadOnly) || f.size() > RecoveryFormat::MaxFileBytes)
            continue;
        // The next day's journal holds only what came after midnight.
        const qint32 since = d == 0 ? qMax(0, written.time().msecsSinceStartOfDay() - MarginMs) : 0;
        RecoveryFormat::State seen = state;
        RecoveryFormat::appendEntries(seen.pred, missing);
        missing += RecoveryFormat::timesMissing(seen, f.readAll(), since);
    }
    return missing;
}

QString TSafekeeping::setAside(const RecoveryFormat::State *state)
{
    const QString path = recoveryPath();
    const QDateTime written =
        state && state->written.isValid() ? state->written : QFileInfo(path).lastModified();
    const QString base = asideName(written);
    QString target = m_folder + QLatin1Char('/') + base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_folder + QLatin1Char('/') + base.chopped(4) + QLatin1Char('-') +
                 QString::number(n) + QStringLiteral(".txt");
    if (QFile::rename(path, target))
        return target;
    // Kept where it is and not overwritten: the protocols of this run are not kept then.
    m_recoveryOff = true;
    if (showStatus)
        showStatus(
            QStringLiteral("Die Wiederherstellungsdatei kann nicht beiseitegelegt werden: ") +
            path);
    return QString();
}

void TSafekeeping::close()
{
    if (!m_writer)
        return;
    if (m_check)
        m_check->stop();
    if (m_soon)
        m_soon->stop();
    if (m_keeping) {
        const bool predEmpty = RecoveryFormat::tableEmpty(TProtocolTables::snapshot(m_pred));
        const bool resultsEmpty = RecoveryFormat::tableEmpty(TProtocolTables::snapshot(m_results));
        if (predEmpty && (resultsEmpty || resultsSaved())) {
            m_writer->removeRecovery();
        } else {
            m_written.reset();
            checkNow();
        }
    }
    m_keeping = false;
    journalNow({QStringLiteral("Programmende")});
    // Its destructor writes what is queued and ends the thread.
    m_writer.reset();
}
