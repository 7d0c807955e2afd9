#include "link/portmap.h"

#include <algorithm>
#include <QElapsedTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace tqb9 {
namespace {

// USB-serial and CDC-ACM adapters are what a programming cable shows up as, so they come first.
bool isAdapter(const QSerialPortInfo& info)
{
    const QString name = info.portName();
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM")) ||
           name.startsWith(QLatin1String("cu.usb")) || name.startsWith(QLatin1String("tty.usb"));
}

// macOS makes two devices for every adapter: tty.* is the dial-in side, meant to wait for a
// carrier, cu.* the call-out side for a program that starts the conversation, as this one does.
// Only the cu.* device gets a number, so one cable is one COM port there as everywhere else.
// No other system names its ports in such pairs, so elsewhere this drops nothing.
void dropDialInTwins(QList<QSerialPortInfo>& infos)
{
    QStringList names;
    for (const QSerialPortInfo& info : infos)
        names.append(info.portName());
    infos.removeIf([&names](const QSerialPortInfo& info) {
        const QString name = info.portName();
        return name.startsWith(QLatin1String("tty.")) &&
               names.contains(QLatin1String("cu.") + name.mid(4));
    });
}

// "ttyS2" before "ttyS10": names compare by their text, then by their trailing number.
bool nameLess(const QString& a, const QString& b)
{
    static const QRegularExpression trailing(QStringLiteral("^(.*?)(\\d+)$"));
    const auto ma = trailing.match(a);
    const auto mb = trailing.match(b);
    if (ma.hasMatch() && mb.hasMatch() && ma.captured(1) == mb.captured(1))
        return ma.captured(2).toULongLong() < mb.captured(2).toULongLong();
    return a < b;
}

} // namespace

PortMap::PortMap(const PortBindings& bindings)
{
    for (const auto& [port, device] : bindings)
        bind(port, device);
}

void PortMap::bind(int port, const QString& device)
{
    m_bindings.insert(port, device);
}

std::optional<int> PortMap::comNumber(const QString& text)
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d{1,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

std::optional<std::pair<int, QString>> PortMap::parseBinding(const QString& text)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0 || eq == text.size() - 1)
        return std::nullopt;
    QString number = text.left(eq).trimmed();
    if (number.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        number = number.mid(3);
    bool ok = false;
    const int port = number.toInt(&ok);
    if (!ok || port < kFirstPort || port > kLastPort)
        return std::nullopt;
    return std::make_pair(port, text.mid(eq + 1));
}

std::optional<PortBindings> PortMap::parseBindings(const QStringList& texts, QString* bad)
{
    PortBindings bindings;
    for (const QString& text : texts) {
        const auto binding = parseBinding(text);
        if (!binding) {
            if (bad)
                *bad = text;
            return std::nullopt;
        }
        bindings.append(*binding);
    }
    return bindings;
}

QList<PortMap::Port> PortMap::presentPorts()
{
    return presentPorts(QSerialPortInfo::availablePorts());
}

QList<int> PortMap::portsAboveMenu()
{
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names.append(info.portName());
    return numbersAboveMenu(names);
}

QList<int> PortMap::numbersAboveMenu(const QStringList& portNames)
{
    static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    QList<int> numbers;
    for (const QString& name : portNames) {
        const auto match = com.match(name);
        if (!match.hasMatch())
            continue;
        const int number = match.captured(1).toInt();
        if (number > kLastPort && number <= kLastComNumber && !numbers.contains(number))
            numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QList<PortMap::Port> PortMap::presentPorts(QList<QSerialPortInfo> infos)
{
    dropDialInTwins(infos);
    std::sort(infos.begin(), infos.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        if (isAdapter(a) != isAdapter(b))
            return isAdapter(a);
        return nameLess(a.portName(), b.portName());
    });
    QList<Port> ports;
    for (const QSerialPortInfo& info : infos) {
        const QString device = deviceName(info);
        QString description = friendlyName(info.portName());
        if (!description.isEmpty()) {
            ports.append({device, description});
            continue;
        }
        description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description = description.isEmpty()
                              ? info.manufacturer()
                              : description + QLatin1String(", ") + info.manufacturer();
        ports.append({device, description});
    }
    return ports;
}

PortMap::Port PortMap::portFor(int port) const
{
    // A bound or impossible port needs no look at the system.
    if (m_bindings.contains(port) || port < kFirstPort || port > kLastComNumber)
        return portFor(port, {});
    return portFor(port, QSerialPortInfo::availablePorts());
}

QString PortMap::recentDeviceFor(int port, std::chrono::milliseconds maxAge) const
{
    if (m_bindings.contains(port) || port < kFirstPort || port > kLastComNumber)
        return portFor(port, {}).device;
    return portFor(port, recentSystemPorts(maxAge)).device;
}

QList<QSerialPortInfo> PortMap::recentSystemPorts(std::chrono::milliseconds maxAge)
{
    static QMutex mutex;
    static QElapsedTimer age;
    static QList<QSerialPortInfo> infos;
    const QMutexLocker lock(&mutex);
    if (!age.isValid() || age.elapsed() >= maxAge.count()) {
        infos = QSerialPortInfo::availablePorts();
        age.start();
    }
    return infos;
}

QList<PortMap::Port> PortMap::allPorts() const
{
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    QList<Port> ports;
    for (int port = kFirstPort; port <= kLastPort; ++port)
        ports.append(portFor(port, infos));
    return ports;
}

PortMap::Port PortMap::portFor(int port, const QList<QSerialPortInfo>& infos) const
{
    if (const auto bound = m_bindings.constFind(port); bound != m_bindings.constEnd())
        return {*bound, QString(), true};
    if (port < kFirstPort || port > kLastComNumber)
        return {};
    return numberedPort(port, infos);
}

} // namespace tqb9
