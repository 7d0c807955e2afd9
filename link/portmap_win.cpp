#include "link/portmap.h"

#include <windows.h>
// GUID_DEVCLASS_PORTS is defined here rather than taken from a library.
#include <devguid.h>
#include <initguid.h>
#include <QSerialPortInfo>
#include <setupapi.h>

namespace tqb9 {

// Windows users know a port as COM3, the name its COM number has too, not as \\.\COM3.
QString PortMap::deviceName(const QSerialPortInfo& info)
{
    return info.portName();
}

// Port n is COMn, present or not: a run then fails to open it and says so.
PortMap::Port PortMap::numberedPort(int port, const QList<QSerialPortInfo>& infos)
{
    const QString name = QStringLiteral("COM%1").arg(port);
    for (const QSerialPortInfo& info : infos) {
        if (info.portName().compare(name, Qt::CaseInsensitive) == 0) {
            const QString friendly = friendlyName(name);
            return {name, friendly.isEmpty() ? info.description() : friendly};
        }
    }
    return {name, QString()};
}

// Qt's description of a port is the driver's generic one ("USB Serial Port"); the friendly name
// is what Device Manager lists under Ports (COM & LPT), usually with the number and the adapter's
// maker ("USB Serial Port (COM23)", "Prolific USB-to-Serial Comm Port (COM5)"). A port's number
// lives in its device key as PortName.
QString PortMap::friendlyName(const QString& portName)
{
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return {};
    QString found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; found.isEmpty() && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        // One character short of the buffer, so the text ends even if the registry's does not.
        wchar_t name[64] = {};
        DWORD size = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!named || QString::fromWCharArray(name).compare(portName, Qt::CaseInsensitive) != 0)
            continue;
        wchar_t friendly[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly),
                                              sizeof friendly - sizeof(wchar_t), nullptr))
            found = QString::fromWCharArray(friendly);
        else
            break; // the port, without a friendly name
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

} // namespace tqb9
