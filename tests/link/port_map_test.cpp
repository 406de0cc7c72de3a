#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "link/link_settings.h"
#include "link/port_map.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

TEST(PortMap, ExplicitEntriesWinAndOtherNamesFollowTheDevicesPresent)
{
    PortMap map;
    map.set(3, "/tmp/varnok-sim");
    EXPECT_EQ(map.resolve("COM3"), "/tmp/varnok-sim");
    EXPECT_EQ(map.resolve("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(map.resolve("LPT1"), "");
    EXPECT_EQ(map.resolve("COM"), "");
    EXPECT_EQ(map.resolve("COM3x"), "");
    EXPECT_EQ(PortMap::number_of("COM16"), 16);
    EXPECT_EQ(PortMap::number_of("COM0"), 0);
}

TEST(PortMap, DevicesAreOrderedUsbThenAcmThenUartEachByNumber)
{
    const fs::path dir = fs::temp_directory_path() / ("varnok-dev-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name : {"ttyS10", "ttyS2", "ttyACM0", "ttyUSB1", "ttyUSB0", "ttyUSBx", "tty0", "null"})
        std::ofstream(dir / name).put('\n');
    const auto devices = PortMap::present_devices(dir.string());
    std::vector<std::string> names;
    for (const auto& d : devices)
        names.push_back(fs::path(d).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS2", "ttyS10"}));
    fs::remove_all(dir);
}

TEST(LineTables, SpeedCodes)
{
    const std::pair<int32_t, uint8_t> cases[] = {{4800, 1},   {9600, 2},  {19200, 3}, {38400, 4}, {57600, 5},
                                                 {115200, 6}, {14400, 0}, {0, 0},     {-9600, 0}};
    for (auto [speed, code] : cases)
        EXPECT_EQ(number_scor(speed), code) << speed;
    EXPECT_EQ(std::string(txt_name_comport[9]), "COM10");
    EXPECT_EQ(std::string(txt_parity[0]), "нет ");
    EXPECT_EQ(parity_text(2), "чёт");
    EXPECT_EQ(parity_text(7), "7");
}

}  // namespace
}  // namespace varnok
