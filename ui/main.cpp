#include "image/buildinfo.h"
#include "run/exitstatus.h"
#include "ui/commandline.h"
#include "ui/frmmain.h"
#include "ui/stationwindow.h"

#include <cstdio>
#include <QApplication>
#include <QCommandLineParser>

namespace {

// Says why --firmware was refused; the exit status tells a file that could not be read from one
// that is not firmware.
int refused(const tqb9::FirmwareFileError& error)
{
    std::fprintf(stderr, "tq-b9: %s\n", error.message.c_str());
    return error.kind == tqb9::FirmwareFileError::Kind::Unreadable ? tqb9::exitstatus::NoFirmware
                                                                   : tqb9::exitstatus::BadFirmware;
}

int station(const QCommandLineParser& parser)
{
    // Only the station remembers anything; the original window stores nothing.
    QApplication::setOrganizationName(QStringLiteral("TQ-B9"));
    tqb9::StationWindow::Options options;
    QString bad;
    const auto bindings = tqb9::PortMap::parseBindings(parser.values(QStringLiteral("com")), &bad);
    if (!bindings) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(bad));
        return tqb9::exitstatus::Usage;
    }
    options.bindings = *bindings;
    options.allowTestFirmware = parser.isSet(QStringLiteral("allow-test-firmware"));
    tqb9::StationWindow window(options);
    if (parser.isSet(QStringLiteral("firmware"))) {
        if (const auto error = window.loadFirmwareFile(parser.value(QStringLiteral("firmware"))))
            return refused(*error);
    }
    window.restore();
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tq-b9"));

    QCommandLineParser parser;
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
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(parser.errorText()));
        return tqb9::exitstatus::Usage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tq-b9: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return tqb9::exitstatus::Usage;
    }

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
            return refused(*error);
    }
    // The version names the firmware the window holds, so it waits for --firmware.
    if (parser.isSet(QStringLiteral("version"))) {
        QApplication::setApplicationVersion(tqb9::versionText(window.firmware()));
        parser.showVersion();
    }
    window.show();
    return QApplication::exec();
}
