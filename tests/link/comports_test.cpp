// COM numbers above the menu's 16: Windows gives USB adapters COM17 and higher, and those must be
// reachable; elsewhere the numbers stay the menu's.
#include "link/portmap.h"

#include <gtest/gtest.h>

namespace tqb9 {
namespace {

constexpr bool kWindows = PortMap::kLastComNumber > PortMap::kLastPort;

TEST(PortsAboveMenu, PresentPortsAbove16InOrderOnce)
{
    const QStringList names{"COM3",   "COM23", "COM17",   "com100", "COM256",
                            "COM257", "COM23", "ttyUSB0", "COMx",   "COM016"};
    const QList<int> above = PortMap::numbersAboveMenu(names);
    if (kWindows)
        EXPECT_EQ(above, (QList<int>{17, 23, 100, 256}));
    else
        EXPECT_TRUE(above.isEmpty());
}

TEST(PortsAboveMenu, NumberAbove16IsThatComPortOnWindowsOnly)
{
    PortMap map;
    EXPECT_EQ(map.deviceFor(23), kWindows ? QStringLiteral("COM23") : QString());
    EXPECT_EQ(map.deviceFor(PortMap::kLastComNumber + 1), QString());
}

} // namespace
} // namespace tqb9
