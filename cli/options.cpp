#include "cli/options.h"

#include "link/portmap.h"
#include "run/run.h"

#include <algorithm>
#include <QCommandLineOption>
#include <QCommandLineParser>

namespace tqb9::cli {

QString usageText()
{
    return QStringLiteral(
        "Usage: tq-b9-cli [--port DEVICE|COMn]... [--com N=DEVICE]... [--trace | --trace-full] "
        "[--quiet] [--log FILE]\n"
        "                 [--firmware FILE] [--allow-test-firmware] [--allow-partial-firmware]\n"
        "       tq-b9-cli --watch --port DEVICE|COMn... [--log FILE] [--firmware FILE] ...\n"
        "       tq-b9-cli --list-ports [--com N=DEVICE]...\n"
        "       tq-b9-cli --info [--firmware FILE]\n"
        "       tq-b9-cli --export-image FILE [--firmware FILE] [--allow-partial-firmware]\n"
        "       tq-b9-cli --help | --version\n");
}

namespace {

// The options with the descriptions --help prints, so the help and the parser never disagree.
struct Parser {
    Parser()
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({port, com, log, watch, listPorts, trace, traceFull, quiet, firmware,
                           allowTest, allowPartial, info, exportImage, help, version});
    }

    QCommandLineParser parser;
    const QCommandLineOption port{
        QStringLiteral("port"),
        QStringLiteral("The serial port: a device such as /dev/ttyUSB0, or a COM number 1..16 "
                       "mapped as in the window's COM menu (on Windows up to COM256; default "
                       "COM1). Given several times "
                       "(up to 64), one run per port, all at once."),
        QStringLiteral("DEVICE|COMn")};
    const QCommandLineOption com{
        QStringLiteral("com"),
        QStringLiteral("Map COM number N (1..16) to DEVICE; may be repeated."),
        QStringLiteral("N=DEVICE")};
    const QCommandLineOption log{QStringLiteral("log"),
                                 QStringLiteral("Append one line of JSON per radio run to FILE "
                                                "(created if missing; several programs may "
                                                "share one file)."),
                                 QStringLiteral("FILE")};
    const QCommandLineOption watch{
        QStringLiteral("watch"),
        QStringLiteral("Hands-free: each --port waits for a radio, writes every radio attached "
                       "to it once, and waits for that radio to be removed before the next; one "
                       "\"PORT: OUTCOME\" line per run as it ends, until Ctrl-C or SIGTERM.")};
    const QCommandLineOption listPorts{
        QStringLiteral("list-ports"),
        QStringLiteral("List each COM number that maps to a port, with its device and "
                       "description, then exit.")};
    const QCommandLineOption trace{
        QStringLiteral("trace"),
        QStringLiteral("Show every exchange with the radio (sent, received, the reply "
                       "recognised) on standard error, long packets shortened.")};
    const QCommandLineOption traceFull{QStringLiteral("trace-full"),
                                       QStringLiteral("The same, every byte.")};
    const QCommandLineOption quiet{QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No progress on standard error.")};
    const QCommandLineOption firmware{
        QStringLiteral("firmware"),
        QStringLiteral("Write the firmware in FILE, an S-record or Intel HEX file, instead of "
                       "the built-in firmware; the whole file is checked first."),
        QStringLiteral("FILE")};
    const QCommandLineOption allowTest{
        QStringLiteral("allow-test-firmware"),
        QStringLiteral("Write the test image too (the repository's made-up firmware, for the "
                       "simulated radio); without it a test image is refused and nothing is "
                       "sent.")};
    const QCommandLineOption allowPartial{
        QStringLiteral("allow-partial-firmware"),
        QStringLiteral("Write or export a --firmware file even though some of the eight flash "
                       "blocks that a run erases get no data from it, so they are left blank; "
                       "without it such a file is refused and nothing is sent.")};
    const QCommandLineOption info{
        QStringLiteral("info"),
        QStringLiteral("Describe the firmware (source, records, addresses, blocks, CRC-32 and "
                       "SHA-256 of 0xC0000..0xFEFFF as the radio will hold them) without "
                       "touching any port, then exit.")};
    const QCommandLineOption exportImage{
        QStringLiteral("export-image"),
        QStringLiteral("Write the firmware to FILE as 262,144 raw bytes for 0xC0000..0xFFFFF, "
                       "then exit: 0xC0000..0xFEFFF as a run leaves the radio's flash (0xFF where "
                       "nothing is written), and the top 4 KB block 0xFF000..0xFFFFF, which a run "
                       "never writes, as the firmware gives it (0xFF where it gives nothing). A "
                       "file that a run would refuse for leaving blocks blank is refused here "
                       "too."),
        QStringLiteral("FILE")};
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text.")};
    const QCommandLineOption version{
        QStringLiteral("version"),
        QStringLiteral("Show the version, and the firmware with its CRC-32.")};
};

} // namespace

QString helpText()
{
    // Qt's own first line names the program by the path it was started with; the synopsis
    // says more.
    QString options = Parser().parser.helpText();
    options.remove(0, options.indexOf(QLatin1String("Options:")));
    return usageText() + QStringLiteral(R"(
Writes the built-in firmware, or a firmware file, into a TQ-B9 radio over a serial cable
at 57600 bit/s: the same run as the window's Start button (model and region query,
connect, erase, write, end of session). A test image is refused unless
--allow-test-firmware is given. A firmware file that gives no data to one of the eight
flash blocks a run erases is refused unless --allow-partial-firmware is given, since the
run would leave that block blank; one that gives no data below the boot block
(0xFF000..0xFFFFF, never written) is always refused.

)") + options +
           QStringLiteral(R"(
Outside Windows, COM1 is the first USB or ACM serial adapter present, then the other
serial ports in order of their names; --list-ports shows the mapping.

Standard output gets exactly one line, the outcome as the window shows it; progress and
diagnostics go to standard error. A reader of either that goes away, or a hang-up, does
not stop a run: it goes on to its end and the exit status tells the outcome. With several
ports, one line per port, "PORT: OUTCOME", in the order given, once every run has ended;
the exit status is that of the first port in that order that did not complete.
With --watch, one such line per run as it ends; only a signal ends the program, any run
in progress at its current step with the port closed, and the status is 130 or 143.

Exit status:
    0  Completed.
    1  Error               the model query failed: no answer, an answer not
                           understood, or the port could not be opened
    2  Region error        the radio is not the model and region this firmware is for
    3  Connect failed.
    4  Erase failed.
    5  Write failed.
    6  Disconnect failed.
   64  usage error
   65  the --firmware file breaks a rule (the line is named), or would leave the
       radio's flash blank in part or whole; nothing was sent
   66  the --firmware file cannot be read; nothing was sent
   73  --export-image could not write FILE, or the --log FILE cannot be written
   77  the firmware is a test image and --allow-test-firmware was not given;
       nothing was sent
  130  interrupted by Ctrl-C (SIGINT); 143 by SIGTERM
)");
}

