#pragma once

#include <cstdint>
#include <QByteArray>
#include <QFile>
#include <QString>

namespace tqb9 {

struct RunReport;

// "0x1A2B3C4D"
QString crc32Text(std::uint32_t crc);

// One run as one line of JSON, newline included.
QByteArray logLine(const RunReport& report);

// A file of run records that several programs may append to at once: every line goes out in one
// write to a file opened for appending, so lines from different writers never mix.
class RunLog {
public:
    // Opens (or creates) the file at once, so a log that cannot be written is known before any
    // radio is touched. On failure, and in append(), error gets what the system said.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    bool append(const QByteArray& line, QString* error);

private:
    QFile m_file;
};

} // namespace tqb9
