#pragma once

#include <array>
#include <cstdint>
#include <QObject>

namespace tqb9 {

// The check marks of the COM menu: the one piece of state that says which port the next
// operation opens. The window mirrors it; the command line front end sets it directly. Items 1 to
// 16 are the menu as it always was; a port above 16 (Windows' COM17 and up) can be checked too,
// one at a time, from the items the window adds after them.
class PortMenu : public QObject {
    Q_OBJECT
public:
    static constexpr int kItems = 16;
    static constexpr std::int16_t kNoneChecked = 17;

    explicit PortMenu(QObject* parent = nullptr);

    // Unchecks items 1..16 in order and any port above them, then checks item index: 1..16, or
    // a port number above them up to PortMap::kLastComNumber.
    void mnuCom_Click(int index);
    // The first checked item, else the checked port above them, else 17 when none is: the port
    // the original then opened, and so COM17 on Windows.
    std::int16_t GetCOM() const;
    bool isChecked(int index) const;

signals:
    void checksChanged();

private:
    // Index 0 unused, so the array reads like the menu. The window is created with items 1 and
    // 3 checked; start-up leaves only item 1.
    std::array<bool, kItems + 1> m_checked{false, true, false, true};
    int m_above = 0; // the checked port above item 16, 0 for none
};

} // namespace tqb9
