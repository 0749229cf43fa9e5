#include "formats/SheetWriter.h"

#include "formats/SheetFormat.h"

#include <QFile>
#include <QFileInfo>

#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>

namespace {

// Excel keeps characters that XML cannot hold, and the sequences that look like them, as
// _xHHHH_; our reader turns them back.
QByteArray xlsxText(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar ch = s.at(i);
        if ((ch.unicode() < 0x20 && ch != QLatin1Char('\t') && ch != QLatin1Char('\n')) ||
            ch.unicode() == 0xFFFE || ch.unicode() == 0xFFFF) {
            out += QStringLiteral("_x") +
                   QString::number(ch.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')) +
                   QLatin1Char('_');
            continue;
        }
        if (ch == QLatin1Char('_') && i + 6 < s.size() && s.at(i + 1) == QLatin1Char('x') &&
            s.at(i + 6) == QLatin1Char('_')) {
            bool hex = true;
            for (int k = 2; k < 6; ++k)
                hex = hex && std::isxdigit(static_cast<unsigned char>(s.at(i + k).toLatin1()));
            if (hex) {
                out += QStringLiteral("_x005F_");
                continue;
            }
        }
        out += ch;
    }
    return out.toUtf8();
}

// Column width in Excel's units (characters of the default font), for the longest line of
// the column; the bold title a little wider.
double columnWidth(const TableData &t, int col)
{
    double widest = 0;
    for (int r = 0; r < t.rowCount(); ++r) {
        qsizetype longest = 0;
        const QString cell = t.cell(col, r);
        for (qsizetype start = 0;;) {
            const qsizetype end = cell.indexOf(QLatin1Char('\n'), start);
            longest = std::max(longest, (end < 0 ? cell.size() : end) - start);
            if (end < 0)
                break;
            start = end + 1;
        }
        widest = std::max(widest, double(longest) * (r == 0 ? 1.15 : 1.0));
    }
    return std::clamp(widest + 2.0, 4.0, 120.0);
}

QString libraryWords(lxw_error e)
{
    return QStringLiteral("libxlsxwriter: ") + QString::fromUtf8(lxw_strerror(e));
}

QString writeXlsx(const TableData &t, const QString &title, const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    // Its temporary files go beside the result, not into a /tmp that may be small.
    QByteArray tmp = QFile::encodeName(QFileInfo(path).absolutePath());
    lxw_workbook_options options = {};
    // Row by row to the disk: 100,000 cars need no more memory than ten.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmp.data();
    lxw_workbook *wb = workbook_new_opt(file.constData(), &options);
    if (!wb)
        return QStringLiteral("Die Arbeitsmappe kann nicht angelegt werden.");
    const QByteArray sheet = SheetFormat::sheetName(title).toUtf8();
    lxw_worksheet *ws = workbook_add_worksheet(wb, sheet.constData());

    QByteArray author("Quendra Software");
    QByteArray subject = title.toUtf8();
    lxw_doc_properties props = {};
    props.author = author.data();
    props.subject = subject.data();
    workbook_set_properties(wb, &props);

    lxw_format *head = workbook_add_format(wb);
    format_set_bold(head);
    format_set_border(head, LXW_BORDER_MEDIUM);
    lxw_format *text = workbook_add_format(wb);
    format_set_border(text, LXW_BORDER_THIN);
    lxw_format *time = workbook_add_format(wb);
    format_set_border(time, LXW_BORDER_THIN);
    // A German format (the locale tag 407), so that the hundredths follow a comma
    // whatever the reader's own locale: HH:MM:SS,00.
    format_set_num_format(time, "[$-407]hh:mm:ss.00");

    lxw_error error = ws ? LXW_NO_ERROR : LXW_ERROR_PARAMETER_VALIDATION;
    if (ws) {
        worksheet_set_landscape(ws);
        worksheet_set_paper(ws, 9); // A4
        for (int c = 0; c < t.colCount && !error; ++c)
            error =
                worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), columnWidth(t, c), nullptr);
    }
    for (int r = 0; r < t.rowCount() && !error; ++r) {
        for (int c = 0; c < t.colCount && !error; ++c) {
            const auto row = lxw_row_t(r);
            const auto col = lxw_col_t(c);
            if (const std::optional<int> centis = SheetFormat::timeCell(t, c, r)) {
                error = worksheet_write_number(ws, row, col, *centis / 8640000.0, time);
                continue;
            }
            const QString cell = t.cell(c, r);
            lxw_format *f = r == 0 ? head : text;
            error = cell.isEmpty()
                        ? worksheet_write_blank(ws, row, col, f)
                        : worksheet_write_string(ws, row, col, xlsxText(cell).constData(), f);
        }
    }
    const lxw_error closed = workbook_close(wb);
    if (error == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED)
        return QStringLiteral("Eine Zelle hat mehr als 32.767 Zeichen; so viel fasst eine "
                              ".xlsx-Zelle nicht.");
    if (error)
        return libraryWords(error);
    if (closed)
        return libraryWords(closed);
    return QString();
}

} // namespace

bool SheetWriter::writesNatively(const QString &suffix)
{
    return suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0 ||
           suffix.compare(QLatin1String("ods"), Qt::CaseInsensitive) == 0;
}

QString SheetWriter::write(const TableData &t, const QString &title, const QString &suffix,
                           const QString &path)
{
    const QString tooLarge = SheetFormat::tooLargeFor(t, suffix);
    if (!tooLarge.isEmpty())
        return tooLarge;
    if (suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        return writeXlsx(t, title, path);
    if (suffix.compare(QLatin1String("ods"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("Das Format .%1 schreibt LibreOffice.").arg(suffix);
    QString error;
    const QByteArray bytes = SheetFormat::odsPackage(t, title, &error);
    if (bytes.isEmpty())
        return QStringLiteral("Das Paket kann nicht gepackt werden: ") + error;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush())
        return f.errorString();
    return QString();
}
