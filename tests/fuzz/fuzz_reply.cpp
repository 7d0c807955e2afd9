// libFuzzer target: both reply recognisers on an arbitrary buffer and position. The first byte
// picks how the position is encoded: one signed byte (near the buffer, negative included) or eight
// bytes (anything a qsizetype holds, the extremes included). The rest is the buffer.
#include "link/reply.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <QByteArrayView>

namespace {

using tqb9::reply::None;

[[noreturn]] void fail(const char* recogniser, const char* what, qsizetype pos, std::int16_t code)
{
    std::fprintf(stderr, "%s %s at position %lld: code %d\n", recogniser, what,
                 static_cast<long long>(pos), code);
    std::abort();
}

bool holds(QByteArrayView buf, qsizetype pos, qsizetype length)
{
    return pos >= 0 && pos < buf.size() && buf.size() - pos >= length;
}

// Whether the two characters at `at` are the letters of `code`.
bool lettersOf(QByteArrayView buf, qsizetype at, std::int16_t code)
{
    return std::memcmp(buf.data() + at, tqb9::replyName(code), 2) == 0;
}

// The oracle works both ways: a code the recogniser gives must be one of those it may give, framed
// at pos and with its letters `lettersAfter` bytes into the frame; a frame around the letters of
// one must give it. The letters' position is only worked out inside a frame: pos may be anything
// a qsizetype holds, and pos + 2 would overflow at its top.
void check(const char* recogniser, std::int16_t code, bool framed, QByteArrayView buf,
           qsizetype pos, qsizetype lettersAfter, std::initializer_list<std::int16_t> accepted)
{
    if (code != None && std::find(accepted.begin(), accepted.end(), code) == accepted.end())
        fail(recogniser, "code out of its table", pos, code);
    if (code != None && (!framed || !lettersOf(buf, pos + lettersAfter, code)))
        fail(recogniser, "code without its letters", pos, code);
    for (const std::int16_t known : accepted) {
        if (code == None && framed && lettersOf(buf, pos + lettersAfter, known))
            fail(recogniser, "letters not recognised", pos, known);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    qsizetype pos = 0;
    std::size_t used = 0;
    if ((data[0] & 1) != 0 && size >= 9) {
        std::int64_t wide = 0;
        std::memcpy(&wide, data + 1, sizeof wide);
        pos = static_cast<qsizetype>(wide);
        used = 9;
    } else {
        pos = static_cast<std::int8_t>(data[1]);
        used = 2;
    }
    // The buffer ends where libFuzzer's allocation ends, so AddressSanitizer sees any read past it.
    const QByteArrayView buf(reinterpret_cast<const char*>(data + used),
                             static_cast<qsizetype>(size - used));
    using namespace tqb9::reply;
    check("plain", tqb9::ParseReply(buf, pos),
          holds(buf, pos, 4) && buf[pos + 2] == '\r' && buf[pos + 3] == '\n', buf, pos, 0,
          {OK, NG, ED, CT, BE, PG, RA, EE});
    check("framed", tqb9::ParseFramedReply(buf, pos),
          holds(buf, pos, 6) && buf[pos] == '\r' && buf[pos + 1] == '\n' && buf[pos + 4] == '\r' &&
              buf[pos + 5] == '\n',
          buf, pos, 2, {OK, NG, Framed00, Framed01, Framed02, Framed03, RE});
    return 0;
}
