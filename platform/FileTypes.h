#pragma once

#include <QString>

// Display names of the file types the file dialogs offer, from the shared MIME database
// (they follow the user's language). A type the database does not know keeps its
// built-in name.
struct TFileTypeNames
{
    QString text = QStringLiteral("Textdatei");
    QString web = QStringLiteral("Webseite");
    QString sheet = QStringLiteral("MS Excel");
    QString sheetXlsx = QStringLiteral("Excel-Arbeitsmappe");
    QString sheetOds = QStringLiteral("OpenDocument-Tabelle");

    // Replaces each name the database knows; never fails.
    void read();
};
