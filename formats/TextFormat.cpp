#include "formats/TextFormat.h"

#include "formats/Cp1252.h"

#include <QFile>
#include <QIODevice>
#include <QStringDecoder>

#include <algorithm>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString TextFormat::protocolText(const TableData &t)
{
    QString out;
    // A table whose first car has no start number gives an empty file.
    if (t.rowCount() < 2 || t.cell(0, 1).isEmpty())
        return out;
    for (int r = 0; r < t.rowCount(); ++r) {
        if (t.cell(0, r).isEmpty())
            continue;
        for (int c = 0; c < t.colCount; ++c) {
            const QString cell = t.cell(c, r);
            out += cell.isEmpty() ? QStringLiteral(" ") : cell;
            out += QLatin1Char('\t');
        }
        out += kCrLf;
    }
    return out;
}

QByteArray TextFormat::encode(const QString &text)
{
    if (Cp1252::canEncode(text))
        return Cp1252::encode(text);
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

bool TextFormat::write(const TableData &t, QIODevice &dev)
{
    const QByteArray bytes = encode(protocolText(t));
    return dev.write(bytes) == bytes.size();
}

std::optional<QByteArray> TextFormat::readAll(QIODevice &dev, qint64 maxBytes)
{
    QByteArray out;
    char buf[65536];
    for (;;) {
        const qint64 n = dev.read(buf, sizeof buf);
        if (n < 0)
            return std::nullopt;
        if (n == 0 && (dev.atEnd() || !dev.isSequential()))
            break;
        if (n == 0 && !dev.waitForReadyRead(-1))
            break;
        out.append(buf, n);
        if (maxBytes >= 0 && out.size() > maxBytes)
            return std::nullopt;
    }
    return out;
}

TextFormat::Detected TextFormat::detect(QByteArrayView bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return {Encoding::Utf16LE, 2};
    if (bytes.startsWith("\xFE\xFF"))
        return {Encoding::Utf16BE, 2};
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {Encoding::Utf8, 3};
    return {Cp1252::validUtf8(bytes) ? Encoding::Utf8 : Encoding::Windows1252, 0};
}

namespace {
bool utf16(TextFormat::Encoding e)
{
    return e == TextFormat::Encoding::Utf16LE || e == TextFormat::Encoding::Utf16BE;
}
} // namespace

bool TextFormat::isText(QByteArrayView bytes, Detected d)
{
    bytes = bytes.sliced(qMin(d.markSize, bytes.size()));
    bytes = bytes.first(qMin(bytes.size(), SniffBytes));
    qsizetype units = 0;
    qsizetype control = 0;
    auto count = [&](char16_t u) {
        ++units;
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f') || u == 0x7F)
            ++control;
        return u != 0;
    };
    if (utf16(d.encoding)) {
        const bool le = d.encoding == Encoding::Utf16LE;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
            const auto a = static_cast<unsigned char>(bytes[i]);
            const auto b = static_cast<unsigned char>(bytes[i + 1]);
            if (!count(char16_t(le ? a | b << 8 : a << 8 | b)))
                return false;
        }
    } else {
        for (char c : bytes)
            if (!count(static_cast<unsigned char>(c)))
                return false;
    }
    return control * 10 <= units;
}

