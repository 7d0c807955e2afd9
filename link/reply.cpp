#include "link/reply.h"

#include <array>

namespace tqb9 {
namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';

struct Letters {
    char first;
    char second;
    std::int16_t code;
};

constexpr std::array<Letters, 8> kPlain{{{'O', 'K', reply::OK},
                                         {'N', 'G', reply::NG},
                                         {'E', 'D', reply::ED},
                                         {'C', 'T', reply::CT},
                                         {'B', 'E', reply::BE},
                                         {'P', 'G', reply::PG},
                                         {'R', 'A', reply::RA},
                                         {'E', 'E', reply::EE}}};

constexpr std::array<Letters, 7> kFramed{{{'O', 'K', reply::OK},
                                          {'N', 'G', reply::NG},
                                          {'0', '0', reply::Framed00},
                                          {'0', '1', reply::Framed01},
                                          {'0', '2', reply::Framed02},
                                          {'0', '3', reply::Framed03},
                                          {'R', 'E', reply::RE}}};

template <std::size_t N>
std::int16_t lookUp(const std::array<Letters, N>& table, char first, char second)
{
    for (const Letters& row : table) {
        if (row.first == first && row.second == second)
            return row.code;
    }
    return reply::None;
}

bool holds(QByteArrayView buf, qsizetype pos, qsizetype length)
{
    return pos >= 0 && length <= buf.size() && pos <= buf.size() - length;
}

} // namespace

std::int16_t ParseReply(QByteArrayView bytRxBuf, qsizetype intPos)
{
    if (!holds(bytRxBuf, intPos, 4))
        return reply::None;
    if (bytRxBuf[intPos + 2] != kCr || bytRxBuf[intPos + 3] != kLf)
        return reply::None;
    return lookUp(kPlain, bytRxBuf[intPos], bytRxBuf[intPos + 1]);
}

std::int16_t ParseFramedReply(QByteArrayView bytRxBuf, qsizetype intPos)
{
    if (!holds(bytRxBuf, intPos, 6))
        return reply::None;
    if (bytRxBuf[intPos] != kCr || bytRxBuf[intPos + 1] != kLf || bytRxBuf[intPos + 4] != kCr ||
        bytRxBuf[intPos + 5] != kLf)
        return reply::None;
    return lookUp(kFramed, bytRxBuf[intPos + 2], bytRxBuf[intPos + 3]);
}

const char* replyName(std::int16_t code)
{
    static constexpr std::array<const char*, 14> kNames{"OK", "NG",   "ED", "CT", "BE", "PG", "RA",
                                                        "EE", "none", "00", "01", "02", "03", "RE"};
    if (code < 0 || code >= static_cast<std::int16_t>(kNames.size()))
        return "--";
    return kNames[static_cast<std::size_t>(code)];
}

} // namespace tqb9
