// libFuzzer target: both reply recognisers on an arbitrary buffer and position. The first byte
// picks how the position is encoded: one signed byte (near the buffer, negative included) or eight
// bytes (anything a qsizetype holds, the extremes included). The rest is the buffer.
#include "link/reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <QByteArrayView>

namespace {

using tqb9::reply::None;

[[noreturn]] void fail(const char* what, qsizetype pos, std::int16_t code)
{
    std::fprintf(stderr, "%s at position %lld: code %d\n", what, static_cast<long long>(pos), code);
    std::abort();
}

bool holds(QByteArrayView buf, qsizetype pos, qsizetype length)
{
    return pos >= 0 && pos < buf.size() && buf.size() - pos >= length;
}

// Whether the two characters at `at` are the letters of `code`. The oracle works both ways: a
// recognised code must have its letters there, and a framed pair of known letters must be
// recognised.
bool lettersOf(QByteArrayView buf, qsizetype at, std::int16_t code)
{
    return std::memcmp(buf.data() + at, tqb9::replyName(code), 2) == 0;
}

void checkPlain(QByteArrayView buf, qsizetype pos)
{
    const std::int16_t code = tqb9::ParseReply(buf, pos);
    if (code < tqb9::reply::OK || code > None)
        fail("plain code out of its table", pos, code);
    const bool framed = holds(buf, pos, 4) && buf[pos + 2] == '\r' && buf[pos + 3] == '\n';
    if (code != None && (!framed || !lettersOf(buf, pos, code)))
        fail("plain code without its letters", pos, code);
    if (code == None && framed) {
        for (std::int16_t known = tqb9::reply::OK; known < None; ++known) {
            if (lettersOf(buf, pos, known))
                fail("plain letters not recognised", pos, known);
        }
    }
}

void checkFramed(QByteArrayView buf, qsizetype pos)
{
    using namespace tqb9::reply;
    const std::int16_t code = tqb9::ParseFramedReply(buf, pos);
    const bool known = code == OK || code == NG || (code >= Framed00 && code <= RE);
    if (!known && code != None)
        fail("framed code out of its table", pos, code);
    const bool framed = holds(buf, pos, 6) && buf[pos] == '\r' && buf[pos + 1] == '\n' &&
                        buf[pos + 4] == '\r' && buf[pos + 5] == '\n';
    if (code != None && (!framed || !lettersOf(buf, pos + 2, code)))
        fail("framed code without its letters", pos, code);
    if (code == None && framed) {
        for (const std::int16_t accepted : {OK, NG, Framed00, Framed01, Framed02, Framed03, RE}) {
            if (lettersOf(buf, pos + 2, accepted))
                fail("framed letters not recognised", pos, accepted);
        }
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
    checkPlain(buf, pos);
    checkFramed(buf, pos);
    return 0;
}
