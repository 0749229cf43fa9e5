#include "app/Safekeeping.h"

#include "platform/SystemError.h"
#include "platform/Termination.h"
#include "protocol/ProtocolTables.h"
#include "protocol/RecoveryMirror.h"
#include "protocol/Table.h"
#include "protocol/TableFollower.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

TSafekeeping::TSafekeeping(ITable &pred, ITable &results, IClock &clock, const QString &folder,
                           QObject *parent)
    : QObject(parent), m_pred(pred), m_results(results), m_clock(clock), m_folder(folder)
{
    m_writer = std::make_unique<TJournalWriter>(folder, QLatin1String(RecoveryName));
    // Each part says once when it fails and once when it works again; the journal's thread
    // keeps trying, and timing goes on either way.
    auto say = [this](const QString &text) {
        QMetaObject::invokeMethod(
            this, [this, text] { emit status(text); }, Qt::QueuedConnection);
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
    // A recovery file that could not be written is tried again a second later, changed or
    // not, so that it catches up as soon as the disk takes it (its thread keeps its lines).
    m_writer->onRecoveryWritten = [this](bool ok) {
        if (!ok)
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_pending = true;
                    if (m_keeping && !m_cooldown->isActive())
                        m_cooldown->start(CheckMs);
                },
                Qt::QueuedConnection);
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
    m_writer->append(msOfDay(m_clock.now()), fields);
    wakeSoon();
}

void TSafekeeping::timeTaken(const QString &timeText, const TimeOfDay &t, const QString &source)
{
    if (!m_writer)
        return;
    m_writer->appendTime(t, timeText, source);
    wakeSoon();
}

void TSafekeeping::command(const QStringList &event)
{
    journalNow(event);
}

void TSafekeeping::passIgnored(const TimeOfDay &t, const QString &timeText, const QString &pair,
                               const QString &port, const QString &reason)
{
    if (!m_writer)
        return;
    m_writer->append(msOfDay(t),
                     {QStringLiteral("Durchfahrt ohne Zeit"), timeText, pair, port, reason});
    wakeSoon();
}

void TSafekeeping::loaded(const QString &fileName)
{
    journalNow({QStringLiteral("Laden"), fileName});
}

void TSafekeeping::saved(const QString &fileName, quint64 revision)
{
    m_savedRevision = revision;
    journalNow({QStringLiteral("Speichern"), fileName});
    stateChanged();
}

bool TSafekeeping::resultsSaved() const
{
    return m_savedRevision && *m_savedRevision == m_results.revision();
}

void TSafekeeping::wakeSoon()
{
    // Once the event loop is back, after the window has shown what the event brought;
    // several events share one wake-up of the journal's thread.
    if (m_wakeQueued || !m_writer)
        return;
    m_wakeQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_wakeQueued = false;
            if (m_writer)
                m_writer->wake();
        },
        Qt::QueuedConnection);
}

void TSafekeeping::tablesChanged()
{
    m_pending = true;
    // Under a stream of passes the file follows at most once a second (the journal has
    // every line meanwhile); a change after a quiet second goes at once.
    if (m_keeping && !m_cooldown->isActive() && !m_soon->isActive())
        m_soon->start(0);
}

void TSafekeeping::stateChanged()
{
    // The run and the saved mark change seldom and matter at once.
    m_pending = true;
    if (m_keeping && !m_soon->isActive())
        m_soon->start(0);
}

void TSafekeeping::checkNow()
{
    if (!m_keeping || !m_writer || !m_pending)
        return;
    m_pending = false;
    m_cooldown->start(CheckMs);
    m_mirror->hand(m_resultsChanges->take(), m_predChanges->take());
    if (!hasData(m_pred) && (!hasData(m_results))) {
        m_writer->removeRecovery();
        return;
    }
    // Dated by the clock the journal's lines are dated by: the journal is read against it
    // after a crash.
    const TimeOfDay t = m_clock.now();
    TRecoveryMirror::Header head;
    head.saved = resultsSaved();
    head.written =
        QDateTime(QDate::currentDate(), QTime(t.hour, t.minute, t.second, t.millisecond));
    head.run = runState ? runState() : RecoveryFormat::Run();
    // Made on the recovery thread from the lines it keeps: the UI thread hands over only
    // the rows that changed.
    m_writer->writeRecovery([mirror = m_mirror, head] { return mirror->file(head); });
}

bool TSafekeeping::hasData(const ITable &t)
{
    // Stops at the first data cell that holds something: a table with data says so at once.
    for (int r = 1; r < t.rowCount(); ++r)
        if (!TProtocolTables::rowBlank(t, r))
            return true;
    return false;
}

