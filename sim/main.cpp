// tq-b9-sim: a simulated TQ-B9 radio on a pseudo-terminal, for trying the firmware writer
// without hardware. The first line of stdout is the device to open.

#include "sim/faultrule.h"
#include "sim/simradio.h"
#include "tqb9version.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <unistd.h>

using namespace tqb9::sim;

namespace {

int g_signalPipe[2] = {-1, -1};

// Only write() is safe in a signal handler; the event loop picks the byte up.
void onSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool catchTerminationSignals(QString* error)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return true;
}

void say(const QString& text)
{
    std::fprintf(stderr, "tq-b9-sim: %s\n", qPrintable(text));
}

// Control bytes shown as \r, \n or \xNN, so a trace line stays one line.
QString printable(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        if (c == '\r')
            text += QLatin1String("\\r");
        else if (c == '\n')
            text += QLatin1String("\\n");
        else if (c >= 0x20 && c < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString summary(const SimRadio& radio)
{
    QStringList counts;
    int requests = 0;
    for (int i = 0; i < kCommandCount; ++i) {
        const auto command = static_cast<Command>(i);
        requests += radio.count(command);
        if (radio.count(command) > 0)
            counts << QStringLiteral("%1 %2").arg(commandName(command)).arg(radio.count(command));
    }
    return QStringLiteral("%1 requests (%2), %3 blocks written, %4 errors, %5 at wrong line "
                          "settings")
        .arg(requests)
        .arg(counts.isEmpty() ? QStringLiteral("none") : counts.join(QLatin1String(", ")))
        .arg(radio.writtenBlocks().size())
        .arg(radio.errors().size() - radio.wrongLineCount())
        .arg(radio.wrongLineCount());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tq-b9-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TQB9_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated TQ-B9 radio on a pseudo-terminal. Prints the device to open as the first\n"
        "line of stdout and answers like the radio until SIGINT or SIGTERM, the end of the\n"
        "session (--exit-after-end) or a hang-up. Warns of requests sent at other line settings\n"
        "than 57600,n,8,1; a Linux pty shows only the speed and the stop bits."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Also make PATH a symlink to the device "
                                                       "(removed at exit)."),
                                        QStringLiteral("PATH"));
    const QCommandLineOption dumpOption(QStringLiteral("dump"),
                                        QStringLiteral("At exit, write the flash 0xC0000..0xFFFFF "
                                                       "(262,144 raw bytes) of the last radio "
                                                       "on the cable to FILE."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption paceOption(QStringLiteral("pace"),
                                        QStringLiteral("Send echo and replies at 57600 8N1 speed "
                                                       "(5,760 bytes/s)."));
    const QCommandLineOption usbOption(
        QStringLiteral("usb"),
        QStringLiteral("Hand echo and replies over once every millisecond, in bursts, as a USB "
                       "serial adapter does (with --pace: what the line has carried by then)."));
    const QCommandLineOption usbLatencyOption(
        QStringLiteral("usb-latency"),
        QStringLiteral("As --usb, but hold bytes until 62 have gathered or the oldest has waited "
                       "MS milliseconds, as an FTDI adapter's latency timer does (16 by default "
                       "on those adapters)."),
        QStringLiteral("MS"));
    const QCommandLineOption separateOption(
        QStringLiteral("separate-writes"),
        QStringLiteral("Write each echo and each reply on its own, as soon as it is made."));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
                                         QStringLiteral("Bend the radio's answers (see below)."),
                                         QStringLiteral("FAULT"));
    const QCommandLineOption hangupOption(QStringLiteral("hangup-after-blocks"),
                                          QStringLiteral("Hang up once N program packets have "
                                                         "been answered."),
                                          QStringLiteral("N"));
    const QCommandLineOption programReplyOption(
        QStringLiteral("program-reply"),
        QStringLiteral("The radio's letters for a program packet: OK (default) or PG."),
        QStringLiteral("LL"));
    const QCommandLineOption queryReplyOption(
        QStringLiteral("query-reply"),
        QStringLiteral("The radio's letters for the model query: OK (default), RE for a region "
                       "mismatch."),
        QStringLiteral("LL"));
    const QCommandLineOption exitAfterEndOption(
        QStringLiteral("exit-after-end"),
        QStringLiteral("Exit 0 once the end packet's \"ED\" has been read by the program."));
    const QCommandLineOption presenceFileOption(
        QStringLiteral("presence-file"),
        QStringLiteral("A radio is on the cable while FILE exists, and none while it does not: "
                       "creating FILE puts a new radio on (blank flash), removing it takes the "
                       "radio off, which then hears and answers nothing; the pseudo-terminal "
                       "stays."),
        QStringLiteral("FILE"));
    const QCommandLineOption presentForOption(
        QStringLiteral("present-for"),
        QStringLiteral("With --absent-for: a radio is on the cable for MS milliseconds, then "
                       "none for --absent-for, then a new one, and so on."),
        QStringLiteral("MS"));
    const QCommandLineOption absentForOption(
        QStringLiteral("absent-for"),
        QStringLiteral("With --present-for: how long no radio is on the cable between two."),
        QStringLiteral("MS"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Trace every request on stderr."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("No warnings and no summary at exit."));
    parser.addOptions({linkOption, dumpOption, paceOption, usbOption, usbLatencyOption,
                       separateOption, faultOption, hangupOption, programReplyOption,
                       queryReplyOption, exitAfterEndOption, presenceFileOption, presentForOption,
                       absentForOption, verboseOption, quietOption});

    const auto usageError = [](const QString& text) {
        say(text);
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::fputs("\n", stdout);
        std::fputs(qPrintable(faultGrammar()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"")
                              .arg(parser.positionalArguments().constFirst()));

    SimRadio radio;
    QList<FaultRule> rules;
    for (const QString& text : parser.values(faultOption)) {
        QString error;
        const auto rule = parseFault(text, &error);
        if (!rule)
            return usageError(error);
        rules.append(*rule);
    }
    if (parser.isSet(hangupOption)) {
        bool ok = false;
        const int blocks = parser.value(hangupOption).toInt(&ok);
        if (!ok || blocks < 1)
            return usageError(QStringLiteral("--hangup-after-blocks needs a count of 1 or more"));
        rules.append(hangUpAfterBlocks(blocks));
    }
    if (!rules.isEmpty())
        radio.setScript(faultScript(rules));
    for (const auto& [option, command] : {std::pair{programReplyOption, Command::Program},
                                          std::pair{queryReplyOption, Command::Query}}) {
        if (!parser.isSet(option))
            continue;
        const QString letters = parser.value(option);
        if (letters.size() != 2 || letters.toLatin1().size() != 2)
            return usageError(QStringLiteral("--%1 needs two letters").arg(option.names().first()));
        radio.setReplyLetters(command, letters.toLatin1());
    }
    radio.setPacing(parser.isSet(paceOption));
    radio.setSeparateWrites(parser.isSet(separateOption));
    if (parser.isSet(usbLatencyOption)) {
        bool ok = false;
        const int ms = parser.value(usbLatencyOption).toInt(&ok);
        if (!ok || ms < 1 || ms > 255)
            return usageError(QStringLiteral("--usb-latency needs 1 to 255 milliseconds"));
        radio.setUsbLatency(std::chrono::milliseconds{ms});
    } else if (parser.isSet(usbOption)) {
        radio.setUsbLatency(std::chrono::milliseconds{1});
    }
    const bool quiet = parser.isSet(quietOption);
    if (parser.isSet(presentForOption) != parser.isSet(absentForOption))
        return usageError(QStringLiteral("--present-for and --absent-for go together"));
    if (parser.isSet(presentForOption) && parser.isSet(presenceFileOption))
        return usageError(
            QStringLiteral("--presence-file and --present-for/--absent-for exclude each other"));
    std::chrono::milliseconds presentFor{0};
    std::chrono::milliseconds absentFor{0};
    for (auto [option, span] :
         {std::pair{&presentForOption, &presentFor}, std::pair{&absentForOption, &absentFor}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        const int ms = parser.value(*option).toInt(&ok);
        if (!ok || ms < 1)
            return usageError(
                QStringLiteral("--%1 needs 1 or more milliseconds").arg(option->names().first()));
        *span = std::chrono::milliseconds{ms};
    }

    QString error;
    if (!catchTerminationSignals(&error) || !radio.start(&error)) {
        say(error);
        return 1;
    }
    const QString linkPath = parser.value(linkOption);
    if (!linkPath.isEmpty()) {
        const QFileInfo existing(linkPath);
        if (existing.isSymLink())
            QFile::remove(linkPath);
        else if (existing.exists()) {
            say(QStringLiteral("%1 exists and is not a symlink").arg(linkPath));
            return 1;
        }
        if (::symlink(qPrintable(radio.devicePath()), qPrintable(linkPath)) != 0) {
            say(QStringLiteral("symlink %1: %2")
                    .arg(linkPath, QString::fromLocal8Bit(strerror(errno))));
            return 1;
        }
    }

    // The device line tells a script the radio is ready, so the link must exist before it.
    std::printf("%s\n", qPrintable(radio.devicePath()));
    std::fflush(stdout);

    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        QCoreApplication::quit();
    });
    QObject::connect(&radio, &SimRadio::hungUp, &app, [quiet] {
        if (!quiet)
            say(QStringLiteral("hung up"));
        QCoreApplication::quit();
    });
    if (parser.isSet(exitAfterEndOption))
        QObject::connect(&radio, &SimRadio::sessionEnded, &app, &QCoreApplication::quit);
    if (!quiet) {
        QObject::connect(&radio, &SimRadio::errorRecorded, &app, [&radio](int index) {
            const Error& e = radio.errors().at(index);
            say(QStringLiteral("%1: %2").arg(e.kind == ErrorKind::WrongLineSettings
                                                 ? QLatin1String("warning")
                                                 : QLatin1String("error"),
                                             e.message));
        });
    }
    if (parser.isSet(verboseOption)) {
        QObject::connect(&radio, &SimRadio::requestHandled, &app, [&radio](int index) {
            const Exchange& e = radio.log().at(index);
            QString what = commandName(e.request.command);
            if (e.request.command == Command::Program)
                what += QStringLiteral("@0x%1").arg(e.request.address, 5, 16, QLatin1Char('0'));
            say(QStringLiteral("%1 #%2: %3 bytes at %4, reply \"%5\"%6%7")
                    .arg(what)
                    .arg(e.request.attempt)
                    .arg(e.request.bytes.size())
                    .arg(e.line.toString(), printable(e.reply),
                         e.echoed ? QString() : QStringLiteral(", no echo"),
                         e.hungUp ? QStringLiteral(", hanging up") : QString()));
        });
    }

    // A radio put on or taken off: inotify on the file's folder, so nothing polls.
    QFileSystemWatcher presenceWatcher;
    const QString presencePath = parser.value(presenceFileOption);
    const auto lookAtPresenceFile = [&radio, presencePath] {
        radio.setPresent(QFileInfo::exists(presencePath));
    };
    if (!presencePath.isEmpty()) {
        const QString folder = QFileInfo(presencePath).absolutePath();
        if (!presenceWatcher.addPath(folder)) {
            say(QStringLiteral("cannot watch %1").arg(folder));
            return 1;
        }
        QObject::connect(&presenceWatcher, &QFileSystemWatcher::directoryChanged, &app,
                         lookAtPresenceFile);
        lookAtPresenceFile();
    }
    QTimer schedule;
    schedule.setSingleShot(true);
    schedule.setTimerType(Qt::PreciseTimer);
    if (presentFor.count() > 0) {
        QObject::connect(&schedule, &QTimer::timeout, &app, [&] {
            radio.setPresent(!radio.isPresent());
            schedule.start(radio.isPresent() ? presentFor : absentFor);
        });
        schedule.start(presentFor);
    }
    QObject::connect(&radio, &SimRadio::presenceChanged, &app, [&radio, quiet](bool present) {
        if (quiet)
            return;
        if (present)
            say(QStringLiteral("radio %1 put on").arg(radio.radioNumber()));
        else
            say(QStringLiteral("radio %1 taken off: %2")
                    .arg(radio.radioNumber())
                    .arg(summary(radio)));
    });

    app.exec();

    int status = 0;
    if (parser.isSet(dumpOption) && !radio.writeFlash(parser.value(dumpOption), &error)) {
        say(error);
        status = 1;
    }
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    if (!quiet)
        say(summary(radio));
    return status;
}