namespace {
template <typename Unit> const Unit *findUnit(const Unit *p, const Unit *end, char u)
{
    while (p < end && *p != Unit(u))
        ++p;
    return p;
}

template <typename Unit> bool lineBreak(Unit u)
{
    return u == Unit('\r') || u == Unit('\n');
}

// Where a plain field ends: a semicolon, a line end or the end of the text.
template <typename Unit> const Unit *fieldEnd(const Unit *p, const Unit *end)
{
    while (p < end && *p != Unit(';') && !lineBreak(*p))
        ++p;
    return p;
}

template <typename Unit> const Unit *lineEnd(const Unit *p, const Unit *end)
{
    while (p < end && !lineBreak(*p))
        ++p;
    return p;
}

// One pass over the text's code units (bytes of Windows-1252 or UTF-8, or UTF-16): fields
// are cut at separators and line ends, which are ASCII in all three, and each field is
// decoded on its own into the QString its cell keeps. So the text exists once, as the
// file's bytes, and the rows are built where they stay.
template <typename Unit, typename Decode> class Parser
{
public:
    Parser(const Unit *begin, const Unit *end, const Decode &decode, int capacity,
           const std::atomic_bool *stop)
        : m_p(begin), m_end(end), m_decode(decode), m_capacity(capacity), m_stop(stop)
    {}

    bool run(TextFormat::Rows &out)
    {
        out.rows.reserve(size_t(lineCount()));
        qsizetype lines = 0;
        while (m_p < m_end) {
            if (m_stop && (++lines & 0xFFF) == 0 && m_stop->load(std::memory_order_relaxed))
                return false;
            m_fields = QStringList();
            m_fields.reserve(m_capacity);
            m_count = 0;
            m_used = 0;
            const Unit *const eol = lineEnd(m_p, m_end);
            const Unit *next = findUnit(m_p, eol, '\t') < eol ? tabLine(eol) : semicolonLine();
            // The line ends there, unless the text does.
            if (next < m_end)
                next += *next == Unit('\r') && next + 1 < m_end && next[1] == Unit('\n') ? 2 : 1;
            m_p = next;
            if (!out.rows.empty() && m_used == 0)
                continue;
            out.used = std::max(out.used, m_used);
            out.rows.push_back(std::move(m_fields));
        }
        return true;
    }

private:
    // Enough rows for every line, so that the list of rows is never copied while it grows.
    qsizetype lineCount() const
    {
        qsizetype lf = 0;
        qsizetype cr = 0;
        for (const Unit *p = m_p; p < m_end; ++p) {
            lf += *p == Unit('\n');
            cr += *p == Unit('\r');
        }
        return std::max(lf, cr) + 1;
    }

    void add(const QString &field)
    {
        ++m_count;
        if (!TableData::isBlank(field))
            m_used = m_count;
        if (m_count <= TextFormat::MaxFields)
            m_fields.append(field.isEmpty() ? m_blank : field);
    }

    QString decode(const Unit *b, const Unit *e) const
    {
        return b == e ? QString() : m_decode(b, e - b);
    }

    const Unit *tabLine(const Unit *eol)
    {
        const Unit *f = m_p;
        for (;;) {
            const Unit *t = findUnit(f, eol, '\t');
            // A TAB at the end makes no field, and neither does an empty line.
            if (t == eol) {
                if (t != f)
                    add(decode(f, t));
                return eol;
            }
            add(decode(f, t));
            while (t < eol && *t == Unit('\t'))
                ++t;
            f = t;
        }
    }

    const Unit *semicolonLine()
    {
        const Unit *f = m_p;
        for (;;) {
            const Unit *t;
            if (f < m_end && *f == Unit('"') && (t = quoted(f)) != nullptr) {
                add(m_quoted);
                m_quoted = QString();
            } else {
                t = fieldEnd(f, m_end);
                if (t == f && (t == m_end || *t != Unit(';')))
                    return t; // a semicolon at the end makes no field
                add(decode(f, t));
            }
            if (t == m_end || *t != Unit(';'))
                return t;
            f = t + 1;
        }
    }

    // The field that begins with the quote at f, into m_quoted; where it ends, or nullptr
    // when the quote is never closed. Whatever follows the closing quote up to the
    // separator belongs to the field as it stands.
    const Unit *quoted(const Unit *f)
    {
        m_quoted = QString();
        const Unit *seg = f + 1;
        for (const Unit *q = seg; q < m_end; ++q) {
            if (*q == Unit('"')) {
                if (q + 1 < m_end && q[1] == Unit('"')) {
                    m_quoted += decode(seg, q + 1);
                    seg = ++q + 1;
                    continue;
                }
                m_quoted += decode(seg, q);
                const Unit *t = fieldEnd(q + 1, m_end);
                m_quoted += decode(q + 1, t);
                return t;
            }
            if (lineBreak(*q) || *q == Unit('\t')) {
                m_quoted += decode(seg, q);
                m_quoted += QLatin1Char(' ');
                if (*q == Unit('\r') && q + 1 < m_end && q[1] == Unit('\n'))
                    ++q;
                seg = q + 1;
            }
        }
        // Every quote after this one pairs up with the next, so no later field that
        // begins with a quote runs to the end again: the reading stays linear.
        return nullptr;
    }

    const Unit *m_p;
    const Unit *const m_end;
    const Decode &m_decode;
    const int m_capacity;
    const std::atomic_bool *const m_stop;
    // Every empty field shares this one text.
    const QString m_blank = QStringLiteral(" ");
    QStringList m_fields;
    QString m_quoted;
    int m_count = 0;
    int m_used = 0;
};

template <typename Unit, typename Decode>
bool parseUnits(const Unit *begin, const Unit *end, const Decode &decode, int capacity,
                const std::atomic_bool *stop, TextFormat::Rows &out)
{
    return Parser<Unit, Decode>(begin, end, decode, capacity, stop).run(out);
}
} // namespace

