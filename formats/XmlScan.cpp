#include "formats/XmlScan.h"

#include <QIODevice>

namespace {

constexpr qsizetype Chunk = 256 * 1024;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

QByteArrayView localPart(QByteArrayView qualified)
{
    const qsizetype colon = qualified.indexOf(':');
    return colon < 0 ? qualified : qualified.sliced(colon + 1);
}

// The character of an entity (without & and ;), or -1.
int entity(QByteArrayView e)
{
    if (e == "amp")
        return '&';
    if (e == "lt")
        return '<';
    if (e == "gt")
        return '>';
    if (e == "quot")
        return '"';
    if (e == "apos")
        return '\'';
    if (e.size() > 1 && e.at(0) == '#') {
        bool ok = false;
        const uint code = e.at(1) == 'x' || e.at(1) == 'X' ? e.sliced(2).toUInt(&ok, 16)
                                                           : e.sliced(1).toUInt(&ok, 10);
        return ok && code > 0 && code <= 0x10FFFF ? int(code) : -1;
    }
    return -1;
}

} // namespace

QString xmlText(QByteArrayView raw)
{
    qsizetype amp = raw.indexOf('&');
    if (amp < 0)
        return QString::fromUtf8(raw);
    QString out;
    qsizetype from = 0;
    while (amp >= 0) {
        out += QString::fromUtf8(raw.sliced(from, amp - from));
        const qsizetype semi = raw.indexOf(';', amp);
        const int code =
            semi < 0 || semi - amp > 10 ? -1 : entity(raw.sliced(amp + 1, semi - amp - 1));
        if (code < 0) {
            // Not an entity we know: kept as it stands.
            out += QLatin1Char('&');
            from = amp + 1;
        } else {
            const char32_t c = char32_t(code);
            out += QString::fromUcs4(&c, 1);
            from = semi + 1;
        }
        amp = raw.indexOf('&', from);
    }
    out += QString::fromUtf8(raw.sliced(from));
    return out;
}

XmlScan::XmlScan(QIODevice *device) : m_device(device) {}

bool XmlScan::more()
{
    if (m_eof)
        return false;
    // What has been read is dropped first; the views into it die with the next token.
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    const qsizetype old = m_buffer.size();
    m_buffer.resize(old + Chunk);
    const qint64 n = m_device->read(m_buffer.data() + old, Chunk);
    m_buffer.resize(old + qMax<qint64>(n, 0));
    if (n < 0) {
        m_eof = true;
        m_error = m_device->errorString();
        return false;
    }
    if (n == 0)
        m_eof = true;
    return n > 0;
}

bool XmlScan::find(QByteArrayView needle, qsizetype from, qsizetype *at)
{
    // from is relative to m_pos, which more() may move.
    for (;;) {
        const qsizetype i = QByteArrayView(m_buffer).indexOf(needle, m_pos + from);
        if (i >= 0) {
            *at = i - m_pos;
            return true;
        }
        from = qMax<qsizetype>(0, m_buffer.size() - m_pos - needle.size() + 1);
        if (!more())
            return false;
    }
}

XmlScan::Token XmlScan::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return m_token = Error;
}

