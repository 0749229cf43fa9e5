#include "live/LiveSnapshot.h"

#include "formats/Markup.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Cell texts may stand in attributes quoted either way.
QString escape(const QString &text)
{
    return Markup::escape(text, Markup::Apostrophe);
}

// Cells that hold only blanks (a loaded file writes an empty cell as one blank) are
// empty to a reader.
QString shown(const QString &s)
{
    return TableData::isBlank(s) ? QString() : s;
}

// A time column whose title a loaded file left empty is still named for the reader.
QString title(const TableData &t, int col)
{
    const QString s = t.cell(col, 0);
    return col >= 2 && TableData::isBlank(s) ? QStringLiteral("Zeit ") + QString::number(col - 1)
                                             : s;
}

// h:mm, hh:mm:ss, hh:mm:ss,cc and the like: what the program and a spreadsheet write.
bool looksLikeTime(const QString &text)
{
    const QString s = text.trimmed();
    qsizetype i = 0;
    auto digits = [&](int least, int most) {
        int n = 0;
        while (i < s.size() && n < most && s[i].isDigit() && s[i].unicode() < 128) {
            ++i;
            ++n;
        }
        return n >= least;
    };
    if (!digits(1, 2) || i >= s.size() || s[i++] != QLatin1Char(':') || !digits(2, 2))
        return false;
    if (i < s.size() && s[i] == QLatin1Char(':')) {
        ++i;
        if (!digits(2, 2))
            return false;
    }
    if (i < s.size() && (s[i] == QLatin1Char(',') || s[i] == QLatin1Char('.'))) {
        ++i;
        if (!digits(1, 3))
            return false;
    }
    return i == s.size();
}

bool rowBlank(const QStringList &row)
{
    for (const QString &c : row)
        if (!TableData::isBlank(c))
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
#links {text-align: center; font-size: 13px; margin: 8px 0}
/* A phone: the table fits the width, the times follow the driver, whose name is cut. */
@media (max-width: 600px) {
body {padding: 4px}
h1 {font-size: 20px}
table {width: 100%; font-size: 14px}
th, td {padding: 5px 4px}
/* No minimum width of their own: they share what the number and the times leave. */
.d {width: 60%; max-width: 0; min-width: 4.5em; overflow: hidden; text-overflow: ellipsis}
.x {width: 20%; max-width: 0; min-width: 2em; overflow: hidden; text-overflow: ellipsis}
}
</style>
</head>
<body>
<h1><span style="color:#0000FF">Tor</span><span style="color:#FF0000">ne</span><span style="color:#333333">lo</span></h1>
<h3>Ergebnisse</h3>
)";

// Both pages ask for /results.json with the ETag they last had and show what changed;
// %EVERY% is how often, in milliseconds.
const char pollScript[] = R"(  function poll() {
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
    }).finally(function () { setTimeout(poll, %EVERY%); });
  })";

// A page's script with its poll function.
QString script(const char *text, int everyMs)
{
    return QString::fromUtf8(text).replace(
        QStringLiteral("%POLL%"),
        QString::fromUtf8(pollScript).replace(QStringLiteral("%EVERY%"), QString::number(everyMs)));
}

