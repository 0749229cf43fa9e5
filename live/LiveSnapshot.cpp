#include "live/LiveSnapshot.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool blank(const QString &s)
{
    for (const QChar ch : s)
        if (ch.unicode() > 32)
            return false;
    return true;
}

// Cells that hold only blanks (a loaded file writes an empty cell as one blank) are
// empty to a reader.
QString shown(const QString &s)
{
    return blank(s) ? QString() : s;
}

// A time column whose title a loaded file left empty is still named for the reader.
QString title(const TableData &t, int col)
{
    const QString s = t.cell(col, 0);
    return col >= 2 && blank(s) ? QStringLiteral("Zeit ") + QString::number(col - 1) : s;
}

bool rowBlank(const QStringList &row)
{
    for (const QString &c : row)
        if (!blank(c))
            return false;
    return true;
}

const char pageHead[] = R"(<!DOCTYPE html>
<html lang="de">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%TITLE%</title>
<link rel="icon" href="/favicon.svg" type="image/svg+xml">
<style>
body {font-family: Verdana, Arial, Helvetica, sans-serif; font-size: 15px; background-color: #F4F4F4; margin: 0; padding: 8px; color: #000}
h1 {font-size: 26px; font-style: italic; margin: 4px 0; text-align: center}
h3 {font-weight: normal; font-style: italic; margin: 0 0 8px 0; text-align: center}
#last {text-align: center; margin: 0 0 8px 0}
#last b {font-family: monospace; font-size: 18px}
.wrap {overflow-x: auto; -webkit-overflow-scrolling: touch}
table {border-collapse: collapse; background-color: #FFFFFF; margin: 0 auto; font-size: 15px}
th {background-color: #999999; color: #FFFFFF; text-align: left; padding: 6px 8px; white-space: nowrap}
td {border: 1px dashed #DDDDDD; padding: 6px 8px; white-space: nowrap}
td:first-child, th:first-child {text-align: right; position: sticky; left: 0; background-color: inherit}
tr:nth-child(even) td {background-color: #F8F8F8}
tr:nth-child(odd) td {background-color: #FFFFFF}
th:first-child {background-color: #999999}
#state {text-align: center; color: #888; font-size: 12px; margin-top: 8px}
</style>
</head>
<body>
<h1><span style="color:#0000FF">Tor</span><span style="color:#FF0000">ne</span><span style="color:#333333">lo</span></h1>
<h3>Ergebnisse</h3>
)";

const char pageScript[] = R"(<script>
// Only the table and the last time are replaced; the page itself is never reloaded.
(function () {
  var etag = null;
  function cell(tag, text) { var c = document.createElement(tag); c.textContent = text; return c; }
  function show(d) {
    document.title = d.title;
    var last = document.getElementById('lastTime');
    last.textContent = d.lastTime ? d.lastTime.time : '\u2013';
    var head = document.createElement('tr');
    d.titles.concat(d.timeTitles).forEach(function (t) { head.appendChild(cell('th', t)); });
    var body = document.createElement('tbody');
    d.rows.forEach(function (r) {
      var tr = document.createElement('tr');
      tr.appendChild(cell('td', r.number));
      tr.appendChild(cell('td', r.driver));
      r.times.forEach(function (t) { tr.appendChild(cell('td', t)); });
      body.appendChild(tr);
    });
    var table = document.getElementById('results');
    table.replaceChildren(document.createElement('thead'), body);
    table.tHead.appendChild(head);
  }
  function poll() {
    var h = {};
    if (etag) h['If-None-Match'] = etag;
    fetch('/results.json', {cache: 'no-store', headers: h}).then(function (r) {
      document.getElementById('state').textContent = '';
      if (r.status === 304) return null;
      if (!r.ok) throw new Error(r.status);
      etag = r.headers.get('ETag');
      return r.json();
    }).then(function (d) { if (d) show(d); }).catch(function () {
      document.getElementById('state').textContent = 'Keine Verbindung zum Zeitnahme-Rechner';
    }).finally(function () { setTimeout(poll, 2000); });
  }
  setTimeout(poll, 2000);
})();
</script>
)";

} // namespace

QString LivePages::escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        switch (ch.unicode()) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        case '\'':
            out += QStringLiteral("&#39;");
            break;
        default:
            out += ch;
        }
    }
    return out;
}

QByteArray LivePages::json(const LiveSnapshot &s)
{
    const TableData &t = s.results;
    QJsonArray titles, timeTitles, rows;
    for (int c = 0; c < t.colCount; ++c)
        (c < 2 ? titles : timeTitles).append(title(t, c));
    for (int r = 1; r < t.rowCount(); ++r) {
        if (rowBlank(t.rows[size_t(r)]))
            continue;
        QJsonArray times;
        for (int c = 2; c < t.colCount; ++c)
            times.append(shown(t.cell(c, r)));
        rows.append(QJsonObject{{QStringLiteral("number"), shown(t.cell(0, r))},
                                {QStringLiteral("driver"), shown(t.cell(1, r))},
                                {QStringLiteral("times"), times}});
    }
    QJsonObject o{{QStringLiteral("title"), s.title},
                  {QStringLiteral("titles"), titles},
                  {QStringLiteral("timeTitles"), timeTitles},
                  {QStringLiteral("rows"), rows}};
    if (s.lastTime.isEmpty())
        o.insert(QStringLiteral("lastTime"), QJsonValue::Null);
    else
        o.insert(QStringLiteral("lastTime"),
                 QJsonObject{{QStringLiteral("time"), s.lastTime},
                             {QStringLiteral("timeOfDay"), s.lastTimeOfDay}});
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray LivePages::page(const LiveSnapshot &s)
{
    const TableData &t = s.results;
    QString html = QString::fromUtf8(pageHead);
    html.replace(QStringLiteral("%TITLE%"),
                 escape(QStringLiteral("Quendra Zeitenprotokoll ") + s.title));
    html += QStringLiteral("<p id=\"last\">Letzte Zeit: <b id=\"lastTime\">") +
            (s.lastTime.isEmpty() ? QStringLiteral("&ndash;") : escape(s.lastTime)) +
            QStringLiteral("</b></p>\n<div class=\"wrap\"><table id=\"results\"><thead><tr>");
    for (int c = 0; c < t.colCount; ++c)
        html += QStringLiteral("<th>") + escape(title(t, c)) + QStringLiteral("</th>");
    html += QStringLiteral("</tr></thead><tbody>\n");
    for (int r = 1; r < t.rowCount(); ++r) {
        if (rowBlank(t.rows[size_t(r)]))
            continue;
        html += QStringLiteral("<tr>");
        for (int c = 0; c < t.colCount; ++c)
            html += QStringLiteral("<td>") + escape(shown(t.cell(c, r))) + QStringLiteral("</td>");
        html += QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody></table></div>\n<p id=\"state\"></p>\n");
    html += QString::fromUtf8(pageScript);
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

QByteArray LivePages::icon()
{
    return QByteArrayLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 32 32\">"
        "<rect x=\"13\" y=\"0.5\" width=\"6\" height=\"3\" rx=\"1\" fill=\"#30404F\"/>"
        "<rect x=\"14.8\" y=\"3\" width=\"2.4\" height=\"3\" fill=\"#30404F\"/>"
        "<circle cx=\"16\" cy=\"18.5\" r=\"13\" fill=\"#30404F\"/>"
        "<circle cx=\"16\" cy=\"18.5\" r=\"10.5\" fill=\"#FFF\"/>"
        "<line x1=\"13.8\" y1=\"17.3\" x2=\"23.4\" y2=\"22.8\" stroke=\"#D01010\" "
        "stroke-width=\"1.8\" stroke-linecap=\"round\"/>"
        "<circle cx=\"16\" cy=\"18.5\" r=\"1.8\" fill=\"#D01010\"/></svg>");
}

QByteArray LivePages::etag(const QByteArray &json)
{
    return '"' + QCryptographicHash::hash(json, QCryptographicHash::Sha1).toHex().left(20) + '"';
}