std::optional<TextFormat::Rows> TextFormat::parse(QByteArray bytes, Detected d, int capacity,
                                                  const std::atomic_bool *stop)
{
    Rows out;
    bool done = false;
    const qsizetype mark = qMin(d.markSize, bytes.size());
    if (utf16(d.encoding)) {
        // Decoded as a whole (unpaired surrogates become replacement characters) into text
        // the size of the bytes, which go at once.
        QStringDecoder decoder(d.encoding == Encoding::Utf16LE ? QStringDecoder::Utf16LE
                                                               : QStringDecoder::Utf16BE,
                               QStringDecoder::Flag::Stateless);
        const QString text = decoder(QByteArrayView(bytes).sliced(mark));
        bytes = QByteArray();
        const auto *p = reinterpret_cast<const char16_t *>(text.constData());
        done = parseUnits(
            p, p + text.size(),
            [](const char16_t *b, qsizetype n) {
                return QString(reinterpret_cast<const QChar *>(b), n);
            },
            capacity, stop, out);
    } else {
        const char *p = bytes.constData() + mark;
        const char *end = bytes.constData() + bytes.size();
        if (d.encoding == Encoding::Utf8)
            done = parseUnits(
                p, end, [](const char *b, qsizetype n) { return QString::fromUtf8(b, n); },
                capacity, stop, out);
        else
            done = parseUnits(
                p, end,
                [](const char *b, qsizetype n) { return Cp1252::decode(QByteArrayView(b, n)); },
                capacity, stop, out);
    }
    if (!done)
        return std::nullopt;
    return out;
}

TextFormat::Rows TextFormat::readRows(const QByteArray &bytes)
{
    return *parse(bytes, detect(bytes));
}

TableData TextFormat::table(std::vector<QStringList> rows, int colCount, const QStringList &titles)
{
    TableData t;
    t.colCount = colCount;
    t.rows = std::move(rows);
    if (t.rows.empty())
        t.rows.push_back(titles.mid(0, colCount));
    if (t.rows.size() < 2)
        t.rows.emplace_back();
    // In place: the rows were made with room for the table's cells.
    for (QStringList &row : t.rows)
        row.resize(colCount);
    QStringList &head = t.rows.front();
    if (colCount > 0 && TableData::isBlank(head[0]))
        head[0] = QStringLiteral("Nr.");
    if (colCount > 1 && TableData::isBlank(head[1]))
        head[1] = QStringLiteral("Fahrer");
    return t;
}

TextFormat::Loaded TextFormat::load(const QString &fileName, int colCount,
                                    const QStringList &titles, const std::atomic_bool *stop)
{
    Loaded l;
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        l.refusal = Refusal::Unreadable;
        return l;
    }
    l.fileSize = f.size();
    if (l.fileSize > MaxFileBytes) {
        l.refusal = Refusal::TooBig;
        return l;
    }
    std::optional<QByteArray> bytes = readAll(f, MaxFileBytes);
    if (!bytes) {
        // It may have grown while it was read.
        l.fileSize = qMax(l.fileSize, f.size());
        l.refusal = l.fileSize > MaxFileBytes ? Refusal::TooBig : Refusal::Unreadable;
        return l;
    }
    f.close();
    const Detected d = detect(*bytes);
    if (!isText(*bytes, d)) {
        l.refusal = Refusal::NotText;
        return l;
    }
    std::optional<Rows> rows = parse(std::move(*bytes), d, colCount, stop);
    bytes.reset();
    if (!rows) {
        l.refusal = Refusal::Stopped;
        return l;
    }
    l.used = rows->used;
    l.table = table(std::move(rows->rows), qMax(colCount, qMin(rows->used, MaxFields)), titles);
    return l;
}
