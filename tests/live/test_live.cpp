#include "live/LiveServer.h"
#include "live/RecentEntries.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include "tests/live/HttpAsk.h"

namespace {

std::shared_ptr<LiveSnapshot> snapshot(const QString &driver, const QString &time = {})
{
    auto s = std::make_shared<LiveSnapshot>();
    s->title = QStringLiteral("tornelo");
    s->results.colCount = 4;
    s->results.rows = {{"Nr.", "Fahrer", "Zeit 1", " "},
                       {"12", driver, time, " "},
                       {" ", "", "", ""},
                       {"7", "Łoś", "", ""}};
    if (!time.isEmpty()) {
        s->lastTime = time;
        s->lastTimeOfDay = QStringLiteral("10:15:22.318");
    }
    return s;
}

class Live : public ::testing::Test
{
protected:
    quint16 startServer(TLiveServer::Options o = {})
    {
        o.address = QHostAddress::LocalHost;
        o.port = 0;
        QSignalSpy up(&server, &TLiveServer::listening);
        server.start(o);
        if (!up.wait(10000))
            return 0;
        return up.at(0).at(0).value<quint16>();
    }
    TLiveServer server;
};

} // namespace

TEST(LivePages, JsonHoldsTheTableAndTheLastTime)
{
    const auto s = snapshot(QStringLiteral("Meier"), QStringLiteral("10:15:22,31"));
    const QJsonObject o = QJsonDocument::fromJson(LivePages::json(*s)).object();
    EXPECT_EQ(o["title"].toString(), "tornelo");
    EXPECT_EQ(o["timeTitles"].toArray(), QJsonArray({"Zeit 1", "Zeit 2"}));
    const QJsonArray rows = o["rows"].toArray();
    // The blank row is left out; a cell of only blanks reads as empty.
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toObject()["number"].toString(), "12");
    EXPECT_EQ(rows[0].toObject()["times"].toArray(), QJsonArray({"10:15:22,31", ""}));
    EXPECT_EQ(rows[1].toObject()["driver"].toString(), "Łoś");
    EXPECT_EQ(o["lastTime"].toObject()["timeOfDay"].toString(), "10:15:22.318");
    EXPECT_TRUE(QJsonDocument::fromJson(LivePages::json(*snapshot("x")))["lastTime"].isNull());
}

