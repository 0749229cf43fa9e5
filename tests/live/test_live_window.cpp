// The live results as the running window serves them, over real HTTP on 127.0.0.1.
#include "app/CommandLine.h"
#include "tests/support/WindowControls.h"
#include "app/LiveResults.h"
#include "tests/live/HttpAsk.h"
#include "tests/support/FreePort.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/TextLoads.h"
#include "widgets/LbButtons.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

QByteArray getBody(quint16 port, const QByteArray &path)
{
    return ask(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").body;
}

quint16 freePort()
{
    return freeListenPort();
}

class LiveWindow : public MainWindowFixture
{
protected:
    // Waits, processing events, until the condition holds (or a generous deadline).
    template <typename F> bool until(F f)
    {
        for (int i = 0; i < 1000; ++i) {
            if (f())
                return true;
            QTest::qWait(10);
        }
        return false;
    }
    QJsonObject json(quint16 port)
    {
        return QJsonDocument::fromJson(getBody(port, "/results.json")).object();
    }
    QLabel *label() { return w->findChild<QLabel *>("LabelLive"); }
};

// What the display page shows, read from its markup: the big number and time, then the
// list of entries (number, time).
struct Shown
{
    QString number, time;
    std::vector<std::pair<QString, QString>> list;
};
Shown displayed(const QByteArray &html)
{
    Shown d;
    const QString s = QString::fromUtf8(html);
    static const QRegularExpression nr(R"(<div id="nr"><small>Nr. </small>([^<]*)</div>)");
    static const QRegularExpression time(R"(<div id="time"><span[^>]*>([^<]*)</span>)");
    static const QRegularExpression item(
        R"(<li><span class="n[^"]*">([^<]*)</span><span class="t">([^<]*)</span></li>)");
    d.number = nr.match(s).captured(1);
    d.time = time.match(s).captured(1);
    for (auto it = item.globalMatch(s); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        d.list.emplace_back(m.captured(1), m.captured(2));
    }
    return d;
}

// The display as results.json describes it, for the page's script to draw.
Shown fromJson(const QJsonObject &o)
{
    Shown d;
    const QJsonArray entries = o["entries"].toArray();
    const QString none = QStringLiteral("\u2013");
    for (const QJsonValue &v : entries) {
        const QString n = v["number"].toString();
        d.list.emplace_back(n.isEmpty() ? none : n, v["time"].toString());
    }
    d.number = d.list.empty() ? none : d.list.front().first;
    d.time = d.list.empty() ? QStringLiteral("--:--:--,--") : d.list.front().second;
    return d;
}

} // namespace

TEST(LiveOptions, SettingsAndCommandLine)
{
    TempSettings settings;
    {
        QSettings s(settings.file(), QSettings::IniFormat);
        s.setValue("Live/Enabled", "1");
        s.setValue("Live/Port", "abc");
        s.setValue("Live/Address", "192.168.7.20");
    }
    TLiveResults::Config c = TLiveResults::readSettings();
    EXPECT_TRUE(c.enabled);
    EXPECT_EQ(c.options.port, 8080);
    EXPECT_EQ(c.address, "192.168.7.20");
    const struct
    {
        QStringList args;
        bool live;
        int port;
        bool error;
    } cases[] = {{{"t"}, false, 0, false},
                 {{"t", "--live"}, true, 0, false},
                 {{"t", "--live=9090"}, true, 9090, false},
                 {{"t", "--live=0"}, true, 0, true},
                 {{"t", "--live=x"}, true, 0, true}};
    for (const auto &k : cases) {
        const CommandLine cl = CommandLine::parse(k.args, false);
        EXPECT_EQ(cl.live, k.live);
        EXPECT_EQ(cl.livePort.value_or(0), k.port);
        EXPECT_EQ(!cl.error.isEmpty(), k.error);
    }
    c = TLiveResults::withCommandLine(TLiveResults::Config{}, true, quint16(9090));
    EXPECT_TRUE(c.enabled);
    EXPECT_EQ(c.options.port, 9090);
}

TEST_F(LiveWindow, OffUnlessAskedFor)
{
    w->startLiveResults();
    EXPECT_EQ(w->live, nullptr);
    EXPECT_FALSE(label()->isVisible());
}

TEST_F(LiveWindow, PageAndJsonFollowTheTables)
{
    const QString list = settings.dir.path() + "/liste.txt";
    QFile f(list);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Nr.;Fahrer\r\n7;<script>alert(1)</script>\r\n8;Meier\r\n");
    f.close();
    ASSERT_TRUE(awaitTextLoad(*w->files, [&] { w->LoadProtocolText(list); }));

    const quint16 port = freePort();
    w->startLiveResults(true, port);
    ASSERT_TRUE(until([&] { return label()->text().startsWith("Live-Ergebnisse: http://"); }))
        << label()->text().toStdString();
    EXPECT_TRUE(label()->text().endsWith(QString(":%1/").arg(port)));

    const QByteArray page = getBody(port, "/");
    EXPECT_TRUE(page.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_FALSE(page.contains("<script>alert(1)"));
    EXPECT_EQ(json(port)["rows"].toArray()[0].toObject()["driver"].toString(),
              "<script>alert(1)</script>");

    // A time taken and moved into car 8's row.
    key(Qt::Key_F4);
    zeit(10, 15, 22, 318);
    number(1, "8");
    QTest::mouseClick(ui(*w).bInsert, Qt::LeftButton);
    ASSERT_EQ(res().Cells(2, 2), "10:15:22,31");
    ASSERT_TRUE(until([&] {
        const QJsonArray rows = json(port)["rows"].toArray();
        return rows.size() == 2 &&
               rows[1].toObject()["times"].toArray()[0].toString() == "10:15:22,31";
    }));
    const QJsonObject last = json(port)["lastTime"].toObject();
    EXPECT_EQ(last["time"].toString(), "10:15:22,31");
    EXPECT_EQ(last["timeOfDay"].toString(), "10:15:22.318");
    EXPECT_TRUE(getBody(port, "/").contains("10:15:22,31"));
}

// The finish display follows the intermediate protocol: a number typed, an entry moved
// into the results, an unnumbered one deleted; and it shows what results.json says.
TEST_F(LiveWindow, DisplayFollowsTheEntriesAndShowsWhatTheJsonCarries)
{
    const quint16 port = freePort();
    w->startLiveResults(true, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->live->running(); }, 10000));
    auto entries = [&] {
        std::vector<std::pair<QString, QString>> out;
        for (const QJsonValue &v : json(port)["entries"].toArray())
            out.emplace_back(v["number"].toString(), v["time"].toString());
        return out;
    };
    using List = std::vector<std::pair<QString, QString>>;
    EXPECT_EQ(displayed(getBody(port, "/anzeige")).time, "--:--:--,--");

    key(Qt::Key_F4);
    zeit(10, 15, 22, 318);
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries() == List{{"", "10:15:22,31"}}; }, 10000));
    number(1, "8");
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries() == List{{"8", "10:15:22,31"}}; }, 10000));
    QTest::mouseClick(ui(*w).bInsert, Qt::LeftButton);
    ASSERT_EQ(res().Cells(2, 1), "10:15:22,31");
    zeit(10, 16, 0, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return entries() == List{{"", "10:16:00,00"}, {"8", "10:15:22,31"}};
        },
        10000));
    const Shown two = displayed(getBody(port, "/anzeige"));
    EXPECT_EQ(two.time, "10:16:00,00");
    EXPECT_EQ(two.number, "\u2013");

    // A false trigger dropped by the operator leaves the display.
    QTest::mouseClick(ui(*w).bDel, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries() == List{{"8", "10:15:22,31"}}; }, 10000));
    const QJsonObject o = json(port);
    const Shown shown = displayed(getBody(port, "/anzeige"));
    const Shown carried = fromJson(o);
    EXPECT_EQ(shown.number, "8");
    EXPECT_EQ(shown.time, "10:15:22,31");
    EXPECT_EQ(shown.number, carried.number);
    EXPECT_EQ(shown.time, carried.time);
    EXPECT_EQ(shown.list, carried.list);
}

