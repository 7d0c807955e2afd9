#include "sim/faultrule.h"

namespace tqb9::sim {

namespace {

using namespace std::chrono_literals;

constexpr int kMaxGarbage = 4096;

// Line noise: both rails and alternating bits, and no CR or LF that could pass for a reply's end.
QByteArray junk(int count)
{
    static const char kNoise[] = {'\x00', '\xFF', '\x55', '\xAA'};
    QByteArray bytes(count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        bytes[i] = kNoise[i % 4];
    return bytes;
}

std::optional<int> number(QStringView text, int min, int max)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<QByteArray> hexBytes(QStringView text)
{
    if (text.isEmpty() || text.size() % 2 != 0)
        return std::nullopt;
    for (QChar c : text) {
        if (!c.isDigit() && !QStringView(u"abcdefABCDEF").contains(c))
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

std::optional<QByteArray> letters(QStringView text)
{
    if (text.size() != 2 || text[0].unicode() > 0xFF || text[1].unicode() > 0xFF)
        return std::nullopt;
    return text.toLatin1();
}

// Applies one ACTION to the response; false with a reason on a mistake.
bool applyAction(QStringView action, Command command, Response& response, QString* why)
{
    const qsizetype eq = action.indexOf(u'=');
    const QStringView key = eq < 0 ? action : action.first(eq);
    const QStringView value = eq < 0 ? QStringView() : action.sliced(eq + 1);
    const auto fail = [&](const QString& reason) {
        *why = reason;
        return false;
    };
    const auto needsNoValue = [&]() {
        return eq < 0 || fail(QStringLiteral("takes no value"));
    };

    if (key == u"reply") {
        if (value == u"none") {
            response.reply = QByteArray();
        } else if (value.startsWith(u"plain:")) {
            const auto ll = letters(value.sliced(6));
            if (!ll)
                return fail(QStringLiteral("plain: needs two characters"));
            response.reply = *ll + "\r\n";
        } else if (value.startsWith(u"framed:")) {
            const auto ll = letters(value.sliced(7));
            if (!ll)
                return fail(QStringLiteral("framed: needs two characters"));
            response.reply = "\r\n" + *ll + "\r\n";
        } else if (value.startsWith(u"hex:")) {
            const auto bytes = hexBytes(value.sliced(4));
            if (!bytes)
                return fail(QStringLiteral("hex: needs pairs of hex digits"));
            response.reply = *bytes;
        } else if (const auto ll = letters(value)) {
            response.reply = command == Command::Query ? "\r\n" + *ll + "\r\n" : *ll + "\r\n";
        } else {
            return fail(QStringLiteral("needs two characters, plain:LL, framed:LL, hex:BYTES or "
                                       "none"));
        }
        return true;
    }
    if (key == u"short") {
        response.cut = 3;
        return needsNoValue();
    }
    if (key == u"nolf") {
        response.cut = 1;
        return needsNoValue();
    }
    if (key == u"noecho") {
        response.echo = false;
        return needsNoValue();
    }
    if (key == u"hangup") {
        response.hangUp = true;
        return needsNoValue();
    }
    if (key == u"cut") {
        const auto n = number(value, 0, 64);
        if (!n)
            return fail(QStringLiteral("needs a count of bytes, 0..64"));
        response.cut = *n;
        return true;
    }
    if (key == u"delay") {
        const auto ms = number(value, 0, 3'600'000);
        if (!ms)
            return fail(QStringLiteral("needs milliseconds"));
        response.delay = std::chrono::milliseconds(*ms);
        return true;
    }
    if (key == u"garbage") {
        if (value.startsWith(u"hex:")) {
            const auto bytes = hexBytes(value.sliced(4));
            if (!bytes)
                return fail(QStringLiteral("hex: needs pairs of hex digits"));
            response.garbage = *bytes;
            return true;
        }
        const auto n = number(value, 1, kMaxGarbage);
        if (!n)
            return fail(
                QStringLiteral("needs a count of bytes, 1..%1, or hex:BYTES").arg(kMaxGarbage));
        response.garbage = junk(*n);
        return true;
    }
    return fail(QStringLiteral("unknown action"));
}

bool parseAttempts(QStringView text, FaultRule& rule)
{
    const qsizetype dash = text.indexOf(u'-');
    const auto first = number(dash < 0 ? text : text.first(dash), 1, FaultRule::kNoLimit - 1);
    if (!first)
        return false;
    rule.firstAttempt = *first;
    if (dash < 0) {
        rule.lastAttempt = *first;
        return true;
    }
    const QStringView rest = text.sliced(dash + 1);
    if (rest.isEmpty())
        return true;
    const auto last = number(rest, *first, FaultRule::kNoLimit - 1);
    if (!last)
        return false;
    rule.lastAttempt = *last;
    return true;
}

} // namespace

bool FaultRule::matches(const Request& request) const
{
    return request.command == command && (!address || request.address == *address) &&
           request.attempt >= firstAttempt && request.attempt <= lastAttempt &&
           request.number >= firstNumber && request.number <= lastNumber;
}

QString faultGrammar()
{
    return QStringLiteral(
        "Faults (--fault, repeatable; every matching fault applies, a later one winning):\n"
        "  FAULT    = WHAT[@ADDRESS][#ATTEMPTS]:ACTION[,ACTION...]\n"
        "  WHAT     = query | connect | erase | program | end | other\n"
        "  ADDRESS  = a program packet's block address in hex, e.g. 0xC0400 (program only)\n"
        "  ATTEMPTS = N | N-M | N-  which arrivals of that command (at that address) count,\n"
        "             from 1; without it, all of them\n"
        "  ACTION   = reply=LL          these two characters instead of the radio's own, framed\n"
        "                               for query and plain (LL CR LF) otherwise\n"
        "           | reply=plain:LL    LL CR LF\n"
        "           | reply=framed:LL   CR LF LL CR LF\n"
        "           | reply=hex:BYTES   exactly these bytes\n"
        "           | reply=none        no reply at all\n"
        "           | short             the reply cut after its first letter (\"O\")\n"
        "           | nolf              the reply without its last LF (\"OK\" CR)\n"
        "           | cut=N             the reply without its last N bytes\n"
        "           | garbage=N         N junk bytes after the echo, before the reply\n"
        "           | garbage=hex:BYTES these bytes after the echo, before the reply\n"
        "           | delay=MS          the reply MS milliseconds after the request\n"
        "           | noecho            no echo of the request\n"
        "           | hangup            hang up once the reply (or the echo) has been read\n"
        "Examples:\n"
        "  --fault 'query:reply=RE'  --fault 'erase:reply=NG'  --fault 'end:delay=6000'\n"
        "  --fault 'program@0xC0400#1-3:reply=none'  --fault 'connect:garbage=3,nolf'\n");
}

std::optional<FaultRule> parseFault(QStringView text, QString* error)
{
    const auto fail = [&](const QString& reason) -> std::optional<FaultRule> {
        if (error)
            *error = QStringLiteral("fault \"%1\": %2").arg(text.toString(), reason);
        return std::nullopt;
    };

    const qsizetype colon = text.indexOf(u':');
    if (colon < 0)
        return fail(QStringLiteral("missing ':' before the actions"));
    QStringView selector = text.first(colon).trimmed();
    const QStringView actions = text.sliced(colon + 1).trimmed();

    FaultRule rule;
    const qsizetype hash = selector.indexOf(u'#');
    if (hash >= 0) {
        if (!parseAttempts(selector.sliced(hash + 1), rule))
            return fail(QStringLiteral("attempts must be N, N-M or N- with 1 <= N <= M"));
        selector = selector.first(hash);
    }
    const qsizetype at = selector.indexOf(u'@');
    if (at >= 0) {
        QStringView address = selector.sliced(at + 1);
        if (address.startsWith(u"0x", Qt::CaseInsensitive))
            address = address.sliced(2);
        bool ok = false;
        const uint value = address.toUInt(&ok, 16);
        if (!ok || value > 0xFFFFFF)
            return fail(QStringLiteral("the address must be a 24-bit hex number"));
        rule.address = value;
        selector = selector.first(at);
    }
    const auto command = commandFromName(selector);
    if (!command)
        return fail(QStringLiteral("\"%1\" is not query, connect, erase, program, end or other")
                        .arg(selector.toString()));
    rule.command = *command;
    if (rule.address && rule.command != Command::Program)
        return fail(QStringLiteral("only program packets carry an address"));

    if (actions.isEmpty())
        return fail(QStringLiteral("no action"));
    for (QStringView action : actions.split(u',')) {
        QString why;
        if (!applyAction(action.trimmed(), rule.command, rule.response, &why))
            return fail(QStringLiteral("%1: %2").arg(action.trimmed().toString(), why));
    }
    return rule;
}

FaultRule hangUpAfterBlocks(int blocks)
{
    FaultRule rule;
    rule.command = Command::Program;
    rule.firstNumber = blocks;
    rule.lastNumber = blocks;
    rule.response.hangUp = true;
    return rule;
}

Response overlay(Response base, const Response& over)
{
    if (over.reply)
        base.reply = over.reply;
    if (over.cut != 0)
        base.cut = over.cut;
    if (!over.garbage.isEmpty())
        base.garbage = over.garbage;
    if (over.delay != 0ms)
        base.delay = over.delay;
    if (!over.echo)
        base.echo = false;
    if (over.hangUp)
        base.hangUp = true;
    return base;
}

Script faultScript(QList<FaultRule> rules)
{
    return [rules = std::move(rules)](const Request& request) -> std::optional<Response> {
        std::optional<Response> response;
        for (const FaultRule& rule : rules) {
            if (rule.matches(request))
                response = overlay(response.value_or(Response{}), rule.response);
        }
        return response;
    };
}

} // namespace tqb9::sim