TEST(LivePages, HostileTextsStayText)
{
    const QString evil = QStringLiteral("<script>alert(1)</script>");
    const auto s = snapshot(evil);
    s->entries = {{QStringLiteral("10:00:00,00"), evil}};
    const QByteArray display = LivePages::display(*s);
    EXPECT_FALSE(display.contains(evil.toUtf8()));
    EXPECT_TRUE(display.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
    const QByteArray page = LivePages::page(*s);
    EXPECT_FALSE(page.contains(evil.toUtf8()));
    EXPECT_TRUE(page.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_TRUE(page.contains("Łoś"));
    const QJsonObject o = QJsonDocument::fromJson(LivePages::json(*s)).object();
    EXPECT_EQ(o["rows"].toArray()[0].toObject()["driver"].toString(), evil);
}

TEST(RecentEntries, NumbersFollowTheirEntriesThroughBothProtocols)
{
    const QStringList predTitles{"", "Zeit", "Nr."};
    TableData pred{3, {predTitles, {" ", "", ""}}};
    TableData results{4, {{"Nr.", "Fahrer", "Zeit 1", "Zeit 2"}, {"7", "Meier", " ", " "}}};
    RecentEntries recent;
    using E = std::vector<LiveEntry>;

    // Shown once its entry is written, without a number until one is typed.
    recent.taken("10:00:01,00");
    EXPECT_TRUE(recent.follow(pred, results).empty());
    pred.rows = {predTitles, {"1", "10:00:01,00", " "}};
    EXPECT_EQ(recent.follow(pred, results), (E{{"10:00:01,00", ""}}));
    pred.rows[1][2] = "12";
    recent.taken("10:00:05,00");
    pred.rows.push_back({"2", "10:00:05,00", ""});
    EXPECT_EQ(recent.follow(pred, results), (E{{"10:00:05,00", ""}, {"10:00:01,00", "12"}}));

    // Car 12's entry moved into the results; the unnumbered one deleted.
    pred.rows.erase(pred.rows.begin() + 1);
    results.rows.push_back({"12", "Schulz", "10:00:01,00", " "});
    EXPECT_EQ(recent.follow(pred, results), (E{{"10:00:05,00", ""}, {"10:00:01,00", "12"}}));
    pred.rows = {predTitles, {" ", "", ""}};
    EXPECT_EQ(recent.follow(pred, results), (E{{"10:00:01,00", "12"}}));

    // Two cars in the same hundredth: the newer time is the later entry.
    recent.taken("10:00:09,00");
    recent.taken("10:00:09,00");
    pred.rows = {predTitles, {"1", "10:00:09,00", "3"}, {"2", "10:00:09,00", "4"}};
    EXPECT_EQ(recent.follow(pred, results),
              (E{{"10:00:09,00", "4"}, {"10:00:09,00", "3"}, {"10:00:01,00", "12"}}));

    // The last ten, newest first.
    for (int k = 10; k < 22; ++k) {
        const QString t = QStringLiteral("10:00:%1,00").arg(k);
        recent.taken(t);
        pred.rows.push_back({QString::number(pred.rowCount()), t, QString::number(k)});
    }
    const E shown = recent.follow(pred, results);
    ASSERT_EQ(shown.size(), size_t(RecentEntries::Shown));
    EXPECT_EQ(shown.front(), (LiveEntry{"10:00:21,00", "21"}));
    EXPECT_EQ(shown.back(), (LiveEntry{"10:00:12,00", "12"}));

    // A new protocol: nothing of it is left to show.
    pred.rows = {predTitles, {" ", "", ""}};
    results.rows.resize(2);
    results.rows[1] = QStringList(4, " ");
    EXPECT_TRUE(recent.follow(pred, results).empty());
}

TEST(LivePages, StarterListColumnsAreToldFromTimes)
{
    TableData t{6,
                {{"Nr.", "Fahrer", "Fahrzeug", "Klasse", "", ""},
                 {"12", "Meier", "VW Golf", "A", "10:15:22,31", " "},
                 {"7", "Łoś", " ", "B2", " ", " "},
                 {"8", "Schulz", "10:20:01,07", " ", " ", " "}}};
    // A car without a vehicle got its time in that column: the column is still text.
    EXPECT_EQ(LivePages::textColumns(t), (QList<int>{0, 1}));
    t.rows = {t.rows[0], {"1", "x", "9:05", "10:15:22", "10:15:22.318", "1:2"}};
    EXPECT_EQ(LivePages::textColumns(t), (QList<int>{3}));

    LiveSnapshot s;
    s.results = TableData{6,
                          {{"Nr.", "Fahrer", "Fahrzeug", "Klasse", "", ""},
                           {"12", "Meier", "VW Golf", "A", "10:15:22,31", " "}}};
    const QJsonObject o = QJsonDocument::fromJson(LivePages::json(s)).object();
    EXPECT_EQ(o["textColumns"].toArray(), QJsonArray({0, 1}));
    // The page marks them, so that a phone can put them behind the times.
    const QByteArray page = LivePages::page(s);
    EXPECT_TRUE(page.contains("<th class=\"d\">Fahrer</th><th class=\"x\">Fahrzeug</th>"
                              "<th class=\"x\">Klasse</th><th>Zeit 3</th>"));
    EXPECT_TRUE(page.contains("<td class=\"x\">A</td><td>10:15:22,31</td>"));
    EXPECT_TRUE(page.contains("href=\"/anzeige\""));
}

TEST_F(Live, PageAndJsonFollowThePublishedSnapshot)
{
    server.publish(snapshot(QStringLiteral("<script>alert(1)</script>")));
    const quint16 port = startServer();
    ASSERT_NE(port, 0);

    const Answer page = ask(port, get("/"));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.header("Content-Type").startsWith("text/html"));
    EXPECT_TRUE(page.body.contains("&lt;script&gt;alert(1)"));
    EXPECT_FALSE(page.body.contains("<script>alert(1)"));

    const Answer first = ask(port, get("/results.json"));
    ASSERT_EQ(first.status, 200);
    const QByteArray etag = first.header("ETag");
    ASSERT_FALSE(etag.isEmpty());
    EXPECT_EQ(ask(port, get("/results.json", "If-None-Match: " + etag + "\r\n")).status, 304);

    // A taken time moved into the results: the next poll sees it, under a new validator.
    server.publish(snapshot(QStringLiteral("Meier"), QStringLiteral("10:15:22,31")));
    const Answer next = ask(port, get("/results.json", "If-None-Match: " + etag + "\r\n"));
    ASSERT_EQ(next.status, 200);
    EXPECT_NE(next.header("ETag"), etag);
    const QJsonObject o = QJsonDocument::fromJson(next.body).object();
    EXPECT_EQ(o["lastTime"].toObject()["time"].toString(), "10:15:22,31");
    EXPECT_TRUE(ask(port, get("/")).body.contains("10:15:22,31"));
    EXPECT_EQ(ask(port, get("/favicon.ico")).status, 200);
}

TEST_F(Live, EverythingElseIsRefused)
{
    server.publish(snapshot(QStringLiteral("Meier")));
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    const QByteArray huge(1024 * 1024, 'a');
    const struct
    {
        QByteArray request;
        int status;
    } cases[] = {
        {get("/../README.md"), 404},
        {get("/%2e%2e/"), 404},
        {get("/%2e%2e/README.md"), 404},
        {get("//etc/passwd"), 404},
        {get("/results.json/../../CMakeLists.txt"), 404},
        {get("http://127.0.0.1/"), 404},
        {get("/index.html"), 404},
        // Escapes that decode to a page's name are not that name: only the names as they
        // are spelled are served.
        {get("/%72esults.json"), 404},
        {get("/results%2Ejson"), 404},
        {get("/%61nzeige"), 404},
        {get("/%2F"), 404},
        {get("/favicon%2esvg"), 404},
        {get("/", "Upgrade: websocket\r\nConnection: Upgrade\r\n"), 404},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", 405},
        {"DELETE /results.json HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        {"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + huge + "\r\n\r\n", 413},
        {"GET /" + huge + " HTTP/1.1\r\n\r\n", 413},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request.left(60).toStdString());
        const Answer a = ask(port, c.request);
        EXPECT_EQ(a.status, c.status);
        EXPECT_TRUE(a.body.isEmpty());
    }
    // Still serving after all that.
    EXPECT_EQ(ask(port, get("/results.json")).status, 200);
}

TEST_F(Live, OccupiedPortIsReported)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    TLiveServer::Options o;
    o.address = QHostAddress::LocalHost;
    o.port = occupant.serverPort();
    QSignalSpy failed(&server, &TLiveServer::failed);
    server.start(o);
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed.at(0).at(0).toString(),
              QStringLiteral("Port %1 ist belegt").arg(occupant.serverPort()));
}
