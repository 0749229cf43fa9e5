#include "protocol/Journal.h"

#include "platform/SystemError.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr qint32 kDayMs = 24 * 60 * 60 * 1000;

QString twoDigits(int v)
{
    return QString::number(v).rightJustified(2, QLatin1Char('0'));
}

// Writes every byte, also after a short write or a signal.
bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// The new name of a file must reach the disk with its folder.
void syncFolder(const QByteArray &folder)
{
    const int d = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        ::fsync(d);
        ::close(d);
    }
}
} // namespace

QString JournalFormat::moment(const TimeOfDay &t)
{
    return twoDigits(t.hour) + QLatin1Char(':') + twoDigits(t.minute) + QLatin1Char(':') +
           twoDigits(t.second) + QLatin1Char('.') +
           QString::number(t.millisecond).rightJustified(3, QLatin1Char('0'));
}

QString JournalFormat::escape(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (QChar ch : field) {
        switch (ch.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        default:
            out += ch;
        }
    }
    return out;
}

QString JournalFormat::unescape(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar ch = field.at(i);
        if (ch != QLatin1Char('\\') || i + 1 == field.size()) {
            out += ch;
            continue;
        }
        const QChar next = field.at(++i);
        switch (next.unicode()) {
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        default: // "\\" and anything a person typed by hand
            out += next;
        }
    }
    return out;
}

QString JournalFormat::line(const QStringList &fields)
{
    QString out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += QLatin1Char('\t');
        out += escape(fields[i]);
    }
    return out;
}

QStringList JournalFormat::fields(const QString &line)
{
    QStringList out = line.split(QLatin1Char('\t'));
    for (QString &f : out)
        f = unescape(f);
    return out;
}

QStringList JournalFormat::timeFields(const QString &timeText, const QString &source)
{
    QString from = source;
    QString port = QStringLiteral("-");
    const qsizetype space = source.lastIndexOf(QLatin1Char(' '));
    if (space > 0 && source.mid(space + 1).startsWith(QLatin1String("COM"))) {
        from = source.left(space);
        port = source.mid(space + 1);
    }
    return {QStringLiteral("Zeit"), timeText, from, port};
}

QString JournalFormat::momentText(qint32 ms)
{
    return moment(TimeOfDay{ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000});
}

QString JournalFormat::fileName(const QDate &day)
{
    return QStringLiteral("journal-") + day.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".txt");
}

QDate JournalFormat::dayOf(const QDateTime &now, qint32 momentMs)
{
    const QTime t = now.time();
    const qint32 nowMs = t.msecsSinceStartOfDay();
    // A moment far "later" than now lies before midnight: it belongs to yesterday.
    if (momentMs - nowMs > kDayMs / 2)
        return now.date().addDays(-1);
    return now.date();
}

TJournalWriter::TJournalWriter(const QString &folder, const QString &recoveryName)
    : m_folder(folder), m_recoveryName(recoveryName)
{
    m_thread = std::thread([this] { run(); });
    m_recoveryThread = std::thread([this] { runRecovery(); });
}

TJournalWriter::~TJournalWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    {
        std::lock_guard lock(m_recoveryMutex);
        m_recoveryStop = true;
    }
    m_recoveryWake.notify_one();
    m_thread.join();
    m_recoveryThread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

QString TJournalWriter::recoveryPath() const
{
    return m_folder + QLatin1Char('/') + m_recoveryName;
}

quint64 TJournalWriter::append(qint32 momentMs, QStringList fields)
{
    Line line;
    line.momentMs = momentMs;
    line.fields = std::move(fields);
    return queue(std::move(line));
}

quint64 TJournalWriter::appendTime(const TimeOfDay &t, const QString &timeText,
                                   const QString &source)
{
    Line line;
    line.momentMs = msOfDay(t);
    line.time = true;
    line.timeText = timeText;
    line.source = source;
    return queue(std::move(line));
}

void TJournalWriter::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_one();
}

quint64 TJournalWriter::queue(Line &&line)
{
    std::lock_guard lock(m_mutex);
    line.number = ++m_queued;
    m_queue.push_back(std::move(line));
    return m_queued;
}

