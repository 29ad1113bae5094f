#include "PortTable.h"

#include <gtest/gtest.h>

namespace {

TEST(PortTable, DefaultsRebindingAndRange) {
    platform::UnbindAllPorts();
    struct Row {
        int nPort;
        const char *device;
    };
    const Row defaults[] = {{1, "/dev/ttyS0"}, {4, "/dev/ttyS3"}, {9, "/dev/ttyS8"},
                            {0, ""},           {10, ""},          {-1, ""}};
    for (const Row &row : defaults)
        EXPECT_EQ(platform::PortDevice(row.nPort), row.device) << "COM" << row.nPort;

    platform::BindPort(4, "/dev/ttyUSB0");
    platform::BindPort(10, "/dev/ttyUSB9");
    EXPECT_EQ(platform::PortDevice(4), "/dev/ttyUSB0");
    EXPECT_EQ(platform::PortDevice(3), "/dev/ttyS2");
    EXPECT_EQ(platform::PortDevice(10), "");
    platform::BindPort(4, "");
    EXPECT_EQ(platform::PortDevice(4), "/dev/ttyS3");
    platform::BindPort(1, "/tmp/gps");
    platform::UnbindAllPorts();
    EXPECT_EQ(platform::PortDevice(1), "/dev/ttyS0");
}

} // namespace