void TSafekeeping::start(const QString &programName, const QString &version,
                         const QString &priority)
{
    if (!m_writer || m_keeping)
        return;
    // The journal is read for the recovery before this run adds to it.
    QStringList startLine{QStringLiteral("Programmstart"), programName, version};
    if (!priority.isEmpty())
        startLine << priority;
    offerRecovery(startLine);
    wakeSoon();
    if (m_recoveryOff)
        return;
    m_keeping = true;
    m_soon = m_makeTimer();
    m_soon->setSingleShot(true);
    m_soon->onTimeout = [this] { checkNow(); };
    m_cooldown = m_makeTimer();
    m_cooldown->setSingleShot(true);
    m_cooldown->onTimeout = [this] { checkNow(); };
    // The file starts from the tables as they are; from here on it follows their changes.
    m_mirror = std::make_shared<TRecoveryMirror>();
    m_predChanges = std::make_unique<TTableFollower>(m_pred);
    m_resultsChanges = std::make_unique<TTableFollower>(m_results);
    connect(&m_pred, &ITable::changed, this, &TSafekeeping::tablesChanged);
    connect(&m_results, &ITable::changed, this, &TSafekeeping::tablesChanged);
    m_pending = true;
    checkNow();
    m_cooldown->stop(); // the first change after the start goes at once
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
        emit status(QStringLiteral("Die Wiederherstellungsdatei kann nicht gelesen werden: ") +
                    path +
                    (f.isOpen() ? QStringLiteral(": zu groß")
                                : QStringLiteral(": ") + SystemError::translated(f.errorString())) +
                    QStringLiteral(". Sie bleibt, wie sie ist."));
        return std::nullopt;
    }
    std::optional<RecoveryFormat::State> state = RecoveryFormat::decode(f.readAll());
    f.close();
    if (!state) {
        const QString aside = setAside(nullptr);
        if (!aside.isEmpty())
            emit status(QStringLiteral("Die Wiederherstellungsdatei ist unvollständig und liegt "
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
    const QList<RecoveryFormat::Entry> extra =
        state ? journalledSince(*state) : QList<RecoveryFormat::Entry>();
    journalNow(startLine);
    if (!state)
        return;
    if (askRestore && askRestore()) {
        RecoveryFormat::State restored = *state;
        if (!extra.isEmpty())
            RecoveryFormat::appendEntries(restored.pred, extra);
        emit restoreRequested(restored);
        if (!extra.isEmpty()) {
            QStringList times;
            for (const RecoveryFormat::Entry &e : extra)
                times << (e.number.isEmpty()
                              ? e.time
                              : e.time + QStringLiteral(" (Nr. ") + e.number + QLatin1Char(')'));
            emit status(QStringLiteral("Letztes Protokoll wiederhergestellt, dazu %1 Zeit(en) "
                                       "aus dem Journal: %2")
                            .arg(extra.size())
                            .arg(times.join(QStringLiteral(", "))));
        }
        if (state->saved)
            m_savedRevision = m_results.revision();
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
    emit status(QStringLiteral("Das letzte Protokoll liegt jetzt unter: ") + aside);
}

QList<RecoveryFormat::Entry> TSafekeeping::journalledSince(const RecoveryFormat::State &state) const
{
    const QDateTime written =
        state.written.isValid() ? state.written : QFileInfo(recoveryPath()).lastModified();
    if (!written.isValid())
        return {};
    // A pass is stamped before its entry reaches the file; a window busy for a while hands
    // it over late. Times the file holds are not taken twice.
    constexpr qint32 MarginMs = 10'000;
    QList<RecoveryFormat::Entry> missing;
    for (int d = 0; d < 2; ++d) {
        QFile f(m_folder + QLatin1Char('/') + JournalFormat::fileName(written.date().addDays(d)));
        if (!f.open(QIODevice::ReadOnly) || f.size() > RecoveryFormat::MaxFileBytes)
            continue;
        // The next day's journal holds only what came after midnight.
        const qint32 since = d == 0 ? qMax(0, written.time().msecsSinceStartOfDay() - MarginMs) : 0;
        RecoveryFormat::State seen = state;
        RecoveryFormat::appendEntries(seen.pred, missing);
        missing += RecoveryFormat::entriesMissing(seen, f.readAll(), since);
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
    emit status(QStringLiteral("Die Wiederherstellungsdatei kann nicht beiseitegelegt werden: ") +
                path);
    return QString();
}

void TSafekeeping::close()
{
    if (!m_writer)
        return;
    if (m_keeping) {
        m_soon->stop();
        m_cooldown->stop();
        disconnect(&m_pred, nullptr, this, nullptr);
        disconnect(&m_results, nullptr, this, nullptr);
        if (!hasData(m_pred) && (!hasData(m_results) || resultsSaved())) {
            m_writer->removeRecovery();
        } else {
            m_pending = true;
            checkNow();
        }
    }
    m_keeping = false;
    journalNow({QStringLiteral("Programmende")});
    // Its destructor writes what is queued and ends the thread.
    m_writer.reset();
}