QByteArray TJournalWriter::text(const Line &line)
{
    const QStringList fields =
        line.time ? JournalFormat::timeFields(line.timeText, line.source) : line.fields;
    return (JournalFormat::line(QStringList{JournalFormat::momentText(line.momentMs)} + fields) +
            QLatin1Char('\n'))
        .toUtf8();
}

void TJournalWriter::writeRecovery(std::function<QByteArray()> contents)
{
    // The request it replaces goes after the lock: its tables may be large.
    std::function<QByteArray()> replaced;
    {
        std::lock_guard lock(m_recoveryMutex);
        m_recoveryOp = RecoveryOp::Write;
        replaced.swap(m_recoveryContents);
        m_recoveryContents = std::move(contents);
        ++m_recoveryRequests;
    }
    m_recoveryWake.notify_one();
}

void TJournalWriter::removeRecovery()
{
    std::function<QByteArray()> replaced;
    {
        std::lock_guard lock(m_recoveryMutex);
        m_recoveryOp = RecoveryOp::Remove;
        replaced.swap(m_recoveryContents);
        ++m_recoveryRequests;
    }
    m_recoveryWake.notify_one();
}

bool TJournalWriter::flush(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        std::unique_lock lock(m_mutex);
        const quint64 lines = m_queued;
        m_flushWanted = true;
        m_wake.notify_one();
        if (!m_idle.wait_until(lock, deadline, [&] { return m_done >= lines; }))
            return false;
    }
    std::unique_lock lock(m_recoveryMutex);
    const quint64 requests = m_recoveryRequests;
    return m_recoveryIdle.wait_until(lock, deadline, [&] { return m_recoveryDone >= requests; });
}

void TJournalWriter::run()
{
    std::vector<Line> lines;
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Asleep until woken with lines to write; a failed write is tried again after
        // RetryMs.
        if (m_retry.empty())
            m_wake.wait(
                lock, [this] { return (m_woken && !m_queue.empty()) || m_stop || m_flushWanted; });
        else
            m_wake.wait_for(lock, std::chrono::milliseconds(RetryMs),
                            [this] { return m_stop || m_flushWanted; });
        m_flushWanted = false;
        m_woken = false;

        // The queue keeps the room of the previous batch: queueing rarely allocates.
        lines.clear();
        lines.swap(m_queue);
        const bool stop = m_stop;
        lock.unlock();

        // Lines that failed before go first, so the file keeps the order they were taken in.
        if (!m_retry.empty()) {
            lines.insert(lines.begin(), m_retry.begin(), m_retry.end());
            m_retry.clear();
        }
        quint64 last = 0;
        if (!lines.empty()) {
            last = lines.back().number;
            m_batchFailed = false;
            if (writeLines(lines)) {
                // A flush that failed leaves the journal failing: the lines may not last.
                if (!m_batchFailed)
                    succeeded(Part::Journal);
                if (onDurable)
                    onDurable(last);
            } else if (!stop) {
                if (lines.size() > MaxPending)
                    lines.erase(lines.begin(), lines.end() - qsizetype(MaxPending));
                m_retry = std::move(lines);
            }
        }
        lock.lock();
        m_done = std::max(m_done, last);
        m_idle.notify_all();
        if (stop && m_queue.empty())
            return;
    }
}

void TJournalWriter::runRecovery()
{
    std::unique_lock lock(m_recoveryMutex);
    for (;;) {
        m_recoveryWake.wait(lock,
                            [this] { return m_recoveryOp != RecoveryOp::None || m_recoveryStop; });
        const RecoveryOp op = m_recoveryOp;
        std::function<QByteArray()> contents;
        contents.swap(m_recoveryContents);
        m_recoveryOp = RecoveryOp::None;
        const quint64 requests = m_recoveryRequests;
        const bool stop = m_recoveryStop;
        lock.unlock();

        if (op != RecoveryOp::None) {
            const bool ok = carryOutRecovery(op, contents);
            if (ok)
                succeeded(Part::Recovery);
            if (onRecoveryWritten)
                onRecoveryWritten(ok);
        }
        contents = nullptr; // its tables are freed here, not under the lock

        lock.lock();
        m_recoveryDone = requests;
        m_recoveryIdle.notify_all();
        if (stop && m_recoveryOp == RecoveryOp::None)
            return;
    }
}

