#include "cli/frontend.h"

#include "cli/advice.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/stationview.h"
#include "cli/watchview.h"
#include "image/buildinfo.h"
#include "link/portmap.h"
#include "run/runlog.h"
#include "run/station.h"

#include <algorithm>
#include <cstdio>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace tqb9::cli {
namespace {

// A stream whose reader went away (EPIPE, or EIO on a terminal that hung up) gets nothing more:
// the run goes on, and the exit status still tells its outcome.
void writeTo(std::FILE* stream, const QString& text)
{
    if (std::ferror(stream))
        return;
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

// Eight upper-case digits, as a CRC-32 is usually written after its 0x.
QString hex8(std::uint32_t value)
{
    return QString::number(value, 16).toUpper().rightJustified(8, u'0');
}

void advise(const QStringList& lines)
{
    for (const QString& line : lines)
        writeErr(QStringLiteral("tq-b9-cli: %1\n").arg(line));
}

} // namespace

void writeOut(const QString& text)
{
    writeTo(stdout, text);
}

void writeErr(const QString& text)
{
    writeTo(stderr, text);
}

QString logFailure(bool opening, const QString& path, const QString& systemError)
{
    return (opening ? QStringLiteral("cannot write the log %1: %2")
                    : QStringLiteral("cannot append to the log %1: %2"))
        .arg(path, systemError);
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO) == 1;
#else
    return false;
#endif
}

int FrontEnd::exec()
{
    switch (m_options.action) {
    case Options::Action::Help:
        writeOut(helpText());
        return exitstatus::Completed;
    case Options::Action::Version:
        return version();
    case Options::Action::Info:
        return info();
    case Options::Action::ListPorts:
        return listPorts();
    case Options::Action::ExportImage:
        return exportImage();
    case Options::Action::Run:
        break;
    }
    // The firmware is read and checked once, before any port is touched, and every radio gets
    // that same image.
    Run::Setup setup;
    {
        Firmware loaded;
        if (const auto refused = loadFirmware(loaded, true))
            return *refused;
        // The engine refuses it as well; saying so here keeps standard output empty, as for a
        // file that was refused, since no run took place.
        if (!loaded.mayBeWritten(m_options.allowTestFirmware)) {
            writeErr(
                QStringLiteral(
                    "tq-b9-cli: refused: the firmware is the %1, not firmware for a radio, so "
                    "nothing was sent; give the radio's firmware with --firmware FILE (S-record "
                    "or Intel HEX), or add --allow-test-firmware to write the test image into a "
                    "simulated radio\n")
                    .arg(loaded.info().source == FirmwareInfo::Source::File
                             ? QStringLiteral("test image in %1").arg(loaded.info().path)
                             : QStringLiteral("built-in test image")));
            return exitstatus::TestImage;
        }
        if (const FirmwareInfo& file = loaded.info();
            file.source == FirmwareInfo::Source::File && file.bootBlockBytes != 0)
            writeErr(QStringLiteral("tq-b9-cli: warning: %1: %2 bytes in the boot block "
                                    "0xFF000..0xFFFFF are not written\n")
                         .arg(file.path)
                         .arg(file.bootBlockBytes));
        setup.firmware = loaded;
        setup.allowTestFirmware = m_options.allowTestFirmware;
    }
    setup.trace = m_options.trace;
    setup.traceFull = m_options.traceFull;

    // Checked before any port is touched too: a run that cannot be recorded is not started.
    RunLog log;
    if (!m_options.logPath.isEmpty()) {
        QString error;
        if (!log.open(m_options.logPath, &error)) {
            writeErr(
                QStringLiteral("tq-b9-cli: %1\n").arg(logFailure(true, m_options.logPath, error)));
            return exitstatus::CannotCreate;
        }
    }
    RunLog* const logged = log.isOpen() ? &log : nullptr;
    QList<Run::Setup> setups;
    const QStringList ports =
        m_options.ports.isEmpty() ? QStringList{QStringLiteral("COM1")} : m_options.ports;
    for (const QString& given : ports) {
        Run::Setup each = setup;
        // The arguments were checked against the same rule.
        each.setPort(given, m_options.bindings);
        setups << each;
    }
    auto resolved = Station::resolve(setups);
    if (const auto* same = std::get_if<Station::SamePort>(&resolved)) {
        QString why = QStringLiteral("%1 is the same port as %2").arg(same->port, same->sameAs);
        if (!same->device.isEmpty())
            why += QStringLiteral(" (%1)").arg(same->device);
        writeErr(QStringLiteral("tq-b9-cli: --port %1\n%2Try 'tq-b9-cli --help' for more.\n")
                     .arg(why, usageText()));
        return exitstatus::Usage;
    }
    if (m_options.watch)
        return WatchView(m_options, std::get<QList<Run::Setup>>(resolved), logged).exec();
    Station station(std::get<QList<Run::Setup>>(std::move(resolved)));
    if (station.size() > 1)
        return StationView(m_options, station, logged).exec();
    return run(station, logged);
}

