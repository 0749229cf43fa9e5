#include "serial/PortProbe.h"
#include "serial/SimBarrier.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Leaves a bound Unix socket file at path, as a listening barrier-sim would.
bool makeSocketFile(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.toLocal8Bit().constData(), sizeof addr.sun_path - 1);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool makeFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

class PortProbeTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString at(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(PortProbeTest, OnlyUsablePortsCount)
{
    ASSERT_TRUE(makeFile(at("plain")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    ASSERT_TRUE(makeSocketFile(at("barrier.sock")));
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const QString pty = QString::fromLocal8Bit(ptsname(master));

    EXPECT_FALSE(isSerialPortPath(QString()));
    EXPECT_FALSE(isSerialPortPath(at("missing")));
    EXPECT_FALSE(isSerialPortPath(at("plain")));
    EXPECT_FALSE(isSerialPortPath(at("folder")));
    EXPECT_FALSE(isSerialPortPath("/dev/null")); // a character device without modem lines
    EXPECT_FALSE(isSerialPortPath(pty));         // a terminal without modem lines
    EXPECT_TRUE(isSerialPortPath("sim:" + at("barrier.sock")));
    EXPECT_FALSE(isSerialPortPath("sim:" + at("plain")));
    EXPECT_FALSE(isSerialPortPath("sim:" + at("missing")));
    EXPECT_FALSE(isSerialPortPath("sim:"));
    ::close(master);
}

// Ports 1 and 3 present among the sixteen, plus a seventeenth that must not count.
TEST_F(PortProbeTest, ProbeOverATestFolder)
{
    ASSERT_TRUE(makeSocketFile(at("com1")));
    ASSERT_TRUE(makeFile(at("com2")));
    ASSERT_TRUE(makeSocketFile(at("com3")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("com4"));
    ASSERT_TRUE(makeSocketFile(at("com17")));
    QList<int> asked;
    const quint32 set = probePorts([&](int n) {
        asked << n;
        return "sim:" + at(QStringLiteral("com%1").arg(n));
    });
    EXPECT_EQ(set, 0x00030005u);
    EXPECT_EQ(asked.size(), 16);
    EXPECT_EQ(asked.first(), 1);
    EXPECT_EQ(asked.last(), 16);
    EXPECT_EQ(portListEntries(set), (QStringList{"COM1", "COM3"}));
    EXPECT_TRUE(portInSet(set, 3));
    EXPECT_FALSE(portInSet(set, 2));
    EXPECT_EQ(highestPort(set), 3);
}

TEST(PortSet, ValuesAndListing)
{
    EXPECT_EQ(probePorts([](int) { return QString(); }), 0u);
    EXPECT_TRUE(portListEntries(0).isEmpty());
    const quint32 all =
        probePorts([](int n) { return QString::number(n); }, [](const QString &) { return true; });
    EXPECT_EQ(all, 0x0010FFFFu);
    EXPECT_EQ(portListEntries(all).size(), 16);
    EXPECT_EQ(portListEntries(all).last(), "COM16");
    // Only the highest port found stands in the upper half.
    const quint32 some = probePorts([](int n) { return QString::number(n); },
                                    [](const QString &p) { return p == "12" || p == "5"; });
    EXPECT_EQ(some, (12u << 16) | (1u << 11) | (1u << 4));
    EXPECT_EQ(portListEntries(some), (QStringList{"COM5", "COM12"}));
    EXPECT_FALSE(portInSet(some, 0));
    EXPECT_FALSE(portInSet(some, 17));
}

class PinPairs : public ::testing::TestWithParam<std::pair<quint32, const char *>>
{
};

TEST_P(PinPairs, TextForStatusWord)
{
    const QString text = QString::fromLatin1(GetParam().second);
    EXPECT_EQ(pinPairText(GetParam().first), text);
    if (!text.isEmpty()) {
        EXPECT_EQ(pinPairBit(text), GetParam().first & 0xF0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PinPairs,
                         ::testing::Values(std::pair{0x10u, "7+8"}, std::pair{0x20u, "4+6"},
                                           std::pair{0x40u, "7+9"}, std::pair{0x80u, "1+4"},
                                           std::pair{0x00u, ""}, std::pair{0x30u, ""},
                                           std::pair{0xF0u, ""}, std::pair{0x08u, ""},
                                           std::pair{0x120u, "4+6"}));

TEST(PinPairsExtra, ContactRuleAndSpellings)
{
    EXPECT_FALSE(contactClosed(0));
    EXPECT_FALSE(contactClosed(0x0F));
    EXPECT_FALSE(contactClosed(0x100));
    for (quint32 bit : {0x10u, 0x20u, 0x40u, 0x80u})
        EXPECT_TRUE(contactClosed(bit | 0x100));
    EXPECT_EQ(pinPairBit("6+4"), 0x20u);
    EXPECT_EQ(pinPairBit(" 4-6 "), 0x20u);
    EXPECT_EQ(pinPairBit("4+1"), 0x80u);
    EXPECT_EQ(pinPairBit("5+6"), 0u);
    EXPECT_EQ(pinPairBit(""), 0u);
}

} // namespace