namespace {

ParsedArguments usageError(const QString& why)
{
    return {std::nullopt, why};
}

} // namespace

ParsedArguments parseArguments(const QStringList& arguments)
{
    Parser p;
    QCommandLineParser& parser = p.parser;
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"")
                              .arg(parser.positionalArguments().constFirst()));

    Options options;
    if (parser.values(p.firmware).size() > 1)
        return usageError(QStringLiteral("--firmware given more than once"));
    options.firmwarePath = parser.value(p.firmware);
    if (parser.isSet(p.firmware) && options.firmwarePath.isEmpty())
        return usageError(QStringLiteral("--firmware needs a file name"));
    options.allowTestFirmware = parser.isSet(p.allowTest);
    options.allowPartialFirmware = parser.isSet(p.allowPartial);
    if (parser.isSet(p.help)) {
        options.action = Options::Action::Help;
        return {options, {}};
    }
    if (parser.isSet(p.version)) {
        options.action = Options::Action::Version;
        return {options, {}};
    }
    const QList<const QCommandLineOption*> actionOptions{&p.listPorts, &p.exportImage, &p.info};
    const auto actions =
        std::count_if(actionOptions.begin(), actionOptions.end(),
                      [&](const QCommandLineOption* option) { return parser.isSet(*option); });
    if (actions > 1)
        return usageError(
            QStringLiteral("--list-ports, --export-image and --info exclude each other"));
    if (parser.isSet(p.listPorts))
        options.action = Options::Action::ListPorts;
    if (parser.isSet(p.info))
        options.action = Options::Action::Info;
    if (parser.isSet(p.exportImage)) {
        options.action = Options::Action::ExportImage;
        options.exportPath = parser.value(p.exportImage);
        if (options.exportPath.isEmpty())
            return usageError(QStringLiteral("--export-image needs a file name"));
    }

    QString bad;
    const auto bindings = PortMap::parseBindings(parser.values(p.com), &bad);
    if (!bindings)
        return usageError(QStringLiteral("--com \"%1\": expected N=DEVICE with N from %2 to %3")
                              .arg(bad)
                              .arg(PortMap::kFirstPort)
                              .arg(PortMap::kLastPort));
    options.bindings = *bindings;

    // Every port names a COM number in range or a device. Whether two of them are one port
    // ("com3" and "COM3", a device and a symlink to it) is the station's to say, once their
    // devices are known: two runs on one radio would each write half of it.
    options.ports = parser.values(p.port);
    if (options.ports.size() > kMaxPorts)
        return usageError(QStringLiteral("at most %1 ports at once").arg(kMaxPorts));
    for (const QString& value : std::as_const(options.ports)) {
        switch (Run::Setup().setPort(value, options.bindings)) {
        case Run::Setup::PortFault::None:
            break;
        case Run::Setup::PortFault::Empty:
            return usageError(QStringLiteral("--port needs a device or COMn"));
        case Run::Setup::PortFault::ComOutOfRange:
            return usageError(QStringLiteral("--port %1: COM numbers run from 1 to %2")
                                  .arg(value)
                                  .arg(PortMap::kLastComNumber));
        }
    }
    // One device runs as COM1 bound to it, so a binding of COM1 would be silently replaced.
    if (options.ports.size() == 1 && !PortMap::comNumber(options.ports.constFirst()) &&
        std::any_of(options.bindings.cbegin(), options.bindings.cend(),
                    [](const auto& binding) { return binding.first == 1; }))
        return usageError(
            QStringLiteral("--port DEVICE runs on COM1 and cannot be combined with --com 1=..."));

    options.watch = parser.isSet(p.watch);
    if (options.watch && options.action != Options::Action::Run)
        return usageError(
            QStringLiteral("--watch excludes --list-ports, --export-image and --info"));
    if (options.watch && options.ports.isEmpty())
        return usageError(QStringLiteral("--watch needs at least one --port"));

    if (parser.isSet(p.log)) {
        options.logPath = parser.value(p.log);
        if (options.logPath.isEmpty())
            return usageError(QStringLiteral("--log needs a file name"));
    }

    options.trace = parser.isSet(p.trace) || parser.isSet(p.traceFull);
    options.traceFull = parser.isSet(p.traceFull);
    options.quiet = parser.isSet(p.quiet);

    return {options, {}};
}

} // namespace tqb9::cli