TEST_F(LiveWindow, EveryTimeTakenSaysWhereItCameFrom)
{
    std::vector<QString> sources;
    QObject::connect(
        w.get(), &TFormMain::timeTaken,
        [&](const QString &, const TimeOfDay &, const QString &s) { sources.push_back(s); });
    key(Qt::Key_F4);
    zeit(10, 0, 0, 0);
    QTest::mousePress(ui(*w).bLAP, Qt::LeftButton);
    QTest::mouseRelease(ui(*w).bLAP, Qt::LeftButton);
    key(Qt::Key_F8);
    EXPECT_EQ(sources, (std::vector<QString>{"F8", "Maus", "F8"}));
}

TEST_F(LiveWindow, OccupiedPortIsReportedAndTheProgramGoesOn)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    w->startLiveResults(true, occupant.serverPort());
    ASSERT_TRUE(until([&] { return label()->isVisible(); }));
    EXPECT_EQ(
        label()->text(),
        QString("Live-Ergebnisse nicht gestartet: Port %1 ist belegt").arg(occupant.serverPort()));
    key(Qt::Key_F4);
    zeit(11, 0, 0, 0);
    EXPECT_EQ(pred().Cells(1, 1), "11:00:00,00");
}

struct AddressCase
{
    const char *address;
    const char *status; // %1: the port
    bool running;
};

class LiveAddressWindow : public LiveWindow, public ::testing::WithParamInterface<AddressCase>
{
};

// [Live] Address: the server listens where the user asked, or not at all.
TEST_P(LiveAddressWindow, AddressIsJudgedBeforeListening)
{
    settings.write({{"Live/Address", GetParam().address}});
    const quint16 port = freePort();
    w->startLiveResults(true, port);
    const QString status = QString::fromUtf8(GetParam().status).arg(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label()->text() == status; }, 10000))
        << label()->text().toStdString();
    EXPECT_EQ(w->live->running(), GetParam().running);
    // Nobody listens on the port when it did not start.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_EQ(probe.waitForConnected(10000), GetParam().running);
}

INSTANTIATE_TEST_SUITE_P(
    Live, LiveAddressWindow,
    ::testing::Values(
        AddressCase{"localhost", "Live-Ergebnisse: http://127.0.0.1:%1/", true},
        AddressCase{"127.0.0.1", "Live-Ergebnisse: http://127.0.0.1:%1/", true},
        AddressCase{"10.9.9.9",
                    "Live-Ergebnisse nicht gestartet: Adresse 10.9.9.9 gehört nicht zu diesem "
                    "Rechner",
                    false},
        AddressCase{"999.1.1.1",
                    "Live-Ergebnisse nicht gestartet: Adresse „999.1.1.1“ ist ungültig (leer: "
                    "alle Netzwerke, localhost: nur dieser Rechner)",
                    false}));
