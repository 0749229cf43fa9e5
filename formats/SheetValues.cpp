#include "formats/SheetValues.h"

#include <QDate>

#include <charconv>
#include <cmath>

namespace {

constexpr qint64 CentisPerHour = 60 * 60 * 100;

int digit(QChar ch)
{
    return ch >= QLatin1Char('0') && ch <= QLatin1Char('9') ? ch.unicode() - '0' : -1;
}

// Two digits at pos, or -1.
int twoDigits(const QString &s, int pos)
{
    const int a = digit(s.at(pos));
    const int b = digit(s.at(pos + 1));
    return a < 0 || b < 0 ? -1 : a * 10 + b;
}

QString generalText(double v)
{
    if (!std::isfinite(v))
        return QString::number(v);
    if (v == std::trunc(v) && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    // 15 significant digits, as spreadsheets keep them: 0.1 + 0.2 shows 0,3.
    QString s = QString::number(v, 'g', 15).toUpper();
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

QString fixedText(double v, int minDecimals, int maxDecimals)
{
    if (!std::isfinite(v))
        return QString::number(v);
    QString s = QString::number(v, 'f', maxDecimals);
    if (maxDecimals > minDecimals) {
        int cut = 0;
        while (cut < maxDecimals - minDecimals && s.endsWith(QLatin1Char('0'))) {
            s.chop(1);
            ++cut;
        }
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    if (s == QLatin1String("-0"))
        s = QStringLiteral("0");
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

QString dayText(const QDate &d)
{
    return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

// The day of a serial number. The 1900 system counts 1900 as a leap year (day 60 is
// 29 February 1900, which never was); later days are one off for it.
QString serialDay(qint64 days, bool date1904)
{
    if (days < -700000 || days > 3000000)
        return QString();
    if (date1904)
        return dayText(QDate(1904, 1, 1).addDays(days));
    if (days == 60)
        return QStringLiteral("29.02.1900");
    return dayText(days < 60 ? QDate(1899, 12, 31).addDays(days)
                             : QDate(1899, 12, 30).addDays(days));
}

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

std::optional<int> SheetValues::timeOfDay(const QString &text)
{
    if (text.size() != 11 || text.at(2) != QLatin1Char(':') || text.at(5) != QLatin1Char(':') ||
        text.at(8) != QLatin1Char(','))
        return std::nullopt;
    const int h = twoDigits(text, 0);
    const int m = twoDigits(text, 3);
    const int s = twoDigits(text, 6);
    const int cs = twoDigits(text, 9);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || cs < 0)
        return std::nullopt;
    return ((h * 60 + m) * 60 + s) * 100 + cs;
}

QString SheetValues::timeText(qint64 centis)
{
    if (centis < 0)
        return QLatin1Char('-') + timeText(-centis);
    // Written by hand: QString::arg costs more than the rest of reading a cell.
    char16_t out[32];
    int n = 0;
    const qint64 hours = centis / CentisPerHour;
    char16_t digits[20];
    int d = 0;
    for (qint64 h = hours; h > 0 || d < 2; h /= 10)
        digits[d++] = char16_t(u'0' + h % 10);
    while (d > 0)
        out[n++] = digits[--d];
    auto two = [&](char16_t separator, qint64 v) {
        out[n++] = separator;
        out[n++] = char16_t(u'0' + v / 10);
        out[n++] = char16_t(u'0' + v % 10);
    };
    two(u':', centis / 6000 % 60);
    two(u':', centis / 100 % 60);
    two(u',', centis % 100);
    return QString(reinterpret_cast<const QChar *>(out), n);
}

std::optional<double> SheetValues::parseNumber(QStringView s)
{
    char buffer[64];
    if (s.isEmpty() || s.size() >= qsizetype(sizeof buffer))
        return std::nullopt;
    qsizetype start = 0;
    // from_chars takes no plus sign.
    if (s.at(0) == QLatin1Char('+'))
        start = 1;
    int n = 0;
    for (qsizetype i = start; i < s.size(); ++i) {
        const char16_t ch = s.at(i).unicode();
        if (ch > 127)
            return std::nullopt;
        buffer[n++] = char(ch);
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(buffer, buffer + n, v);
    if (ec != std::errc() || end != buffer + n)
        return std::nullopt;
    return v;
}

std::optional<qint64> SheetValues::centisOfDuration(const QString &iso)
{
    QString s = iso.trimmed();
    bool negative = false;
    if (s.startsWith(QLatin1Char('-'))) {
        negative = true;
        s.remove(0, 1);
    }
    if (!s.startsWith(QLatin1Char('P')))
        return std::nullopt;
    double seconds = 0;
    bool inTime = false;
    bool any = false;
    QString number;
    for (qsizetype i = 1; i < s.size(); ++i) {
        const QChar ch = s.at(i);
        if (digit(ch) >= 0 || ch == QLatin1Char('.') || ch == QLatin1Char(',')) {
            number += ch == QLatin1Char(',') ? QLatin1Char('.') : ch;
            continue;
        }
        if (ch == QLatin1Char('T') && number.isEmpty() && !inTime) {
            inTime = true;
            continue;
        }
        const std::optional<double> parsed = parseNumber(number);
        if (!parsed)
            return std::nullopt;
        const double n = *parsed;
        number.clear();
        if (!inTime && ch == QLatin1Char('D'))
            seconds += n * 86400;
        else if (inTime && ch == QLatin1Char('H'))
            seconds += n * 3600;
        else if (inTime && ch == QLatin1Char('M'))
            seconds += n * 60;
        else if (inTime && ch == QLatin1Char('S'))
            seconds += n;
        else
            return std::nullopt; // years, months and weeks are no time of day
        any = true;
    }
    if (!any || !number.isEmpty() || !std::isfinite(seconds) || seconds > 1e12)
        return std::nullopt;
    const qint64 centis = std::llround(seconds * 100);
    return negative ? -centis : centis;
}

SheetValues::NumberStyle SheetValues::styleOfFormatCode(const QString &code)
{
    // The first section, without quoted text, escaped characters, fill and padding
    // characters and bracketed parts (colour, locale, condition); [h] [mm] [ss] say that
    // hours go past 24.
    QString plain;
    bool elapsed = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar ch = code.at(i);
        if (ch == QLatin1Char(';'))
            break;
        if (ch == QLatin1Char('"')) {
            const qsizetype end = code.indexOf(QLatin1Char('"'), i + 1);
            i = end < 0 ? code.size() : end;
        } else if (ch == QLatin1Char('\\') || ch == QLatin1Char('_') || ch == QLatin1Char('*')) {
            ++i;
        } else if (ch == QLatin1Char('[')) {
            const qsizetype end = code.indexOf(QLatin1Char(']'), i + 1);
            const QString inside = code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1).toLower();
            if (!inside.isEmpty() && (inside.count(inside.at(0)) == inside.size()) &&
                QStringLiteral("hms").contains(inside.at(0))) {
                elapsed = true;
                plain += inside.at(0);
            }
            i = end < 0 ? code.size() : end;
        } else {
            plain += ch.toLower();
        }
    }
    NumberStyle style;
    if (plain.contains(QLatin1String("general")) || plain.contains(QLatin1Char('@')))
        return style;
    const bool day = plain.contains(QLatin1Char('y')) || plain.contains(QLatin1Char('d'));
    const bool time = plain.contains(QLatin1Char('h')) || plain.contains(QLatin1Char('s'));
    if (day || time || plain.contains(QLatin1Char('m'))) {
        if (day && time)
            style.kind = NumberStyle::DateTime;
        else if (time)
            style.kind = elapsed ? NumberStyle::Duration : NumberStyle::Time;
        else if (elapsed)
            style.kind = NumberStyle::Duration;
        else
            style.kind = NumberStyle::Date;
        return style;
    }
    // Scientific notation and fractions: as many digits as needed.
    if (plain.contains(QLatin1String("e+")) || plain.contains(QLatin1String("e-")) ||
        plain.contains(QLatin1Char('/')))
        return style;
    if (!plain.contains(QLatin1Char('0')) && !plain.contains(QLatin1Char('#')) &&
        !plain.contains(QLatin1Char('?')))
        return style;
    style.kind = plain.contains(QLatin1Char('%')) ? NumberStyle::Percent : NumberStyle::Fixed;
    const qsizetype point = plain.indexOf(QLatin1Char('.'));
    if (point >= 0) {
        for (qsizetype i = point + 1; i < plain.size(); ++i) {
            const QChar ch = plain.at(i);
            if (ch == QLatin1Char('0'))
                ++style.minDecimals;
            else if (ch != QLatin1Char('#') && ch != QLatin1Char('?'))
                break;
            ++style.maxDecimals;
        }
    }
    return style;
}

QString SheetValues::builtinFormatCode(int id)
{
    switch (id) {
    case 0:
        return QStringLiteral("General");
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
    case 5:
    case 6:
    case 37:
    case 38:
        return QStringLiteral("#,##0");
    case 4:
    case 7:
    case 8:
    case 39:
    case 40:
        return QStringLiteral("#,##0.00");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?"
                              "?/?"
                              "?");
    case 14:
        return QStringLiteral("mm-dd-yy");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("m/d/yy h:mm");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mmss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    default:
        // 27 to 36 and 50 to 58 are the dates of East Asian locales.
        if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58))
            return QStringLiteral("yyyy-mm-dd");
        return QString();
    }
}

QString SheetValues::numberText(double value, const NumberStyle &style, bool date1904)
{
    if (!std::isfinite(value))
        return generalText(value);
    switch (style.kind) {
    case NumberStyle::General:
        break;
    case NumberStyle::Fixed:
        return fixedText(value, style.minDecimals, style.maxDecimals);
    case NumberStyle::Percent:
        return fixedText(value * 100, style.minDecimals, style.maxDecimals) + QLatin1Char('%');
    case NumberStyle::Date: {
        const QString d = serialDay(qint64(std::floor(value)), date1904);
        return d.isEmpty() ? generalText(value) : d;
    }
    case NumberStyle::Time:
    case NumberStyle::Duration:
    case NumberStyle::DateTime: {
        if (std::fabs(value) > 1e8)
            return generalText(value);
        const qint64 total = std::llround(value * double(CentisPerDay));
        if (style.kind == NumberStyle::Duration)
            return timeText(total);
        const qint64 days = floorDiv(total, CentisPerDay);
        const qint64 centis = total - days * CentisPerDay;
        if (style.kind == NumberStyle::Time)
            return timeText(centis);
        const QString d = serialDay(days, date1904);
        return d.isEmpty() ? generalText(value) : d + QLatin1Char(' ') + timeText(centis);
    }
    }
    return generalText(value);
}

QString SheetValues::dateText(const QString &isoDate, bool withTime)
{
    const QString s = isoDate.trimmed();
    QDate day = QDate::fromString(s.left(10), Qt::ISODate);
    if (!day.isValid())
        return QString();
    qint64 centis = 0;
    if (s.size() > 10) {
        if (s.at(10) != QLatin1Char('T'))
            return QString();
        // hh:mm:ss with a fraction of any length, rounded to the hundredth.
        const QString t = s.mid(11);
        if (t.size() < 8 || t.at(2) != QLatin1Char(':') || t.at(5) != QLatin1Char(':'))
            return QString();
        const int h = twoDigits(t, 0);
        const int m = twoDigits(t, 3);
        const std::optional<double> sec = parseNumber(QStringView(t).mid(6));
        if (h < 0 || m < 0 || !sec)
            return QString();
        centis = (h * 60 + m) * 6000 + std::llround(*sec * 100);
        if (centis >= CentisPerDay) {
            day = day.addDays(1);
            centis -= CentisPerDay;
        }
    }
    const QString d = dayText(day);
    return withTime ? d + QLatin1Char(' ') + timeText(centis) : d;
}

QString SheetValues::booleanText(bool value)
{
    return value ? QStringLiteral("WAHR") : QStringLiteral("FALSCH");
}