void TJournalWriter::fail(Part part, const QString &what, int error)
{
    if (part == Part::Journal)
        m_batchFailed = true;
    if (m_failing[int(part)].exchange(true))
        return;
    if (onError)
        onError(part, what + QStringLiteral(": ") + SystemError::text(error));
}

void TJournalWriter::succeeded(Part part)
{
    if (m_failing[int(part)].exchange(false) && onRecovered)
        onRecovered(part);
}

void TJournalWriter::ensureFolder()
{
    // A missing folder is made; anything else in its place makes the open fail with the
    // system's reason.
    QDir().mkpath(m_folder);
}

bool TJournalWriter::openDay(const QDate &day)
{
    if (m_fd >= 0 && m_fdDay == day)
        return true;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    ensureFolder();
    const QString path = m_folder + QLatin1Char('/') + JournalFormat::fileName(day);
    const QByteArray name = QFile::encodeName(path);
    bool created = true;
    // Non-blocking: a pipe in the file's place must not hold the writer; it is refused below.
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0644);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), flags);
    }
    if (fd < 0) {
        fail(Part::Journal, path, errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        fail(Part::Journal, path, error);
        return false;
    }
    if (created)
        syncFolder(QFile::encodeName(m_folder));
    m_fd = fd;
    m_fdDay = day;
    if (st.st_size == 0) {
        const QByteArray head =
            (QStringLiteral("# Tornelo-Journal ") + day.toString(QStringLiteral("yyyy-MM-dd")) +
             QStringLiteral(": Uhrzeit, Ereignis und seine Angaben, durch TAB getrennt\n"))
                .toUtf8();
        if (!writeAll(m_fd, head.constData(), head.size())) {
            fail(Part::Journal, path, errno);
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
    }
    return true;
}

bool TJournalWriter::writeLines(const std::vector<Line> &lines)
{
    const QDateTime now = this->now();
    size_t i = 0;
    while (i < lines.size()) {
        // One write per day: lines of a day are contiguous except around midnight.
        const QDate day = JournalFormat::dayOf(now, lines[i].momentMs);
        QByteArray bytes;
        size_t j = i;
        for (; j < lines.size() && JournalFormat::dayOf(now, lines[j].momentMs) == day; ++j)
            bytes += text(lines[j]);
        if (!openDay(day))
            return false;
        const QString path = m_folder + QLatin1Char('/') + JournalFormat::fileName(day);
        const off_t before = ::lseek(m_fd, 0, SEEK_END);
        if (!writeAll(m_fd, bytes.constData(), bytes.size())) {
            const int error = errno;
            // Half a batch would be written twice by the next try: take it back.
            fail(Part::Journal, path, error);
            if (before >= 0 && ::ftruncate(m_fd, before) != 0)
                fail(Part::Journal, path, errno);
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        // The lines are in the file; a failing flush is reported, writing them again
        // would not make them safer.
        if (::fdatasync(m_fd) != 0)
            fail(Part::Journal, path, errno);
        i = j;
    }
    return true;
}

bool TJournalWriter::carryOutRecovery(RecoveryOp op, const std::function<QByteArray()> &contents)
{
    const QString path = recoveryPath();
    const QByteArray name = QFile::encodeName(path);
    if (op == RecoveryOp::Remove) {
        if (::unlink(name.constData()) != 0 && errno != ENOENT) {
            fail(Part::Recovery, path, errno);
            return false;
        }
        syncFolder(QFile::encodeName(m_folder));
        return true;
    }
    const QByteArray bytes = contents ? contents() : QByteArray();
    ensureFolder();
    const QByteArray tmp = name + ".tmp";
    const int fd = ::open(tmp.constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        fail(Part::Recovery, path, errno);
        return false;
    }
    if (!writeAll(fd, bytes.constData(), bytes.size()) || ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(tmp.constData());
        fail(Part::Recovery, path, error);
        return false;
    }
    ::close(fd);
    if (::rename(tmp.constData(), name.constData()) != 0) {
        const int error = errno;
        ::unlink(tmp.constData());
        fail(Part::Recovery, path, error);
        return false;
    }
    syncFolder(QFile::encodeName(m_folder));
    return true;
}
