#include "image/buildinfo.h"
#include "image/firmware.h"
#include "run/exitstatus.h"
#include "ui/commandline.h"
#include "ui/frmmain.h"
#include "ui/stationwindow.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMessageBox>

namespace {

// Says why --firmware was refused; the exit status tells a file that could not be read from one
// that is not firmware.
int refused(const tqb9::FirmwareFileError& error)
{
    std::fprintf(stderr, "tq-b9: %s\n", error.message.c_str());
    return error.kind == tqb9::FirmwareFileError::Kind::Unreadable ? tqb9::exitstatus::NoFirmware
                                                                   : tqb9::exitstatus::BadFirmware;
}

// The same, in a box as well: started from a desktop shortcut, nobody reads standard error.
int refusedInABox(const tqb9::FirmwareFileError& error)
{
    const int status = refused(error);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("NG"),
                    QString::fromStdString(error.message), QMessageBox::Ok);
    box.setInformativeText(
        QStringLiteral("The firmware given with --firmware cannot be written, so the window was "
                       "not opened. Start it again with the radio's firmware file (S-record or "
                       "Intel HEX), or without --firmware."));
    box.exec();
    return status;
}

void addOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Writes the built-in firmware into a TQ-B9 radio over a serial cable."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("com"),
                      QStringLiteral("Put DEVICE behind menu item COMN (repeatable), e.g. "
                                     "--com 1=/dev/ttyUSB0."),
                      QStringLiteral("N=DEVICE")});
    parser.addOption(
        {QStringLiteral("firmware"),
         QStringLiteral("Write the firmware in FILE (S-record or Intel HEX) instead of "
                        "the built-in firmware."),
         QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("allow-test-firmware"),
                      QStringLiteral("Let Start write a test image (for the simulated radio).")});
    parser.addOption({QStringLiteral("station"),
                      QStringLiteral("Open the flashing station: many ports at once, hands-free "
                                     "if wished.")});
}

// What needs no window: --help, --version and arguments that are not options. Nothing when a
// window is to be opened.
std::optional<int> answerWithoutWindow(QCommandLineParser& parser)
{
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return tqb9::exitstatus::Completed;
    }
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(QCoreApplication::arguments()); // Qt's own options too; exits

    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tq-b9: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return tqb9::exitstatus::Usage;
    }
    if (!parser.isSet(QStringLiteral("version")))
        return std::nullopt;
    // The version names the firmware the window would hold, so it waits for --firmware.
    tqb9::Firmware firmware = tqb9::Firmware::builtIn();
    if (parser.isSet(QStringLiteral("firmware"))) {
        auto loaded = tqb9::Firmware::fromFile(parser.value(QStringLiteral("firmware")));
        if (const auto* error = std::get_if<tqb9::FirmwareFileError>(&loaded))
            return refused(*error);
        firmware = std::get<tqb9::Firmware>(std::move(loaded));
    }
    std::printf("tq-b9 %s\n", qPrintable(tqb9::versionText(firmware)));
    return tqb9::exitstatus::Completed;
}

// QApplication's own options, which it takes out of the arguments before they are ours to judge.
bool onlyQtOptions(const QStringList& names)
{
    static const QStringList qt{
        QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"), QStringLiteral("plugin"),
        QStringLiteral("qmljsdebugger"), QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"),   QStringLiteral("qwindowtitle"),
        QStringLiteral("reverse"),       QStringLiteral("session"),
        QStringLiteral("display"),       QStringLiteral("geometry"),
        QStringLiteral("style"),         QStringLiteral("stylesheet"),
        QStringLiteral("widgetcount"),   QStringLiteral("name"),
        QStringLiteral("visual"),        QStringLiteral("ncols"),
        QStringLiteral("cmap"),          QStringLiteral("nograb"),
        QStringLiteral("dograb"),        QStringLiteral("sync")};
    return std::all_of(names.begin(), names.end(),
                       [](const QString& name) { return qt.contains(name); });
}

int station(const QCommandLineParser& parser)
{
    // Only the station remembers anything; the original window stores nothing.
    QApplication::setOrganizationName(QStringLiteral("TQ-B9"));
    tqb9::StationWindow::Options options;
    QString bad;
    const auto bindings = tqb9::parseComOption(parser.values(QStringLiteral("com")), &bad);
    if (!bindings) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(bad));
        return tqb9::exitstatus::Usage;
    }
    options.bindings = *bindings;
    options.allowTestFirmware = parser.isSet(QStringLiteral("allow-test-firmware"));
    tqb9::StationWindow window(options);
    if (parser.isSet(QStringLiteral("firmware"))) {
        if (const auto error = window.loadFirmwareFile(parser.value(QStringLiteral("firmware"))))
            return refusedInABox(*error);
    }
    window.restore();
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("tq-b9"));
    {
        // Answered before anything asks for a display, so a machine without one (an SSH session,
        // a build server) can still ask. Qt's own options (-platform ...) make this parse fail;
        // QApplication takes them out first, below.
        const QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        addOptions(parser);
        // "-platform" as one word, as QApplication reads it.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        if (parser.parse(QCoreApplication::arguments())) {
            if (const auto status = answerWithoutWindow(parser))
                return *status;
        } else if (!onlyQtOptions(parser.unknownOptionNames())) {
            std::fprintf(stderr, "tq-b9: %s\n", qPrintable(parser.errorText()));
            return tqb9::exitstatus::Usage;
        }
    }

    QApplication app(argc, argv);
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(parser.errorText()));
        return tqb9::exitstatus::Usage;
    }
    if (const auto status = answerWithoutWindow(parser))
        return *status;

    if (parser.isSet(QStringLiteral("station")))
        return station(parser);

    tqb9::frmMain window;
    const QString bad = tqb9::bindPorts(window.ports(), parser.values(QStringLiteral("com")));
    if (!bad.isEmpty()) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(bad));
        return tqb9::exitstatus::Usage;
    }
    window.Form_Load();
    window.setAllowTestFirmware(parser.isSet(QStringLiteral("allow-test-firmware")));
    if (parser.isSet(QStringLiteral("firmware"))) {
        if (const auto error = window.loadFirmwareFile(parser.value(QStringLiteral("firmware"))))
            return refusedInABox(*error);
    }
    window.show();
    return QApplication::exec();
}