XmlScan::Token XmlScan::next()
{
    if (m_token == Error || m_token == End)
        return m_token;
    if (!m_started) {
        m_started = true;
        while (m_buffer.size() < 3 && more()) {
        }
        if (m_buffer.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
        else if (m_buffer.startsWith("\xFF\xFE") || m_buffer.startsWith("\xFE\xFF"))
            return fail(QStringLiteral("Der Text ist UTF-16, nicht UTF-8."));
    }
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_attributes.clear();
        return m_token = EndElement;
    }
    for (;;) {
        if (m_pos >= m_buffer.size() && !more())
            return m_error.isEmpty() ? m_token = End : fail(m_error);
        if (m_buffer.at(m_pos) != '<') {
            qsizetype lt = 0;
            const bool found = find("<", 0, &lt);
            if (!found && !m_error.isEmpty())
                return fail(m_error);
            const qsizetype length = found ? lt : m_buffer.size() - m_pos;
            m_text = QByteArrayView(m_buffer).sliced(m_pos, length);
            m_rawText = false;
            m_pos += length;
            return m_token = Text;
        }
        // At least "<?", "<!", "</" or "<x" must be there.
        if (m_pos + 1 >= m_buffer.size() && !more())
            return fail(QStringLiteral("Die Datei endet mitten in einem Element."));
        // Enough to tell "<![CDATA[" from "<!--" and "<!".
        while (m_buffer.size() - m_pos < 9 && more()) {
        }
        const QByteArrayView rest = QByteArrayView(m_buffer).sliced(m_pos);
        qsizetype end = 0;
        if (rest.startsWith("<?")) {
            if (!find("?>", 2, &end))
                return fail(QStringLiteral("Die Datei endet in einer Anweisung."));
            m_pos += end + 2;
        } else if (rest.startsWith("<!--")) {
            if (!find("-->", 4, &end))
                return fail(QStringLiteral("Die Datei endet in einem Kommentar."));
            m_pos += end + 3;
        } else if (rest.startsWith("<![CDATA[")) {
            if (!find("]]>", 9, &end))
                return fail(QStringLiteral("Die Datei endet in einem CDATA-Abschnitt."));
            m_text = QByteArrayView(m_buffer).sliced(m_pos + 9, end - 9);
            m_rawText = true;
            m_pos += end + 3;
            return m_token = Text;
        } else if (rest.startsWith("<!")) {
            if (!find(">", 2, &end))
                return fail(QStringLiteral("Die Datei endet in einer Deklaration."));
            m_pos += end + 1;
        } else if (rest.startsWith("</")) {
            if (!find(">", 2, &end))
                return fail(QStringLiteral("Die Datei endet mitten in einem Element."));
            m_name = localPart(QByteArrayView(m_buffer).sliced(m_pos + 2, end - 2).trimmed());
            m_attributes.clear();
            m_pos += end + 1;
            return m_token = EndElement;
        } else {
            return startTag();
        }
    }
}

XmlScan::Token XmlScan::startTag()
{
    // The tag's end: the first ">" outside a quoted value.
    qsizetype i = m_pos + 1;
    char quote = 0;
    for (;; ++i) {
        if (i >= m_buffer.size()) {
            const qsizetype offset = i - m_pos;
            if (!more())
                return fail(QStringLiteral("Die Datei endet mitten in einem Element."));
            i = m_pos + offset;
        }
        const char c = m_buffer.at(i);
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        } else if (c == '<') {
            return fail(QStringLiteral("Ein Element ist nicht geschlossen."));
        }
    }
    QByteArrayView tag = QByteArrayView(m_buffer).sliced(m_pos + 1, i - m_pos - 1);
    m_pos = i + 1;
    m_pendingEnd = tag.endsWith('/');
    if (m_pendingEnd)
        tag.chop(1);
    qsizetype k = 0;
    while (k < tag.size() && !isSpace(tag.at(k)))
        ++k;
    if (k == 0)
        return fail(QStringLiteral("Ein Element hat keinen Namen."));
    m_name = localPart(tag.first(k));
    m_attributes.clear();
    while (k < tag.size()) {
        while (k < tag.size() && isSpace(tag.at(k)))
            ++k;
        if (k >= tag.size())
            break;
        const qsizetype nameStart = k;
        while (k < tag.size() && tag.at(k) != '=' && !isSpace(tag.at(k)))
            ++k;
        const QByteArrayView attr = tag.sliced(nameStart, k - nameStart);
        while (k < tag.size() && isSpace(tag.at(k)))
            ++k;
        if (k >= tag.size() || tag.at(k) != '=')
            return fail(QStringLiteral("Ein Attribut hat keinen Wert."));
        ++k;
        while (k < tag.size() && isSpace(tag.at(k)))
            ++k;
        if (k >= tag.size() || (tag.at(k) != '"' && tag.at(k) != '\''))
            return fail(QStringLiteral("Ein Attribut hat keinen Wert."));
        const char q = tag.at(k++);
        const qsizetype valueStart = k;
        while (k < tag.size() && tag.at(k) != q)
            ++k;
        if (k >= tag.size())
            return fail(QStringLiteral("Ein Attributwert ist nicht geschlossen."));
        m_attributes.push_back({localPart(attr), tag.sliced(valueStart, k - valueStart)});
        ++k;
    }
    return m_token = StartElement;
}

QByteArrayView XmlScan::attribute(const char *localName) const
{
    const QByteArrayView wanted(localName);
    for (const Attribute &a : m_attributes)
        if (a.name == wanted)
            return a.value;
    return {};
}

QString XmlScan::text() const
{
    return m_rawText ? QString::fromUtf8(m_text) : xmlText(m_text);
}

bool XmlScan::skipElement()
{
    int depth = 1;
    while (depth > 0) {
        switch (next()) {
        case StartElement:
            ++depth;
            break;
        case EndElement:
            --depth;
            break;
        case Text:
            break;
        default:
            return false;
        }
    }
    return true;
}
