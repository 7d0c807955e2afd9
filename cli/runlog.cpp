#include "cli/runlog.h"

#include "cli/radiorun.h"
#include "image/memoryimage.h"

#include <array>
#include <cmath>
#include <QJsonDocument>
#include <QJsonObject>

namespace tqb9::cli {
namespace {

constexpr long kWrittenFirst = 0xC0000;
constexpr long kWrittenEnd = 0xFF000; // the boot block above is never written

// Short keys a script can use without quoting.
const char* jsonStepName(Step step)
{
    switch (step) {
    case Step::Query:
        return "query";
    case Step::Connect:
        return "connect";
    case Step::Erase:
        return "erase";
    case Step::Write:
        return "write";
    case Step::End:
        return "end";
    }
    return "?";
}

} // namespace

QString crc32Text(std::uint32_t crc)
{
    return QStringLiteral("0x") +
           QString::number(crc, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

std::uint32_t crc32(const QByteArray& bytes)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ static_cast<std::uint8_t>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

FirmwareFacts firmwareFacts(const MemoryImage& image)
{
    QByteArray bytes(kWrittenEnd - kWrittenFirst, Qt::Uninitialized);
    for (long address = kWrittenFirst; address < kWrittenEnd; ++address)
        bytes[static_cast<qsizetype>(address - kWrittenFirst)] =
            static_cast<char>(image.byteAt(address));
    // Only the built-in firmware can be written today; a firmware file would name itself here.
    return {QStringLiteral("built-in"), crc32(bytes)};
}

QByteArray logLine(const RunReport& report)
{
    const bool completed = report.outcome == Outcome::Completed;
    QJsonObject attempts;
    for (int i = 0; i <= static_cast<int>(report.step); ++i)
        attempts.insert(QLatin1String(jsonStepName(static_cast<Step>(i))), report.attempts.at(i));
    const QJsonObject record{
        {QStringLiteral("time"), report.started.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("port"), report.port},
        {QStringLiteral("device"),
         report.device.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(report.device)},
        {QStringLiteral("firmware"),
         QJsonObject{{QStringLiteral("source"), report.firmware.source},
                     {QStringLiteral("crc32"), crc32Text(report.firmware.crc32)}}},
        {QStringLiteral("outcome"), messageFor(report.outcome)},
        {QStringLiteral("exit"), report.status},
        {QStringLiteral("step"), completed ? QJsonValue(QJsonValue::Null)
                                           : QJsonValue(QLatin1String(jsonStepName(report.step)))},
        {QStringLiteral("seconds"), std::round(report.seconds * 1000) / 1000},
        {QStringLiteral("attempts"), attempts},
    };
    return QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
}

bool RunLog::open(const QString& path, QString* error)
{
    m_file.setFileName(path);
    // Unbuffered, so that each append reaches the file as the one write it was handed as.
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    if (error)
        *error = QStringLiteral("cannot write the log %1: %2").arg(path, m_file.errorString());
    return false;
}

bool RunLog::append(const QByteArray& line, QString* error)
{
    if (m_file.write(line) == line.size())
        return true;
    if (error)
        *error = QStringLiteral("cannot append to the log %1: %2")
                     .arg(m_file.fileName(), m_file.errorString());
    return false;
}

} // namespace tqb9::cli
