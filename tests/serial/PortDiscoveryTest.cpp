#include "serial/PortDiscovery.h"
#include "tests/support/FakeDeviceTree.h"

#include <gtest/gtest.h>

namespace {

class PortDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tree.plugUsb("ttyUSB0", "1-2", "FTDI", "FT232R USB UART", "A9X1");
        tree.plugUsb("ttyUSB1", "1-4", "Prolific Technology Inc.", "USB-Serial Controller", "P77");
        tree.plugUsb("ttyACM0", "1-3", "Arduino (www.arduino.cc)", "Arduino Uno", "7593");
        tree.addOnBoard("ttyS0");
    }
    FakeDeviceTree tree;
};

// What the user is told about each kind of port.
TEST_F(PortDiscoveryTest, NamesSayTheNodeAndTheAdapter)
{
    const PortDiscovery d(tree.root());
    const struct
    {
        QString path;
        QString text;
    } cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0 · FTDI FT232R USB UART"},
        {"/dev/ttyUSB1", "/dev/ttyUSB1 · Prolific Technology Inc. USB-Serial Controller"},
        // The maker's name is not said twice.
        {"/dev/ttyACM0", "/dev/ttyACM0 · Arduino Uno"},
        {"/dev/ttyS0", "/dev/ttyS0"},
        {"/dev/ttyUSB5", "/dev/ttyUSB5 · nicht angeschlossen"},
        // A stable name configured in place of the number says where it leads now.
        {tree.byIdOf("ttyUSB0"), "/dev/ttyUSB0 · FTDI FT232R USB UART"},
        {"sim:/nowhere/b.sock", "Simulierte Lichtschranke (/nowhere/b.sock) · nicht angeschlossen"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(d.describe(c.path).text(), c.text) << c.path.toStdString();
}

TEST_F(PortDiscoveryTest, UsbAdaptersHaveTheirByIdNameAndBoardPortsNone)
{
    const PortDiscovery d(tree.root());
    EXPECT_EQ(d.stableName("/dev/ttyUSB0"),
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0");
    EXPECT_EQ(d.stableName("/dev/ttyACM0"),
              "/dev/serial/by-id/usb-Arduino_(www.arduino.cc)_Arduino_Uno_7593-if00");
    EXPECT_EQ(d.describe("/dev/ttyUSB1").stableName, tree.byIdOf("ttyUSB1"));
    EXPECT_EQ(d.stableName("/dev/ttyS0"), "");
    EXPECT_EQ(d.stableName("/dev/ttyUSB5"), "");
    EXPECT_EQ(d.stableName("sim:/x"), "");
    // Read below the root only: the machine's own devices are not seen.
    EXPECT_EQ(PortDiscovery(tree.at("/nothing")).describe("/dev/ttyS0").node, "");
}

// The adapter comes back as ttyUSB2 while the program still held ttyUSB0: its by-id name
// now leads there, and the old node is gone.
TEST_F(PortDiscoveryTest, AnAdapterBackUnderANewNumberIsFoundByItsStableName)
{
    const PortDiscovery d(tree.root());
    const QString stable = d.stableName("/dev/ttyUSB0");
    tree.unplug("ttyUSB0");
    EXPECT_EQ(d.node(stable), "");
    EXPECT_EQ(d.describe("/dev/ttyUSB0").text(), "/dev/ttyUSB0 · nicht angeschlossen");
    tree.plugUsb("ttyUSB2", "1-2", "FTDI", "FT232R USB UART", "A9X1");
    EXPECT_EQ(d.node(stable), "/dev/ttyUSB2");
    EXPECT_EQ(d.describe(stable).text(), "/dev/ttyUSB2 · FTDI FT232R USB UART");
    EXPECT_EQ(d.stableName("/dev/ttyUSB2"), stable);
    // The other adapter keeps its own name.
    EXPECT_NE(d.stableName("/dev/ttyUSB1"), stable);
}

} // namespace
