#pragma once

#include <chrono>
#include <optional>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <utility>

class QSerialPortInfo;

namespace tqb9 {

// --com N=DEVICE as given: each COM number and the device it is bound to.
using PortBindings = QList<std::pair<int, QString>>;

// Turns the COM menu's port numbers into devices. On Windows port n is "COMn", and numbers run past
// the menu's 16, as USB adapters often get COM17 and higher. Elsewhere port n is the n-th serial
// port present, USB and ACM adapters first, then the rest, each group by name, so the usual single
// programming cable is COM1. A binding (--com N=DEVICE) overrides either rule.
class PortMap {
public:
    struct Port {
        QString device;      // what QSerialPort opens: "COM3", "/dev/ttyUSB0", "/dev/pts/4"
        QString description; // what the system says about it, may be empty
        bool bound = false;  // given by a binding, not found on the system
    };

    static constexpr int kFirstPort = 1;
    // The menu's last item, and the last port a binding may name.
    static constexpr int kLastPort = 16;
    // The last COM number a port can have: Device Manager offers up to COM256 on Windows; elsewhere
    // the numbers are the menu's.
#ifdef Q_OS_WIN
    static constexpr int kLastComNumber = 256;
#else
    static constexpr int kLastComNumber = kLastPort;
#endif

    PortMap() = default;
    // With every binding of --com.
    explicit PortMap(const PortBindings& bindings);

    void bind(int port, const QString& device);
    // "COM3" (any case) names a COM number: 3. Anything else is a device: nullopt.
    static std::optional<int> comNumber(const QString& text);
    // Parses "N=DEVICE" with N in 1..16.
    static std::optional<std::pair<int, QString>> parseBinding(const QString& text);
    // "N=DEVICE" values, for every program that binds ports. Nothing, and the first value that
    // is not one in *bad, for the program to word.
    static std::optional<PortBindings> parseBindings(const QStringList& texts, QString* bad);

    // The device behind port n, or an empty device when nothing is there (past kLastComNumber, and
    // elsewhere than on Windows past the ports present).
    Port portFor(int port) const;
    QString deviceFor(int port) const
    {
        return portFor(port).device;
    }
    // The same, from a look at the system at most maxAge old, shared by every thread of the
    // process: a station's ports each ask about once a second, and one look costs a scan of the
    // system's serial devices.
    QString recentDeviceFor(int port, std::chrono::milliseconds maxAge) const;
    // The system's serial ports from that shared look, at most maxAge old.
    static QList<QSerialPortInfo> recentSystemPorts(std::chrono::milliseconds maxAge);
    // portFor(1) to portFor(16) with a single look at the system, which can take tens of
    // milliseconds: for showing every port at once.
    QList<Port> allPorts() const;

    // The serial ports present, in the order that numbers them (ignores bindings).
    static QList<Port> presentPorts();

    // The numbers above the menu's 16 that present ports have (Windows' COM17 and up), in order.
    static QList<int> portsAboveMenu();
    static QList<int> numbersAboveMenu(const QStringList& portNames);

    // What the system calls the port ("USB Serial Port (COM23)"), where it has such a name: the
    // friendly name Windows shows in Device Manager. Empty elsewhere (portmap_win.cpp).
    static QString friendlyName(const QString& portName);

private:
    static QList<Port> presentPorts(QList<QSerialPortInfo> infos);
    // What QSerialPort opens for a port the system lists, as its users name it
    // (portmap_win.cpp, portmap_other.cpp).
    static QString deviceName(const QSerialPortInfo& info);
    // The port with COM number port, unbound and within the numbers (portmap_win.cpp,
    // portmap_other.cpp).
    static Port numberedPort(int port, const QList<QSerialPortInfo>& infos);
    Port portFor(int port, const QList<QSerialPortInfo>& infos) const;

    QMap<int, QString> m_bindings;
};

} // namespace tqb9
