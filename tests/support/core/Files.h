#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

inline QByteArray fileBytes(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of a UTF-8 text file, without the empty one after the last line break.
inline QStringList fileLines(const QString &name)
{
    QStringList out = QString::fromUtf8(fileBytes(name)).split(QLatin1Char('\n'));
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

inline bool writeBytes(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The golden files of the formats (tests/formats/golden), which the tests that save
// through the window compare with too.
inline QString goldenFile(const QString &name)
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
           QStringLiteral("/../../formats/golden/") + name;
}
