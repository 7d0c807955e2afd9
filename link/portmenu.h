#pragma once

#include <array>
#include <cstdint>
#include <QObject>

namespace tqb9 {

// The check marks of the COM menu: the one piece of state that says which port the next
// operation opens. The window mirrors it; the command line front end sets it directly.
class PortMenu : public QObject {
    Q_OBJECT
public:
    static constexpr int kItems = 16;
    static constexpr std::int16_t kNoneChecked = 17;

    explicit PortMenu(QObject* parent = nullptr);

    // Unchecks items 1..16 in order, then checks item index.
    void mnuCom_Click(int index);
    // The first checked item, or 17 when none is.
    std::int16_t GetCOM() const;
    bool isChecked(int index) const;

signals:
    void checksChanged();

private:
    // Index 0 unused, so the array reads like the menu. The window is created with items 1 and
    // 3 checked; start-up leaves only item 1.
    std::array<bool, kItems + 1> m_checked{false, true, false, true};
};

} // namespace tqb9
