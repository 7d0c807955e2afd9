#include "image/buildinfo.h"

#include "tqb9version.h"

namespace tqb9 {

QString projectVersion()
{
    return QStringLiteral(TQB9_VERSION);
}

QString versionText(const FirmwareInfo& firmware, const MemoryImage& image)
{
    const std::uint32_t crc = crc32Of(writtenRange(image));
    return QStringLiteral("%1, TQ-B9 ver %2\nfirmware: %3, CRC-32 0x%4")
        .arg(projectVersion(), builtInFirmwareVersion(), firmware.sourceText(),
             QString::number(crc, 16).toUpper().rightJustified(8, u'0'));
}

} // namespace tqb9
