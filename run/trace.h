#pragma once

#include <cstdint>
#include <QByteArray>
#include <QString>

namespace tqb9 {

// Hex of bytes, "5A 4B 7E". Short runs whole; longer ones as their first and last bytes around
// the count left out, unless full.
QString hexBytes(const QByteArray& bytes, bool full);

// One exchange with the radio as trace lines: what was sent, what came back (the echo of the
// sent bytes is summarised, since the radio returns every byte), and the reply recognised.
// seconds is the time since the run began. Ends with a newline.
QString formatExchange(double seconds, const QByteArray& sent, const QByteArray& received,
                       std::int16_t code, bool full);

} // namespace tqb9