const char pageScript[] = R"(<script>
// Only the table and the last time are replaced; the page itself is never reloaded.
(function () {
  var etag = null;
  var narrow = window.matchMedia('(max-width: 600px)');
  var table = document.getElementById('results');
  // The table as data: read from the page once, then from results.json. text holds the
  // columns that are texts rather than times.
  var model = {head: [], rows: [], text: []};
  Array.prototype.forEach.call(table.tHead.rows[0].cells, function (c, i) {
    model.head.push(c.textContent);
    if (c.classList.contains('x')) model.text.push(i);
  });
  Array.prototype.forEach.call(table.tBodies[0].rows, function (tr) {
    model.rows.push(Array.prototype.map.call(tr.cells, function (c) { return c.textContent; }));
  });
  function cell(tag, text, cls) {
    var c = document.createElement(tag);
    c.textContent = text;
    if (cls) c.className = cls;
    return c;
  }
  function kind(c) { return c === 1 ? 'd' : model.text.indexOf(c) >= 0 ? 'x' : ''; }
  function render() {
    var order = [], after = [];
    for (var c = 0; c < model.head.length; ++c)
      (narrow.matches && model.text.indexOf(c) >= 0 ? after : order).push(c);
    order = order.concat(after);
    var head = document.createElement('tr');
    order.forEach(function (c) { head.appendChild(cell('th', model.head[c], kind(c))); });
    var thead = document.createElement('thead');
    thead.appendChild(head);
    var body = document.createElement('tbody');
    model.rows.forEach(function (r) {
      var tr = document.createElement('tr');
      order.forEach(function (c) { tr.appendChild(cell('td', r[c] || '', kind(c))); });
      body.appendChild(tr);
    });
    table.replaceChildren(thead, body);
  }
  function show(d) {
    document.title = 'Quendra Zeitenprotokoll ' + d.title;
    var last = document.getElementById('lastTime');
    last.textContent = d.lastTime ? d.lastTime.time : '\u2013';
    model = {
      head: d.titles.concat(d.timeTitles),
      rows: d.rows.map(function (r) { return [r.number, r.driver].concat(r.times); }),
      text: d.textColumns.map(function (i) { return i + 2; })
    };
    render();
  }
  if (narrow.addEventListener) narrow.addEventListener('change', render);
  else narrow.addListener(render);
  if (narrow.matches) render();
%POLL%
  setTimeout(poll, 2000);
})();
</script>
)";

const char displayHead[] = R"(<!DOCTYPE html>
<html lang="de">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%TITLE%</title>
<link rel="icon" href="/favicon.svg" type="image/svg+xml">
<style>
html, body {margin: 0; height: 100%; overflow: hidden; background-color: #000; color: #FFF}
body {display: flex; flex-direction: column; box-sizing: border-box; padding: 1vh 2vw;
  font-family: "Liberation Sans", Arial, Helvetica, sans-serif; font-weight: bold}
#nr {font-size: 14vh; line-height: 1.1; white-space: nowrap}
#nr small {font-size: 0.55em; color: #9A9A9A}
#time {font-size: min(17vw, 36vh); line-height: 1.05; color: #FFD400; white-space: nowrap;
  text-align: center; font-variant-numeric: tabular-nums}
#list {flex: 1; min-height: 0; margin: 1.5vh 0 0 0; padding: 0; list-style: none;
  display: grid; grid-template-columns: 1fr 1fr; grid-template-rows: repeat(5, 1fr);
  grid-auto-flow: column; column-gap: 5vw; border-top: 0.4vh solid #555}
#list li {display: flex; justify-content: space-between; align-items: center; font-size: 6.5vh;
  border-bottom: 0.2vh solid #2A2A2A; white-space: nowrap; overflow: hidden}
#list .n {color: #FFF; min-width: 3em}
#list .t {color: #C8C8C8; font-variant-numeric: tabular-nums}
#list li:first-child .t {color: #FFD400}
.none {color: #666}
#state {position: fixed; right: 1vw; bottom: 0.5vh; font-size: 2.5vh; color: #FF6060}
</style>
</head>
<body>
)";

const char displayScript[] = R"(<script>
// Asks at least once a second; only what changed in results.json is drawn anew.
(function () {
  var etag = null;
  var time = document.getElementById('time');
  // The last time as wide as the screen, whatever the font's digits measure.
  function fit() {
    var span = time.firstChild;
    time.style.fontSize = '100px';
    var w = span.getBoundingClientRect().width;
    if (w <= 0) return;
    var size = Math.min(100 * document.body.clientWidth * 0.94 / w, window.innerHeight * 0.36);
    time.style.fontSize = Math.floor(size) + 'px';
  }
  function text(el, t, none) {
    el.textContent = t;
    el.classList.toggle('none', !!none);
  }
  function show(d) {
    var e = d.entries, last = e.length ? e[0] : null;
    var nr = document.getElementById('nr');
    nr.replaceChildren();
    var label = document.createElement('small');
    label.textContent = 'Nr. ';
    nr.appendChild(label);
    nr.appendChild(document.createTextNode(last && last.number ? last.number : '\u2013'));
    text(time.firstChild, last ? last.time : '--:--:--,--', !last);
    var list = document.getElementById('list');
    list.replaceChildren();
    e.forEach(function (x) {
      var li = document.createElement('li'), n = document.createElement('span');
      var t = document.createElement('span');
      n.className = 'n';
      t.className = 't';
      text(n, x.number || '\u2013', !x.number);
      t.textContent = x.time;
      li.appendChild(n);
      li.appendChild(t);
      list.appendChild(li);
    });
    fit();
  }
%POLL%
  window.addEventListener('resize', fit);
  if (document.fonts) document.fonts.ready.then(fit);
  fit();
  poll();
})();
</script>
)";

} // namespace

