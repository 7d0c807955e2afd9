// libFuzzer target: the simulated radio's request parser on an arbitrary byte stream. The first
// byte is the size of the pieces the stream arrives in (0: all at once), because the parser has
// to cope with a request split anywhere. A fresh radio per input, so a crash replays alone.
#include "sim/simradio.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <QCoreApplication>

namespace {

using tqb9::sim::Command;

[[noreturn]] void fail(const char* what, qsizetype index)
{
    std::fprintf(stderr, "%s (log entry %lld)\n", what, static_cast<long long>(index));
    std::abort();
}

void checkLog(const tqb9::sim::SimRadio& radio)
{
    int counts[tqb9::sim::kCommandCount] = {};
    const auto& log = radio.log();
    for (qsizetype i = 0; i < log.size(); ++i) {
        const tqb9::sim::Request& request = log[i].request;
        ++counts[static_cast<int>(request.command)];
        // A request is a whole packet or one text line, never a fragment or two run together.
        const qsizetype size = request.bytes.size();
        if (size != tqb9::sim::kPacketSize && (size == 0 || size > 64))
            fail("request of an impossible size", i);
        if (request.command == Command::Program && request.address > 0xFFFFFF)
            fail("program address wider than 24 bits", i);
    }
    // count() includes the request still coming in, which the log does not hold yet.
    int inProgress = 0;
    for (int c = 0; c < tqb9::sim::kCommandCount; ++c) {
        const int ahead = radio.count(static_cast<Command>(c)) - counts[c];
        if (ahead < 0 || ahead > 1)
            fail("count() disagrees with the log", c);
        inProgress += ahead;
    }
    if (inProgress > 1)
        fail("more than one request in progress", inProgress);
    if (radio.flash().size() != tqb9::sim::kFlashSize)
        fail("flash changed size", -1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The radio's socket notifiers need an application object, though no event loop runs here.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const auto stream =
        QByteArrayView(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const qsizetype piece = data[0] == 0 ? stream.size() : data[0];

    tqb9::sim::SimRadio radio;
    QString why;
    if (!radio.start(&why)) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(why));
        std::abort();
    }
    for (qsizetype at = 0; at < stream.size(); at += piece)
        radio.receive(stream.sliced(at, std::min(piece, stream.size() - at)));
    checkLog(radio);
    return 0;
}
