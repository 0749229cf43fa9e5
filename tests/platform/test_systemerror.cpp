#include "platform/SystemError.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iterator>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>

namespace {

QString english(int error)
{
    const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const QString t = QString::fromLocal8Bit(::strerror_l(error, c));
    ::freelocale(c);
    return t;
}

// The errors a pulled adapter, a busy port, a full or read-only disk and a lost barrier
// connection bring.
const int met[] = {EIO,    ENODEV, ENXIO, EACCES, EPERM,  EBUSY,      EWOULDBLOCK, EINTR,
                   ENOSPC, EDQUOT, EROFS, ENOENT, ENOTTY, ECONNRESET, EPIPE,       ENOTDIR};

TEST(SystemError, TheErrorsTheProgramMeetsAreSaidInGermanWhateverTheSystemSays)
{
    QSet<QString> distinct;
    for (int e : met) {
        SCOPED_TRACE(english(e).toStdString());
        const QString said = SystemError::text(e);
        EXPECT_NE(said, english(e));
        EXPECT_FALSE(said.isEmpty());
        // As Qt's file errors carry them, and as the system says them in its own language.
        EXPECT_EQ(SystemError::translated(english(e)), said);
        EXPECT_EQ(SystemError::translated(QString::fromLocal8Bit(std::strerror(e))), said);
        distinct.insert(said);
    }
    // Only the two ways of saying "the device is gone" share a text.
    EXPECT_EQ(distinct.size(), qsizetype(std::size(met)) - 1);
    EXPECT_EQ(SystemError::text(ENODEV), SystemError::text(ENXIO));
    // What the user read in English before.
    EXPECT_EQ(SystemError::translated(QStringLiteral("Connection reset by peer")),
              QStringLiteral("Verbindung von der Gegenseite getrennt"));
}

TEST(SystemError, OthersKeepTheSystemsText)
{
    EXPECT_EQ(SystemError::text(ECHILD), QString::fromLocal8Bit(std::strerror(ECHILD)));
    EXPECT_EQ(SystemError::text(12345), QString::fromLocal8Bit(std::strerror(12345)));
    for (const QString &t :
         {QString(), QStringLiteral("Unbekannter Fehler beim Kopieren"), english(ECHILD)})
        EXPECT_EQ(SystemError::translated(t), t);
}

// A file that cannot be created: Qt's own reason turns German.
TEST(SystemError, QtsFileErrorIsTranslated)
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("fehlt/datei.txt")));
    ASSERT_FALSE(f.open(QIODevice::WriteOnly));
    EXPECT_EQ(SystemError::translated(f.errorString()),
              QStringLiteral("Datei oder Gerät nicht gefunden"));
}

} // namespace
