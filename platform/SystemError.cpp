#include "platform/SystemError.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>

namespace {
struct Reason
{
    int error;
    const char *text;
};

// The errors of the serial port, the journal, the recovery file and the saved files.
constexpr Reason reasons[] = {
    {EIO, "Ein-/Ausgabefehler (Gerät getrennt oder gestört)"},
    {ENODEV, "Gerät nicht vorhanden (abgezogen?)"},
    {ENXIO, "Gerät nicht vorhanden (abgezogen?)"},
    {ENOENT, "Datei oder Gerät nicht gefunden"},
    {EACCES, "Keine Berechtigung"},
    {EPERM, "Vorgang nicht erlaubt"},
    {EBUSY, "Gerät oder Datei wird gerade benutzt"},
    {EAGAIN, "Von einem anderen Programm belegt"},
    {EINTR, "Unterbrochen"},
    {ENOSPC, "Kein Platz mehr auf dem Datenträger"},
    {EDQUOT, "Speicherkontingent auf dem Datenträger erschöpft"},
    {EROFS, "Der Datenträger ist schreibgeschützt"},
    {EFBIG, "Datei zu groß"},
    {ENOTDIR, "Ein Teil des Pfades ist kein Ordner"},
    {EISDIR, "Ist ein Ordner"},
    {EEXIST, "Existiert schon"},
    {ENAMETOOLONG, "Name zu lang"},
    {EMFILE, "Zu viele offene Dateien"},
    {EINVAL, "Ungültiger Wert oder ungeeignete Datei"},
    {EBADF, "Gerät oder Datei nicht geöffnet"},
    {ENOTTY, "Keine serielle Schnittstelle (das Gerät hat keine Modemleitungen)"},
    {ECONNRESET, "Verbindung von der Gegenseite getrennt"},
    {ECONNREFUSED, "Verbindung abgelehnt"},
    {EPIPE, "Verbindung unterbrochen"},
    {ETIMEDOUT, "Zeitüberschreitung: keine Antwort"},
};

// The system's English text of an error, as Qt's file errors carry it.
QString englishText(int error)
{
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c ? QString::fromLocal8Bit(::strerror_l(error, c)) : QString();
}
} // namespace

QString SystemError::text(int error)
{
    // EWOULDBLOCK is EAGAIN on Linux; the table holds it once.
    for (const Reason &r : reasons)
        if (r.error == error)
            return QString::fromUtf8(r.text);
    return QString::fromLocal8Bit(std::strerror(error));
}

QString SystemError::translated(const QString &systemText)
{
    const QString t = systemText.trimmed();
    if (t.isEmpty())
        return systemText;
    for (const Reason &r : reasons)
        if (t == englishText(r.error) || t == QString::fromLocal8Bit(std::strerror(r.error)))
            return QString::fromUtf8(r.text);
    return systemText;
}
