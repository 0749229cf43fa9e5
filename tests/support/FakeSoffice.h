#pragma once

#include "platform/Spreadsheet.h"

#include <QFile>
#include <QTemporaryDir>

// A stand-in for LibreOffice: it writes the answer file given in its environment into the
// output folder, but only once the test has created the release file.
class FakeSoffice
{
public:
    FakeSoffice()
    {
        script = dir.path() + "/soffice";
        QFile f(script);
        f.open(QIODevice::WriteOnly);
        f.write("#!/bin/sh\n"
                "out=''; prev=''\n"
                "for a in \"$@\"; do [ \"$prev\" = --outdir ] && out=\"$a\"; prev=\"$a\"; done\n"
                "i=0; while [ ! -e \"$RELEASE\" ]; do sleep 0.02; i=$((i+1)); "
                "[ $i -gt 1500 ] && exit 3; done\n"
                "[ -n \"$ANSWER\" ] || { echo 'Error: source file could not be loaded'; exit 1; }\n"
                "cp \"$ANSWER\" \"$out/answer.txt\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        SpreadsheetApp::setExecutableForTesting(script);
        qputenv("RELEASE", (dir.path() + "/release").toLocal8Bit());
        qputenv("ANSWER", QByteArray());
    }
    ~FakeSoffice()
    {
        SpreadsheetApp::setExecutableForTesting(QString());
        qunsetenv("RELEASE");
        qunsetenv("ANSWER");
    }
    void answer(const QByteArray &text)
    {
        QFile a(dir.path() + "/answer");
        a.open(QIODevice::WriteOnly);
        a.write(text);
        qputenv("ANSWER", a.fileName().toLocal8Bit());
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

    QTemporaryDir dir;
    QString script;
};
