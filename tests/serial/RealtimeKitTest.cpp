// The worker's priority on a desktop: where it may not raise itself, RealtimeKit is asked
// over D-Bus. Played here on a private bus with a service that answers as RealtimeKit
// does: granted, refused, or not there at all.
#include "serial/RealtimeKit.h"
#include "serial/Comms.h"
#include "tests/support/FakeSerialDevice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// A bus of the test's own (dbus-daemon with a minimal configuration).
class PrivateBus
{
public:
    bool start()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return false;
        QFile conf(dir.filePath(QStringLiteral("bus.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=" +
            dir.path().toUtf8() +
            "</listen><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow send_destination=\"*\"/>"
            "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
        conf.close();
        process.start(daemon, {QStringLiteral("--config-file=") + conf.fileName(),
                               QStringLiteral("--print-address"), QStringLiteral("--nofork")});
        if (!process.waitForStarted(10000))
            return false;
        const QDeadlineTimer deadline(10000);
        while (!address.contains('\n') && !deadline.hasExpired() &&
               process.state() == QProcess::Running) {
            process.waitForReadyRead(500);
            address += process.readAllStandardOutput();
        }
        address = address.trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    QTemporaryDir dir;
    QProcess process;
    QByteArray address;
};

// Answers as RealtimeKit: its limits, and MakeThreadRealtime granted or refused.
class FakeRealtimeKit : public QDBusVirtualObject
{
public:
    bool grant = true;
    qlonglong rtTimeMax = 200000;
    int maxPriority = 5;
    QList<QPair<qulonglong, uint>> asked;

    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &connection) override
    {
        if (m.member() == QLatin1String("GetAll")) {
            QVariantMap props{{QStringLiteral("MaxRealtimePriority"), maxPriority},
                              {QStringLiteral("RTTimeUSecMax"), rtTimeMax},
                              {QStringLiteral("MinNiceLevel"), -15}};
            return connection.send(m.createReply(QVariant::fromValue(props)));
        }
        if (m.member() == QLatin1String("MakeThreadRealtime")) {
            asked.append({m.arguments().value(0).toULongLong(), m.arguments().value(1).toUInt()});
            return connection.send(
                grant
                    ? m.createReply()
                    : m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                         QStringLiteral("Operation not permitted")));
        }
        return false;
    }
};

class RealtimeKitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!bus.start())
            GTEST_SKIP() << "dbus-daemon is not installed; scripts/install-deps installs it";
        TRealtimeKitRequest::setBusAddressForTesting(QString::fromUtf8(bus.address));
        direct = TComThread::realtimeRequest();
        TComThread::realtimeRequest() = [this](pthread_t) { return directAllowed; };
        port.setDeviceFactory(line->factory());
        port.OnNotice = [this](QObject *, TComNotice n) {
            if (n == cnPriority)
                ++known;
        };
    }
    void TearDown() override
    {
        port.Close();
        if (direct)
            TComThread::realtimeRequest() = direct;
        TRealtimeKitRequest::setBusAddressForTesting(QString());
        if (serving)
            service.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-realtimekit"));
    }
    // The service on the bus, as RealtimeKit's own process would offer it.
    void offer()
    {
        service = QDBusConnection::connectToBus(QString::fromUtf8(bus.address),
                                                QStringLiteral("fake-realtimekit"));
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(service.registerService(kService));
        ASSERT_TRUE(service.registerVirtualObject(kPath, &kit));
        serving = true;
    }
    // Opens the port and waits until its worker's priority is known.
    void openAndSettle()
    {
        port.Open();
        ASSERT_TRUE(QTest::qWaitFor([&] { return known > 0; }, 10000));
    }

    PrivateBus bus;
    FakeRealtimeKit kit;
    QDBusConnection service{QString()};
    bool serving = false;
    bool directAllowed = false;
    std::function<bool(pthread_t)> direct;
    std::shared_ptr<FakeSerialLine> line = std::make_shared<FakeSerialLine>();
    int known = 0;
    TComPort port;
};

TEST_F(RealtimeKitTest, GrantedWithinItsLimits)
{
    offer();
    kit.rtTimeMax = 50000;
    openAndSettle();
    EXPECT_EQ(port.WorkerPriority(), TWorkerPriority::RealtimeKit);
    ASSERT_EQ(kit.asked.size(), 1);
    // The worker's own thread, at no more than the service allows, with the CPU-time
    // limit it asks for.
    EXPECT_NE(kit.asked[0].first, qulonglong(::gettid()));
    EXPECT_GT(kit.asked[0].first, 0u);
    EXPECT_EQ(kit.asked[0].second, 5u);
    rlimit limit = {};
    ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_LE(limit.rlim_max, rlim_t(50000));
    EXPECT_LE(limit.rlim_cur, limit.rlim_max);
    EXPECT_EQ(workerPriorityText(port.WorkerPriority()), "Echtzeit über RealtimeKit");
}

TEST_F(RealtimeKitTest, RefusedOrAbsentLeavesNormalPriority)
{
    offer();
    kit.grant = false;
    openAndSettle();
    EXPECT_EQ(port.WorkerPriority(), TWorkerPriority::Normal);
    EXPECT_EQ(port.PriorityReason(), "Operation not permitted");
    EXPECT_EQ(kit.asked.size(), 1);

    // Nobody offers the service.
    port.Close();
    service.unregisterObject(kPath);
    service.unregisterService(kService);
    serving = false;
    known = 0;
    openAndSettle();
    EXPECT_EQ(port.WorkerPriority(), TWorkerPriority::Normal);
    EXPECT_FALSE(port.PriorityReason().isEmpty());
    EXPECT_EQ(kit.asked.size(), 1);
}

// Where the worker may raise itself (root, or a raised RLIMIT_RTPRIO), the bus is not asked.
TEST_F(RealtimeKitTest, RaisingItselfComesFirst)
{
    offer();
    directAllowed = true;
    port.Open();
    EXPECT_EQ(port.WorkerPriority(), TWorkerPriority::Realtime); // known at once
    // The worker has said its id before its first wait; that notice is handled, and no
    // request has been made for it.
    ASSERT_TRUE(line->waitUntil([&] { return line->waiting; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(port.findChildren<TRealtimeKitRequest *>().isEmpty());
    EXPECT_TRUE(kit.asked.isEmpty());
    port.Close();
    EXPECT_EQ(port.WorkerPriority(), TWorkerPriority::None);
}

} // namespace