QList<int> LivePages::textColumns(const TableData &t)
{
    QList<int> out;
    for (int c = 2; c < t.colCount; ++c)
        for (int r = 1; r < t.rowCount(); ++r) {
            const QString cell = t.cell(c, r);
            if (!TableData::isBlank(cell) && !looksLikeTime(cell)) {
                out.append(c - 2);
                break;
            }
        }
    return out;
}

QByteArray LivePages::json(const LiveSnapshot &s)
{
    const TableData &t = s.results;
    QJsonArray titles, timeTitles, rows, text, entries;
    for (const int c : textColumns(t))
        text.append(c);
    for (const LiveEntry &e : s.entries)
        entries.append(
            QJsonObject{{QStringLiteral("time"), e.time}, {QStringLiteral("number"), e.number}});
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
                  {QStringLiteral("textColumns"), text},
                  {QStringLiteral("rows"), rows},
                  {QStringLiteral("entries"), entries}};
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
    // The driver's column is cut on a phone, and the text columns move behind the times.
    QStringList open(t.colCount, QStringLiteral("<td>"));
    QStringList openHead(t.colCount, QStringLiteral("<th>"));
    if (t.colCount > 1) {
        open[1] = QStringLiteral("<td class=\"d\">");
        openHead[1] = QStringLiteral("<th class=\"d\">");
    }
    for (const int c : textColumns(t)) {
        open[c + 2] = QStringLiteral("<td class=\"x\">");
        openHead[c + 2] = QStringLiteral("<th class=\"x\">");
    }
    for (int c = 0; c < t.colCount; ++c)
        html += openHead[c] + escape(title(t, c)) + QStringLiteral("</th>");
    html += QStringLiteral("</tr></thead><tbody>\n");
    for (int r = 1; r < t.rowCount(); ++r) {
        if (rowBlank(t.rows[size_t(r)]))
            continue;
        html += QStringLiteral("<tr>");
        for (int c = 0; c < t.colCount; ++c)
            html += open[c] + escape(shown(t.cell(c, r))) + QStringLiteral("</td>");
        html += QStringLiteral("</tr>\n");
    }
    html += QStringLiteral("</tbody></table></div>\n<p id=\"state\"></p>\n"
                           "<p id=\"links\"><a href=\"/anzeige\">Anzeigetafel für den "
                           "Zielbereich</a></p>\n");
    html += script(pageScript, 2000);
    html += QStringLiteral("</body>\n</html>\n");
    return html.toUtf8();
}

QByteArray LivePages::display(const LiveSnapshot &s)
{
    QString html = QString::fromUtf8(displayHead);
    html.replace(QStringLiteral("%TITLE%"), escape(QStringLiteral("Anzeigetafel ") + s.title));
    const LiveEntry *last = s.entries.empty() ? nullptr : &s.entries.front();
    html += QStringLiteral("<div id=\"nr\"><small>Nr. </small>") +
            (last && !last->number.isEmpty() ? escape(last->number) : QString(QChar(0x2013))) +
            QStringLiteral("</div>\n<div id=\"time\"><span") +
            (last ? QStringLiteral(">") + escape(last->time)
                  : QStringLiteral(" class=\"none\">--:--:--,--")) +
            QStringLiteral("</span></div>\n<ol id=\"list\">");
    for (const LiveEntry &e : s.entries)
        html += QStringLiteral("<li><span class=\"n") +
                (e.number.isEmpty() ? QStringLiteral(" none\">\u2013")
                                    : QStringLiteral("\">") + escape(e.number)) +
                QStringLiteral("</span><span class=\"t\">") + escape(e.time) +
                QStringLiteral("</span></li>");
    html += QStringLiteral("</ol>\n<p id=\"state\"></p>\n");
    html += script(displayScript, 500);
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
