#include "ui/portmenu.h"

#include "link/portmap.h"

namespace tqb9 {

PortMenu::PortMenu(QObject* parent) : QObject(parent) {}

void PortMenu::mnuCom_Click(int index)
{
    for (int i = 1; i <= kItems; ++i)
        m_checked[static_cast<std::size_t>(i)] = false;
    m_above = 0;
    if (index >= 1 && index <= kItems)
        m_checked[static_cast<std::size_t>(index)] = true;
    else if (index > kItems && index <= PortMap::kLastComNumber)
        m_above = index;
    emit checksChanged();
}

std::int16_t PortMenu::GetCOM() const
{
    for (int i = 1; i <= kItems; ++i) {
        if (m_checked[static_cast<std::size_t>(i)])
            return static_cast<std::int16_t>(i);
    }
    return m_above != 0 ? static_cast<std::int16_t>(m_above) : kNoneChecked;
}

bool PortMenu::isChecked(int index) const
{
    if (index > kItems)
        return index == m_above;
    return index >= 1 && m_checked[static_cast<std::size_t>(index)];
}

} // namespace tqb9
