#include "run/runlog.h"

#include "run/run.h"

#include <cmath>
#include <QJsonDocument>
#include <QJsonObject>

namespace tqb9 {
QString crc32Text(std::uint32_t crc)
{
    return QStringLiteral("0x") +
           QString::number(crc, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

QByteArray logLine(const RunReport& report)
{
    const bool completed = report.outcome == Outcome::Completed;
    QJsonObject attempts;
    for (int i = 0; i <= static_cast<int>(report.step); ++i)
        attempts.insert(QLatin1String(stepKey(static_cast<Step>(i))), report.attempts.at(i));
    const QJsonObject record{
        {QStringLiteral("time"), report.started.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("port"), report.port},
        {QStringLiteral("device"),
         report.device.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(report.device)},
        {QStringLiteral("firmware"),
         QJsonObject{{QStringLiteral("source"), report.firmware.info().sourceText()},
                     {QStringLiteral("crc32"), crc32Text(report.firmware.crc32())}}},
        {QStringLiteral("outcome"), messageFor(report.outcome)},
        {QStringLiteral("stop"), report.stoppedBy == StoppedBy::Nobody
                                     ? QJsonValue(QJsonValue::Null)
                                     : QJsonValue(QLatin1String(stopKey(report.stoppedBy)))},
        {QStringLiteral("exit"), report.status},
        {QStringLiteral("step"), completed ? QJsonValue(QJsonValue::Null)
                                           : QJsonValue(QLatin1String(stepKey(report.step)))},
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
        *error = m_file.errorString();
    return false;
}

bool RunLog::append(const QByteArray& line, QString* error)
{
    if (m_file.write(line) == line.size())
        return true;
    if (error)
        *error = m_file.errorString();
    return false;
}

} // namespace tqb9
