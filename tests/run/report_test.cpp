// What a run reports beyond its outcome: the trace of each exchange, what the system says about
// a port; and which ports a station refuses to run together.
#include "run/diagnosis.h"
#include "run/run.h"
#include "run/station.h"
#include "run/trace.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace tqb9 {
namespace {

// Each exchange as the trace tells it: what was sent, how much of it came back as the echo, what
// came after, and the reply it makes.
TEST(Trace, ShowsTheBytesEchoAndReplyOfEachExchange)
{
    const QByteArray query("ZK~TQ-B9E\r");
    const QByteArray connect("ZK~FLASH\r");
    QByteArray packet(1032, '\x11');
    packet.replace(0, 7, QByteArray::fromHex("fffe50470c0400"));
    const struct {
        QString text;
        QStringList says;
    } cases[] = {
        {formatExchange(0.25, query, query + "\r\nOK\r\n", 0, false),
         {"sent 10 bytes: 5A 4B 7E 54 51 2D 42 39 45 0D  |ZK~TQ-B9E.|",
          "received 16 bytes: echo of all 10 sent, then 0D 0A 4F 4B", "reply: OK\n"}},
        // A packet is shortened unless the whole of it is asked for.
        {formatExchange(1, packet, packet + "PG\r\n", 5, false),
         {"(packet PG, address 0xC0400)",
          "FF FE 50 47 0C 04 00 11 ...(1016 more)... 11 11 11 11 11 11 11 11",
          "echo of all 1032 sent, then 50 47 0D 0A"}},
        {formatExchange(1, packet, packet + "PG\r\n", 5, true),
         {"1024: 11 11 11 11 11 11 11 11\n"}},
        {formatExchange(0, connect, {}, 8, false), {"received 0 bytes: nothing\n"}},
        {formatExchange(0, connect, "ZK~", 8, false), {"echo of only 3 of the 9 sent"}},
        {formatExchange(0, connect, "ZK#FLASH\rCT\r\n", 8, false),
         {"differs from the echo at byte 2", "reply: none recognised"}},
    };
    for (const auto& c : cases) {
        for (const QString& part : c.says)
            EXPECT_TRUE(c.text.contains(part)) << part.toStdString() << " in\n"
                                               << c.text.toStdString();
    }
    EXPECT_TRUE(cases[0].text.startsWith(QStringLiteral("[   0.250s]")));
    EXPECT_LT(cases[1].text.size(), 400);
    EXPECT_GT(cases[2].text.size(), 3 * 1032);
}

#ifdef Q_OS_UNIX
TEST(Diagnosis, ProbeReadsTheDevicesGroup)
{
    const DeviceFacts null = probeDevice(QStringLiteral("/dev/null"));
    EXPECT_TRUE(null.exists);
    EXPECT_TRUE(null.accessible);
    EXPECT_FALSE(null.group.isEmpty());
    EXPECT_FALSE(probeDevice(QStringLiteral("/dev/no-such-tty")).exists);
}
#endif

// Every front end's port text becomes a run here: the command line's --port, the station
// window's chooser. How far COM numbers go on each system is the port map's test; here, that the
// last one given is kept to.
TEST(RunSetup, PortTextIsAComNumberOrADeviceRunAsComOne)
{
    using Fault = Run::Setup::PortFault;
    const PortBindings bound{{3, QStringLiteral("/dev/ttyUSB1")}};
    const int last = PortMap::kLastComNumber;
    struct Case {
        QString text;
        int lastCom;
        Fault fault;
        int comPort; // 5: left as it was
        PortBindings bindings;
    };
    const QList<Case> cases{
        {QStringLiteral("com3"), last, Fault::None, 3, bound},
        // A device replaces whatever COM1 was bound to: it is all the run opens.
        {QStringLiteral("/dev/pts/7"), last, Fault::None, 1, {{1, QStringLiteral("/dev/pts/7")}}},
        {QString(), last, Fault::Empty, 5, {}},
        {QStringLiteral("COM0"), last, Fault::ComOutOfRange, 5, {}},
        {QStringLiteral("COM%1").arg(last + 1), last, Fault::ComOutOfRange, 5, {}},
        {QStringLiteral("COM64"), 64, Fault::None, 64, bound},
    };
    for (const Case& c : cases) {
        Run::Setup setup;
        setup.comPort = 5;
        EXPECT_EQ(setup.setPort(c.text, bound, c.lastCom), c.fault) << c.text.toStdString();
        EXPECT_EQ(setup.comPort, c.comPort) << c.text.toStdString();
        EXPECT_EQ(setup.bindings, c.bindings) << c.text.toStdString();
        EXPECT_EQ(setup.port, c.fault == Fault::None ? c.text : QString());
    }
}

Run::Setup given(const QString& port)
{
    Run::Setup setup;
    EXPECT_EQ(setup.setPort(port, {}), Run::Setup::PortFault::None);
    return setup;
}

TEST(Station, OnePortUnderTwoNamesIsRefusedBeforeAnyIsOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString radio = dir.filePath(QStringLiteral("radio"));
    const QString other = dir.filePath(QStringLiteral("other"));
    for (const QString& path : {radio, other}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    struct Case {
        QList<Run::Setup> setups;
        QString port; // the one refused; empty: they run together
        QString sameAs;
    };
    QList<Case> cases{
        {{given(QStringLiteral("com3")), given(QStringLiteral("COM3"))},
         QStringLiteral("COM3"),
         QStringLiteral("com3")},
        {{given(QStringLiteral("/dev/a")), given(QStringLiteral("/dev/b")),
          given(QStringLiteral("/dev/../dev/a"))},
         QStringLiteral("/dev/../dev/a"),
         QStringLiteral("/dev/a")},
        {{given(radio), given(other), given(QStringLiteral("COM5"))}, {}, {}},
    };
    // A symbolic link (Windows' QFile::link makes a shortcut, which no port opens through).
#ifndef Q_OS_WIN
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(radio, link));
    cases.append({{given(radio), given(link)}, link, radio});
#endif
    for (const Case& c : cases) {
        const auto resolved = Station::resolve(c.setups);
        if (c.port.isEmpty()) {
            ASSERT_TRUE(std::holds_alternative<QList<Run::Setup>>(resolved));
            const auto& setups = std::get<QList<Run::Setup>>(resolved);
            ASSERT_EQ(setups.size(), c.setups.size());
            // Each run keeps to the device it was resolved to.
            EXPECT_EQ(setups.at(1).bindings, (QList<std::pair<int, QString>>{{1, other}}));
        } else {
            ASSERT_TRUE(std::holds_alternative<Station::SamePort>(resolved))
                << c.port.toStdString();
            EXPECT_EQ(std::get<Station::SamePort>(resolved).port, c.port);
            EXPECT_EQ(std::get<Station::SamePort>(resolved).sameAs, c.sameAs);
        }
    }
}

} // namespace
} // namespace tqb9
