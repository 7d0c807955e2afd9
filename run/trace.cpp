#include "run/trace.h"

#include "flash/packet.h"
#include "link/reply.h"

#include <algorithm>

namespace tqb9 {
namespace {

// Enough to see a command, a reply, or a packet's header and address whole.
constexpr qsizetype kShortRun = 24;
constexpr qsizetype kEnds = 8;
constexpr qsizetype kFullRowBytes = 32;

const QString kIndent = QStringLiteral("          ");

QString plainHex(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

// Printable rendering of a short run, so "ZK~FLASH" and "CT" read as text.
QString printable(QByteArrayView bytes)
{
    QString text;
    for (const char c : bytes)
        text += (c >= 0x20 && c < 0x7F) ? QChar::fromLatin1(c) : QLatin1Char('.');
    return text;
}

QString describe(const QByteArray& bytes, bool full)
{
    if (bytes.isEmpty())
        return QStringLiteral("nothing");
    QString text = hexBytes(bytes, full);
    if (bytes.size() <= kShortRun)
        text += QStringLiteral("  |%1|").arg(printable(bytes));
    return text;
}

} // namespace

QString hexBytes(const QByteArray& bytes, bool full)
{
    if (bytes.size() <= kShortRun)
        return plainHex(bytes);
    if (!full) {
        return QStringLiteral("%1 ...(%2 more)... %3")
            .arg(plainHex(QByteArrayView(bytes).first(kEnds)))
            .arg(bytes.size() - 2 * kEnds)
            .arg(plainHex(QByteArrayView(bytes).last(kEnds)));
    }
    QString text;
    for (qsizetype at = 0; at < bytes.size(); at += kFullRowBytes) {
        const qsizetype n = std::min(kFullRowBytes, bytes.size() - at);
        text += QStringLiteral("\n%1  %2: %3")
                    .arg(kIndent)
                    .arg(at, 4, 10, QLatin1Char(' '))
                    .arg(plainHex(QByteArrayView(bytes).sliced(at, n)));
    }
    return text;
}

namespace {

// The engine names flash packets, so a trace of a write reads block by block.
QString label(const QByteArray& sent)
{
    const QString packet = describePacket(sent);
    return packet.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(packet);
}

} // namespace

QString formatExchange(double seconds, const QByteArray& sent, const QByteArray& received,
                       std::int16_t code, bool full)
{
    QString text = QStringLiteral("[%1s] sent %2 bytes%3: %4\n")
                       .arg(seconds, 8, 'f', 3)
                       .arg(sent.size())
                       .arg(label(sent), describe(sent, full));

    text += kIndent + QStringLiteral("received %1 bytes: ").arg(received.size());
    const qsizetype common =
        std::mismatch(sent.begin(), sent.end(), received.begin(), received.end()).first -
        sent.begin();
    if (common == sent.size()) {
        const QByteArray rest = received.mid(sent.size());
        text += QStringLiteral("echo of all %1 sent, then %2\n")
                    .arg(sent.size())
                    .arg(describe(rest, full));
    } else if (common == received.size()) {
        text +=
            received.isEmpty()
                ? QStringLiteral("nothing\n")
                : QStringLiteral("echo of only %1 of the %2 sent\n").arg(common).arg(sent.size());
    } else {
        text += QStringLiteral("differs from the echo at byte %1: %2\n")
                    .arg(common)
                    .arg(describe(received, full));
    }

    text += kIndent + QStringLiteral("reply: %1\n")
                          .arg(code == reply::None ? QStringLiteral("none recognised")
                                                   : QString::fromLatin1(replyName(code)));
    return text;
}

} // namespace tqb9
