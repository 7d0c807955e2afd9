#include "link/portmenu.h"

namespace tqb9 {

PortMenu::PortMenu(QObject* parent) : QObject(parent) {}

void PortMenu::mnuCom_Click(int index)
{
    for (int i = 1; i <= kItems; ++i)
        m_checked[static_cast<std::size_t>(i)] = false;
    if (index >= 1 && index <= kItems)
        m_checked[static_cast<std::size_t>(index)] = true;
    emit checksChanged();
}

std::int16_t PortMenu::GetCOM() const
{
    for (int i = 1; i <= kItems; ++i) {
        if (m_checked[static_cast<std::size_t>(i)])
            return static_cast<std::int16_t>(i);
    }
    return kNoneChecked;
}

bool PortMenu::isChecked(int index) const
{
    return index >= 1 && index <= kItems && m_checked[static_cast<std::size_t>(index)];
}

} // namespace tqb9
