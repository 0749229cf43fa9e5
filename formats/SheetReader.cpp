#include "formats/SheetReader.h"

#include "formats/SheetReaderParts.h"
#include "formats/SheetValues.h"
#include "formats/Zip.h"

#include <QFile>

#include <freexl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace SheetReaderParts;
using SheetReader::Result;

namespace {

const QByteArray OleMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

// A sheet has no more rows than this in any format.
constexpr int MaxRows = 1048576;

// freexl runs in a child process: a damaged .xls makes freexl 1.0.6 read past its buffers
// and crash (found by feeding it altered files). The child opens the file, reads the first
// sheet and hands the cells over a pipe; if it dies, the file is refused, and the program
// goes on. The child uses nothing but freexl and write(): after fork() only the calling
// thread exists, and no lock another thread held may be needed.
namespace XlsChild {

enum : char
{
    Opened = 0,
    OpenFailed = 1,
    Encrypted = 2,
    NoSheet = 3,
    CellFailed = 4,
};

class Writer
{
public:
    explicit Writer(int fd) : m_fd(fd) {}
    void bytes(const void *data, size_t n)
    {
        const char *p = static_cast<const char *>(data);
        while (n > 0) {
            if (m_used == sizeof m_buffer)
                flush();
            const size_t k = std::min(n, sizeof m_buffer - m_used);
            memcpy(m_buffer + m_used, p, k);
            m_used += k;
            p += k;
            n -= k;
        }
    }
    template <class T> void value(T v) { bytes(&v, sizeof v); }
    void flush()
    {
        size_t done = 0;
        while (done < m_used) {
            const ssize_t w = ::write(m_fd, m_buffer + done, m_used - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                ::_exit(1);
            done += size_t(w);
        }
        m_used = 0;
    }

private:
    int m_fd;
    char m_buffer[65536];
    size_t m_used = 0;
};

// In the child: the sheet's size, then row by row each cell's type and value, up to the
// first row whose first cell is empty (the table ends there); with countOnly the size only.
void run(const char *path, int colCount, bool countOnly, int fd)
{
    Writer out(fd);
    const void *h = nullptr;
    const int code = freexl_open(path, &h);
    if (code != FREEXL_OK || !h) {
        out.value(char(OpenFailed));
        out.value(qint32(code));
        out.flush();
        return;
    }
    unsigned int info = 0;
    if (freexl_get_info(h, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED) {
        out.value(char(Encrypted));
        out.flush();
        return;
    }
    unsigned int rows = 0;
    unsigned short cols = 0;
    if (freexl_select_active_worksheet(h, 0) != FREEXL_OK ||
        freexl_worksheet_dimensions(h, &rows, &cols) != FREEXL_OK) {
        out.value(char(NoSheet));
        out.flush();
        return;
    }
    out.value(char(Opened));
    out.value(quint32(rows));
    const quint16 used = countOnly ? 0 : quint16(std::min(int(cols), colCount));
    out.value(used);
    for (unsigned int r = 0; used > 0 && r < rows; ++r) {
        bool firstEmpty = false;
        for (quint16 c = 0; c < used; ++c) {
            FreeXL_CellValue v;
            if (freexl_get_cell_value(h, r, c, &v) != FREEXL_OK) {
                out.value(char(CellFailed));
                out.flush();
                return;
            }
            out.value(char(v.type));
            switch (v.type) {
            case FREEXL_CELL_INT:
                out.value(qint32(v.value.int_value));
                break;
            case FREEXL_CELL_DOUBLE:
                out.value(v.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME: {
                const size_t n = v.value.text_value ? strlen(v.value.text_value) : 0;
                out.value(quint32(n));
                out.bytes(v.value.text_value, n);
                if (c == 0 && n == 0)
                    firstEmpty = true;
                break;
            }
            default:
                if (c == 0)
                    firstEmpty = true;
            }
        }
        if (firstEmpty)
            break;
    }
    freexl_close(h);
    out.flush();
}

// What the child said, or nothing when it died or said too little.
std::optional<QByteArray> ask(const QString &path, int colCount, bool countOnly)
{
    const QByteArray file = QFile::encodeName(path);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        ::close(fds[0]);
        run(file.constData(), colCount, countOnly, fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray said;
    bool timedOut = false;
    char chunk[65536];
    for (;;) {
        // A child that hangs is ended; a sheet of 65,536 rows takes well under a second.
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, 60000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        said.append(chunk, n);
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return said;
}

// Reads what the child wrote.
class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) {}
    template <class T> bool value(T *v)
    {
        if (m_pos + qsizetype(sizeof(T)) > m_bytes.size())
            return false;
        memcpy(v, m_bytes.constData() + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return true;
    }
    bool text(quint32 n, QByteArray *out)
    {
        if (m_pos + qsizetype(n) > m_bytes.size())
            return false;
        *out = m_bytes.mid(m_pos, n);
        m_pos += n;
        return true;
    }
    bool atEnd() const { return m_pos >= m_bytes.size(); }

private:
    const QByteArray &m_bytes;
    qsizetype m_pos = 0;
};

} // namespace XlsChild

const QString Crashed = QStringLiteral("freexl ist an der Arbeitsmappe gescheitert; sie ist wohl "
                                       "beschädigt.");

// freexl gives a date as YYYY-MM-DD, a time as HH:MM:SS and both with a blank between: to
// the second, so a file with such values is read exactly only by LibreOffice.
QString xlsCellText(char type, qint32 i, double d, const QByteArray &text, bool *approximate)
{
    switch (type) {
    case FREEXL_CELL_INT:
        return QString::number(i);
    case FREEXL_CELL_DOUBLE:
        // Whole numbers look the same in any format; for the others freexl does not say
        // how many decimals the sheet shows.
        if (d != std::trunc(d))
            *approximate = true;
        return SheetValues::numberText(d, {});
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        return QString::fromUtf8(text);
    case FREEXL_CELL_DATE:
        return SheetValues::dateText(QString::fromUtf8(text), false);
    case FREEXL_CELL_DATETIME: {
        *approximate = true;
        const QString s = QString::fromUtf8(text);
        return SheetValues::dateText(s.left(10), false) + s.mid(10);
    }
    case FREEXL_CELL_TIME:
        *approximate = true;
        return QString::fromUtf8(text);
    default:
        return QString();
    }
}

Result readXls(const QString &path, int colCount)
{
    const std::optional<QByteArray> said = XlsChild::ask(path, colCount, false);
    if (!said)
        return refused(Crashed);
    XlsChild::Reader in(*said);
    char status = 0;
    if (!in.value(&status))
        return refused(Crashed);
    switch (status) {
    case XlsChild::Opened:
        break;
    case XlsChild::OpenFailed: {
        qint32 code = 0;
        in.value(&code);
        return refused(
            code == FREEXL_OK
                ? QStringLiteral("freexl kann diese Excel-97-Arbeitsmappe nicht lesen.")
                : QStringLiteral("Keine lesbare Excel-97-Arbeitsmappe (freexl: Fehler %1).")
                      .arg(code));
    }
    case XlsChild::Encrypted:
        return refused(QStringLiteral("Die Arbeitsmappe ist verschlüsselt."));
    default:
        return refused(QStringLiteral("Die Arbeitsmappe hat kein Tabellenblatt."));
    }
    quint32 sheetRows = 0;
    quint16 cols = 0;
    if (!in.value(&sheetRows) || !in.value(&cols))
        return refused(Crashed);
    Rows rows(colCount);
    bool approximate = false;
    for (quint32 r = 0; cols > 0 && r < sheetRows && !rows.done() && !in.atEnd(); ++r) {
        QStringList cells;
        for (quint16 c = 0; c < cols; ++c) {
            char type = 0;
            qint32 i = 0;
            double d = 0;
            quint32 n = 0;
            QByteArray text;
            if (!in.value(&type))
                return refused(Crashed);
            if (type == XlsChild::CellFailed)
                return refused(QStringLiteral("Eine Zelle der Arbeitsmappe ist nicht lesbar."));
            bool ok = true;
            if (type == FREEXL_CELL_INT)
                ok = in.value(&i);
            else if (type == FREEXL_CELL_DOUBLE)
                ok = in.value(&d);
            else if (type >= FREEXL_CELL_TEXT && type <= FREEXL_CELL_TIME)
                ok = in.value(&n) && in.text(n, &text);
            if (!ok)
                return refused(Crashed);
            cells << xlsCellText(type, i, d, text, &approximate);
        }
        rows.add(int(r), cells);
    }
    Result result = finish(rows);
    result.approximate = approximate;
    return result;
}

} // namespace

bool Rows::add(int index, QStringList cells)
{
    if (m_ended || m_tooLarge)
        return false;
    // A row the file leaves out is an empty one.
    if (index != int(m_rows.size()) || cells.value(0).isEmpty()) {
        m_ended = true;
        return false;
    }
    if (cells.size() > m_colCount)
        cells = cells.mid(0, m_colCount);
    while (cells.size() < m_colCount)
        cells << QString();
    for (const QString &c : std::as_const(cells))
        m_chars += c.size();
    if (m_chars > SheetReader::MaxTextChars || int(m_rows.size()) >= MaxRows) {
        m_tooLarge = true;
        return false;
    }
    m_rows.push_back(std::move(cells));
    return true;
}

Result SheetReaderParts::refused(const QString &why)
{
    Result r;
    r.status = Result::Refused;
    r.message = why;
    return r;
}

Result SheetReaderParts::failed(const QString &why)
{
    Result r;
    r.status = Result::Failed;
    r.message = why;
    return r;
}

Result SheetReaderParts::finish(Rows &rows)
{
    if (rows.tooLarge())
        return failed(QStringLiteral("Die Tabelle ist zu groß (mehr als %1 Millionen Zeichen "
                                     "Text oder mehr als %2 Zeilen).")
                          .arg(SheetReader::MaxTextChars / (1024 * 1024))
                          .arg(MaxRows));
    Result r;
    r.status = Result::Ok;
    r.rows = rows.take();
    return r;
}

Result SheetReader::read(const QString &path, int colCount)
{
    QByteArray head;
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return failed(f.errorString());
        head = f.read(8);
    }
    if (head.isEmpty())
        return failed(QStringLiteral("Die Datei ist leer."));
    if (head.startsWith(OleMagic))
        return readXls(path, colCount);
    if (!head.startsWith("PK\x03\x04"))
        return refused(QStringLiteral("Es ist keine .xls-, .xlsx- oder .ods-Datei."));
    const Zip::Archive zip(path);
    if (!zip.isOpen())
        return refused(QStringLiteral("Das Paket ist beschädigt (") + zip.error() +
                       QStringLiteral(")."));
    if (zip.contains(QStringLiteral("content.xml")))
        return readOds(zip, colCount);
    if (zip.contains(QStringLiteral("_rels/.rels")))
        return readXlsx(zip, colCount);
    return refused(QStringLiteral("Das Paket ist keine Tabelle im Format .xlsx oder .ods."));
}

int SheetReader::xlsRowCount(const QString &path)
{
    const std::optional<QByteArray> said = XlsChild::ask(path, 0, true);
    if (!said)
        return -1;
    XlsChild::Reader in(*said);
    char status = 0;
    quint32 rows = 0;
    if (!in.value(&status) || status != XlsChild::Opened || !in.value(&rows))
        return -1;
    return int(rows);
}
