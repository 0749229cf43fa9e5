#pragma once

#include <QString>

#include <optional>

// The values of spreadsheet cells as the protocol's texts and back. The texts do not
// depend on the locale: a time of day is hh:mm:ss,cc as the program writes it, a date
// dd.mm.yyyy, a number has a decimal comma and no thousands separator.
namespace SheetValues {

constexpr qint64 CentisPerDay = 24 * 60 * 60 * 100;

// Centiseconds since midnight of a text in the program's form of a time of day
// (hh:mm:ss,cc, hours below 24); nothing for any other text, 9:00:00 included.
std::optional<int> timeOfDay(const QString &text);

// hh:mm:ss,cc for a count of centiseconds; hours may pass 24 (a duration).
QString timeText(qint64 centis);

// A number as files write it ("0.4273", "-3", "1E+20"), without the locale machinery of
// QString::toDouble, which is slow for a million cells.
std::optional<double> parseNumber(QStringView s);

// A time as OpenDocument writes it (PT10H15M22.31S, also P1DT2H), rounded to the
// hundredth; nothing when it is not one.
std::optional<qint64> centisOfDuration(const QString &iso);

// How a sheet shows a number.
struct NumberStyle
{
    enum Kind
    {
        General,  // as many digits as it needs
        Fixed,    // minDecimals to maxDecimals decimals
        Percent,  // times 100, then as Fixed, with "%"
        Date,     // the day only
        Time,     // the time of day
        Duration, // hours that may pass 24 ([h]:mm:ss)
        DateTime,
    };
    Kind kind = General;
    int minDecimals = 0;
    int maxDecimals = 0;
};

// The style of an Excel number format code ("0.00", "hh:mm:ss.00", "[h]:mm", "dd/mm/yyyy",
// "General"...); only its first section counts.
NumberStyle styleOfFormatCode(const QString &code);
// The code of one of Excel's built-in formats (0 to 49); empty for an unknown id.
QString builtinFormatCode(int id);

// A spreadsheet serial number (days since the workbook's epoch, the time as the fraction)
// shown in style. date1904: the workbook counts from 1904-01-01.
QString numberText(double value, const NumberStyle &style, bool date1904 = false);

// dd.mm.yyyy, the form of a date; from an ISO date (2024-05-01, also with a time after
// "T", which adds " hh:mm:ss,cc" when withTime). Empty for anything else.
QString dateText(const QString &isoDate, bool withTime);

// WAHR or FALSCH, as a German spreadsheet shows a logical value.
QString booleanText(bool value);

} // namespace SheetValues
