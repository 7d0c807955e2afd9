// The COM menu's check marks: one at a time, whichever item or port above the menu was clicked
// last, and the number Start opens when none is checked.
#include "link/portmap.h"
#include "ui/portmenu.h"

#include <gtest/gtest.h>

namespace tqb9 {
namespace {

constexpr bool kWindows = PortMap::kLastComNumber > PortMap::kLastPort;

TEST(PortMenu, OneCheckMarkAfterStartUpAndEachClick)
{
    PortMenu menu;
    // As created, two items carry a mark and the first wins.
    EXPECT_TRUE(menu.isChecked(1));
    EXPECT_TRUE(menu.isChecked(3));
    EXPECT_EQ(menu.GetCOM(), 1);
    menu.mnuCom_Click(1);
    EXPECT_FALSE(menu.isChecked(3));
    menu.mnuCom_Click(16);
    EXPECT_EQ(menu.GetCOM(), 16);
    for (int i = 1; i <= 15; ++i)
        EXPECT_FALSE(menu.isChecked(i)) << i;
    menu.mnuCom_Click(0); // no such item: every mark is gone
    EXPECT_EQ(menu.GetCOM(), PortMenu::kNoneChecked);
}

TEST(PortMenu, OneMarkAcrossTheMenuAndThePortsAbove)
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
