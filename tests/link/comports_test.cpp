// COM numbers above the menu's 16: Windows gives USB adapters COM17 and higher, and those must be
// reachable; elsewhere the numbers stay the menu's.
#include "link/portmap.h"
#include "link/portmenu.h"

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

TEST(PortsAboveMenu, OneMarkAcrossTheMenuAndThePortsAbove)
{
    PortMenu menu;
    menu.mnuCom_Click(23);
    for (int i = 1; i <= PortMenu::kItems; ++i)
        EXPECT_FALSE(menu.isChecked(i)) << i;
    if (kWindows) {
        EXPECT_TRUE(menu.isChecked(23));
        EXPECT_EQ(menu.GetCOM(), 23);
        EXPECT_FALSE(menu.isChecked(17));
        // A menu item takes the mark back.
        menu.mnuCom_Click(2);
        EXPECT_FALSE(menu.isChecked(23));
        EXPECT_EQ(menu.GetCOM(), 2);
        menu.mnuCom_Click(PortMap::kLastComNumber);
        EXPECT_EQ(menu.GetCOM(), PortMap::kLastComNumber);
    } else {
        EXPECT_FALSE(menu.isChecked(23));
        EXPECT_EQ(menu.GetCOM(), PortMenu::kNoneChecked);
    }
    // No such port: every mark is gone, as for item 0.
    menu.mnuCom_Click(PortMap::kLastComNumber + 1);
    EXPECT_FALSE(menu.isChecked(PortMap::kLastComNumber));
    EXPECT_EQ(menu.GetCOM(), PortMenu::kNoneChecked);
}

} // namespace
} // namespace tqb9