int FrontEnd::listPorts()
{
    const PortMap ports(m_options.bindings);
    int listed = 0;
    const QList<PortMap::Port> present = PortMap::presentPorts();
    const auto list = [&](int n, const PortMap::Port& port) {
        if (port.device.isEmpty())
            return;
        ++listed;
        QString description = port.bound ? QStringLiteral("bound with --com") : port.description;
        // A binding takes any name as it is, so one that leads nowhere must say so here rather
        // than when a run fails to open it.
        if (port.bound && !QFileInfo::exists(port.device) &&
            std::none_of(present.begin(), present.end(),
                         [&](const PortMap::Port& p) { return p.device == port.device; }))
            description += QStringLiteral("; no such device");
        const QString line = QStringLiteral("COM%1  %2  %3")
                                 .arg(QString::number(n).leftJustified(2),
                                      port.device.leftJustified(20), description);
        writeOut(line.trimmed() + QLatin1Char('\n'));
    };
    const QList<PortMap::Port> all = ports.allPorts();
    for (int n = PortMap::kFirstPort; n <= PortMap::kLastPort; ++n)
        list(n, all.at(n - PortMap::kFirstPort));
    // Windows' COM17 and up, when present.
    for (const int n : PortMap::portsAboveMenu())
        list(n, ports.portFor(n));
    if (listed == 0)
        writeErr(QStringLiteral("tq-b9-cli: no serial ports found; plug the cable in, or bind a "
                                "device with --com N=DEVICE\n"));
    return exitstatus::Completed;
}

std::optional<int> FrontEnd::loadFirmware(Firmware& firmware, bool forRun)
{
    if (m_options.firmwarePath.isEmpty()) {
        firmware = Firmware::builtIn();
        return std::nullopt;
    }
    // Looking at a file is no reason to refuse it; writing it would be.
    auto loaded =
        Firmware::fromFile(m_options.firmwarePath, !forRun || m_options.allowPartialFirmware);
    if (auto* file = std::get_if<Firmware>(&loaded)) {
        firmware = std::move(*file);
        return std::nullopt;
    }
    const auto* error = &std::get<FirmwareFileError>(loaded);
    const QString hint = error->kind == FirmwareFileError::Kind::LeavesBlocksBlank
                             ? QStringLiteral("; add --allow-partial-firmware to write it anyway")
                             : QString();
    writeErr(QStringLiteral("tq-b9-cli: %1%2\n").arg(QString::fromStdString(error->message), hint));
    return error->kind == FirmwareFileError::Kind::Unreadable ? exitstatus::NoFirmware
                                                              : exitstatus::BadFirmware;
}

int FrontEnd::version()
{
    Firmware firmware;
    if (const auto refused = loadFirmware(firmware))
        return *refused;
    writeOut(QStringLiteral("tq-b9-cli %1\n").arg(versionText(firmware)));
    return exitstatus::Completed;
}

