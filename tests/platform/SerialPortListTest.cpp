#include "platform/SerialPortList.h"
#include "platform/posix/SerialDevices.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(SerialPortListTest, OrderAndUartFilter)
{
    TempDir root;
    // Plain files stand in for device nodes; a ttyS's UART type comes from sysfs.
    for (const char* node : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyS9", "ttyUSB1", "ttyUSB0", "ttyACM0", "ttyACM10",
                             "ttyACM2", "tty0", "ttySx", "ttyUSB", "console"})
        root.Write(std::string("dev/") + node, "");
    const std::pair<const char*, const char*> types[] = {
        {"ttyS0", "4\n"}, {"ttyS1", "0\n"}, {"ttyS9", "4\n"}, {"ttyS10", "17\n"}};
    for (const auto& [name, type] : types)
        root.Write(std::string("sys/") + name + "/type", type);
    // ttyS2 has no type file and cannot be asked: no UART.

    std::vector<std::string> devices = ListSerialDevices({root.File("dev"), root.File("sys")});
    std::vector<std::string> expected;
    for (const char* name : {"ttyS0", "ttyS9", "ttyS10", "ttyUSB0", "ttyUSB1", "ttyACM0", "ttyACM2", "ttyACM10"})
        expected.push_back(root.File("dev/") + name);
    EXPECT_EQ(devices, expected);
}

TEST(SerialPortListTest, NoDevicesAtAll)
{
    TempDir root;
    EXPECT_TRUE(ListSerialDevices({root.File("dev"), root.File("sys")}).empty());
}

TEST(SerialPortListTest, ComNumbersNameTheRememberedList)
{
    RememberComPorts({{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}});
    EXPECT_EQ(ComPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(ComPortDevice(2), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortDevice(3), "");
    EXPECT_EQ(ComPortDevice(0), "");
    EXPECT_EQ(ComPortDevice(-1), "");
    RememberComPorts({});
}

} // namespace
