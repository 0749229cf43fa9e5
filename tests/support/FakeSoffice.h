#pragma once

#include "formats/SheetFormat.h"
#include "platform/Spreadsheet.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// A workbook of tests/formats/sheets, as other programs write them.
inline QString sheetFixture(const char *name)
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() +
           QStringLiteral("/../formats/sheets/") + QString::fromUtf8(name);
}

// A stand-in for LibreOffice: it notes its arguments, then writes the answer file given in
// its environment into the output folder, but only once the test has created the release
// file.
class FakeSoffice
{
public:
    FakeSoffice()
    {
        script = dir.path() + "/soffice";
        QFile f(script);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n"
                "echo \"$@\" >> \"$SOFFICE_CALLS\"\n"
                "out=''; prev=''\n"
                "for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=\"$a\"; prev=\"$a\"; done\n"
                "i=0; while [ ! -e \"$RELEASE\" ]; do sleep 0.02; i=$((i+1)); "
                "[ $i -gt 1500 ] && exit 3; done\n"
                "[ -n \"$ANSWER\" ] || { echo 'Error: source file could not be loaded'; exit 1; }\n"
                "cp \"$ANSWER\" \"$out/answer\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        SpreadsheetApp::setExecutableForTesting(script);
        qputenv("RELEASE", (dir.path() + "/release").toLocal8Bit());
        qputenv("SOFFICE_CALLS", (dir.path() + "/calls").toLocal8Bit());
        qputenv("ANSWER", QByteArray());
    }
    ~FakeSoffice()
    {
        SpreadsheetApp::setExecutableForTesting(QString());
        qunsetenv("RELEASE");
        qunsetenv("SOFFICE_CALLS");
        qunsetenv("ANSWER");
    }
    // The converted file is this file.
    void answerFile(const QString &path) { qputenv("ANSWER", path.toLocal8Bit()); }
    // The converted file is a sheet of these rows (what a load asks LibreOffice for).
    void answer(std::vector<QStringList> rows)
    {
        TableData t;
        for (const QStringList &r : rows)
            t.colCount = std::max(t.colCount, int(r.size()));
        for (QStringList &r : rows)
            while (r.size() < t.colCount)
                r << QString();
        t.rows = std::move(rows);
        const QString answer = dir.path() + "/answer.ods";
        SheetFormat::writeOds(t, "answer", answer);
        answerFile(answer);
    }
    void release() { QFile(dir.path() + "/release").open(QIODevice::WriteOnly); }
    QString input(const char *name, const QByteArray &bytes = "x")
    {
        const QString p = dir.path() + "/" + name;
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return p;
    }
    // The arguments of each start, one line each.
    QStringList calls() const
    {
        QFile f(dir.path() + "/calls");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QString script;
};