int FrontEnd::info()
{
    Firmware loaded;
    if (const auto refused = loadFirmware(loaded))
        return *refused;
    const FirmwareInfo& firmware = loaded.info();
    const QByteArray written = writtenRange(loaded.image());
    // 254,650 whatever the machine's locale says: scripts read this.
    const QLocale english(QLocale::English);
    const auto count = [&](std::uint32_t n) {
        return english.toString(n);
    };
    QString text;
    text += QStringLiteral("source:         %1\n").arg(firmware.sourceText());
    if (firmware.testImage)
        text += QStringLiteral("test image:     yes; written only with --allow-test-firmware\n");
    if (firmware.hasFigures) {
        text += QStringLiteral("records:        %1\n").arg(count(firmware.records));
        text += QStringLiteral("address range:  %1..%2\n")
                    .arg(addressText(firmware.firstAddress), addressText(firmware.lastAddress));
        text += QStringLiteral("data bytes:     %1 (%2 of them in the boot block 0xFF000..0xFFFFF, "
                               "not written)\n")
                    .arg(count(firmware.dataBytes), count(firmware.bootBlockBytes));
    }
    text += QStringLiteral("blocks:         %1 of 1 KB to write\n").arg(loaded.blocks().size());
    if (!firmware.blankBlocks.empty()) {
        QStringList blank;
        for (const FlashBlock& block : firmware.blankBlocks)
            blank << addressText(block.first) + QStringLiteral("..") + addressText(block.last);
        text += QStringLiteral("left blank:     %1 (erased by a run, given no data; written and "
                               "exported only with --allow-partial-firmware)\n")
                    .arg(blank.join(QStringLiteral(", ")));
    }
    text += QStringLiteral("CRC-32:         0x%1 (0xC0000..0xFEFFF, %2 bytes as the radio will "
                           "hold them)\n")
                .arg(hex8(loaded.crc32()), count(static_cast<std::uint32_t>(written.size())));
    text +=
        QStringLiteral("SHA-256:        %1\n").arg(QString::fromLatin1(sha256Of(written).toHex()));
    writeOut(text);
    return exitstatus::Completed;
}

int FrontEnd::exportImage()
{
    Firmware firmware;
    // What is exported is what a run would write, so a file a run refuses is refused here too.
    if (const auto refused = loadFirmware(firmware, true))
        return *refused;
    const QByteArray bytes = wholeImage(firmware.image());
    QFile file(m_options.exportPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        writeErr(QStringLiteral("tq-b9-cli: cannot write %1: %2\n")
                     .arg(m_options.exportPath, file.errorString()));
        return exitstatus::CannotCreate;
    }
    return exitstatus::Completed;
}

int FrontEnd::run(Station& station, RunLog* log)
{
    // Trace lines would tear a line redrawn in place, so a trace gets the plain progress.
    const bool live = stderrIsTerminal() && !m_options.trace;
    Progress progress(live, m_options.quiet ? Progress::Sink([](const QString&) {})
                                            : Progress::Sink(&writeErr));
    QObject::connect(&station, &Station::stepStarted,
                     [&](int, Step step, const QString& detail) { progress.step(step, detail); });
    QObject::connect(&station, &Station::writeBegins,
                     [&](int, int blocks) { progress.writeBegins(blocks); });
    QObject::connect(&station, &Station::blockWritten,
                     [&](int, double seconds) { progress.blockWritten(seconds); });
    QObject::connect(&station, &Station::traced,
                     [](int, const QString& lines) { writeErr(lines); });

    QEventLoop loop;
    QObject::connect(&station, &Station::finished, &loop, &QEventLoop::quit);
    InterruptNotifier interrupt;
    QObject::connect(&interrupt, &InterruptNotifier::interrupted, &station, &Station::abort);
    station.start();
    loop.exec();

    const RunReport& report = *station.report(0);
    progress.finish();
    writeOut(messageFor(report.outcome) + QLatin1Char('\n'));
    advise(adviceFor(report));
    if (log) {
        QString error;
        if (!log->append(logLine(report), &error))
            writeErr(QStringLiteral("tq-b9-cli: %1\n").arg(logFailure(false, log->path(), error)));
    }
    return report.status;
}

} // namespace tqb9::cli
