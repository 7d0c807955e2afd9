#include "link/portmap.h"

#include <QSerialPortInfo>

namespace tqb9 {

QString PortMap::deviceName(const QSerialPortInfo& info)
{
    return info.systemLocation();
}

// Port n is the n-th port present, in the order presentPorts() gives them.
PortMap::Port PortMap::numberedPort(int port, const QList<QSerialPortInfo>& infos)
{
    const QList<Port> ports = presentPorts(infos);
    if (port > ports.size())
        return {};
    return ports.at(port - 1);
}

// Only Windows keeps a friendly name for a port; elsewhere Qt's description and maker say it all.
QString PortMap::friendlyName(const QString&)
{
    return {};
}

} // namespace tqb9
