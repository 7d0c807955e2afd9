#include "image/buildinfo.h"

#include "tqb9version.h"

namespace tqb9 {

QString projectVersion()
{
    return QStringLiteral(TQB9_VERSION);
}

QString versionText(const Firmware& firmware)
{
    return QStringLiteral("%1, TQ-B9 ver %2\nfirmware: %3, CRC-32 0x%4")
        .arg(projectVersion(), builtInFirmwareVersion(), firmware.info().sourceText(),
             QString::number(firmware.crc32(), 16).toUpper().rightJustified(8, u'0'));
}

} // namespace tqb9
