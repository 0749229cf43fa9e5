#include "platform/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

bool Folders::writable(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    // access() also answers for read-only mounts and for root, unlike the mode bits.
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString Folders::writableOrDocuments(const QString &folder)
{
    // Only a folder that exists and refuses writing is replaced.
    if (!QFileInfo(folder).isDir() || writable(folder))
        return folder;
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (QFileInfo(docs).isDir())
        return docs;
    return QDir::homePath();
}

QString Folders::pageFolder()
{
    if (writable(QDir::currentPath()))
        return QString();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    return cache;
}

QString Folders::helpFileFor(const QString &executablePath)
{
    if (executablePath.isEmpty())
        return {};
    const QFileInfo fi(executablePath);
    const QString name = fi.fileName();
    // Only a dot after the first character of the file name starts an extension; a dot in
    // a folder name or a leading dot of a hidden file does not.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString chm = (dot > 0 ? name.left(dot) : name) + QStringLiteral(".chm");
    const QString beside = executablePath.left(executablePath.size() - name.size()) + chm;
    if (QFileInfo::exists(beside))
        return beside;
    // The installed data folder, relative to the executable first so that a package
    // installed under another prefix finds its own help.
    const QString candidates[] = {
        QDir(fi.absolutePath()).absoluteFilePath(QStringLiteral(TORNELO_DATA_RELATIVE "/") + chm),
        QStringLiteral(TORNELO_DATA_ABSOLUTE "/") + chm,
    };
    for (const QString &c : candidates)
        if (QFileInfo::exists(c))
            return QDir::cleanPath(c);
    return beside;
}
