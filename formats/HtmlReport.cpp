#include "formats/HtmlReport.h"

#include "formats/Cp1252.h"
#include "formats/Markup.h"

#include <QIODevice>

namespace {
// The page declares ISO-8859-1: everything else goes in as a reference.
QString escape(const QString &text)
{
    return Markup::escape(text, Markup::Latin1Only);
}
} // namespace

QString HtmlReport::pageText(const TableData &table, const QString &title)
{
    const QString t = escape(title);
    QStringList l;
    l << QStringLiteral("<HTML>") << QStringLiteral("<HEAD>")
      << QStringLiteral("<!-- Zeitenprotokoll, geschrieben von Tornelo -->")
      << QStringLiteral("<TITLE>Quendra Zeitenprotokoll ") + t + QStringLiteral("</TITLE>")
      << QStringLiteral("<META name=description content=\"Quendra professional software "
                        "development for all\">")
      << QStringLiteral("<META http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">")
      << QStringLiteral("<META name=Webdesign content=\"Quendra\">")
      << QStringLiteral("<STYLE type=text/css>")
      << QStringLiteral("body {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: "
                        "12px; background-color: #F4F4F4; text-align: center}")
      << QStringLiteral("\th1 {text-decoration: blink; font-size: 26px}")
      << QStringLiteral("\th3 {  font-weight: normal}")
      << QStringLiteral("\ttable {font-family: Verdana, Arial, Helvetica, sans-serif; "
                        "font-size: 12px; background-color: #FFFFFF}")
      << QStringLiteral("\tth {background-color: #999999; color: #FFFFFF; border: 1px "
                        "#F4F4F4 dashed; text-align: left; text-indent: 5px}")
      << QStringLiteral("\ttd {  border: 1px #F4F4F4 dashed; padding-right: 5px; "
                        "padding-left: 5px}")
      << QStringLiteral("</STYLE>") << QStringLiteral("</HEAD>");

    l << QStringLiteral("<BODY bgcolor=#FFFFFF text=#000000>") << QStringLiteral("<i>")
      << QStringLiteral("<h1><font color=\"#0000FF\">Tor</font><font color=\"#FF0000\">ne"
                        "</font><font color=\"#333333\">lo</font></h1>")
      << QStringLiteral("<h3>Ergebnisse</h3>") << QStringLiteral("</i>");

    l << QStringLiteral("<table style=\"BORDER-COLLAPSE: collapse; borderColor=#CCCCCC border=1\">")
      << QStringLiteral("<colgroup> <col align=right> <col></colgroup>") << QStringLiteral("<tr>");
    for (int c = 0; c < table.colCount; ++c)
        l << QStringLiteral("<th>") + escape(table.cell(c, 0));
    l << QStringLiteral("</tr>");

    // Every data row, blank or not.
    for (int r = 1; r < table.rowCount(); ++r) {
        QString line = QStringLiteral("<tr>");
        for (int c = 0; c < table.colCount; ++c)
            line += QStringLiteral("<td>") + escape(table.cell(c, r));
        l << line + QStringLiteral("</tr>");
    }

    l << QStringLiteral("</table>")
      << QStringLiteral("</table><P align=right><A href=\"https://www.quendra.de/\" title=\"") + t +
             QStringLiteral("\"><font color=\"#0000FF\">Quen</font><font color=\"#FF0000\">dra"
                            "</font> &gt;&gt;</A></P></body></html>");
    return l.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QByteArray HtmlReport::pageBytes(const TableData &t, const QString &title)
{
    return Cp1252::encode(pageText(t, title));
}

bool HtmlReport::write(const TableData &t, const QString &title, QIODevice &dev)
{
    const QByteArray bytes = pageBytes(t, title);
    return dev.write(bytes) == bytes.size();
}
