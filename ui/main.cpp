#include "ui/commandline.h"
#include "ui/frmmain.h"

#include <cstdio>
#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tq-b9"));
    QApplication::setApplicationVersion(QStringLiteral("E5.000"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes the built-in firmware into a TQ-B9 radio over a serial cable."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("com"),
                      QStringLiteral("Put DEVICE behind menu item COMN (repeatable), e.g. "
                                     "--com 1=/dev/ttyUSB0."),
                      QStringLiteral("N=DEVICE")});
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(parser.errorText()));
        return tqb9::kUsageError;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tq-b9: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return tqb9::kUsageError;
    }

    tqb9::frmMain window;
    const QString bad =
        tqb9::bindPorts(window.session().ports(), parser.values(QStringLiteral("com")));
    if (!bad.isEmpty()) {
        std::fprintf(stderr, "tq-b9: %s\n", qPrintable(bad));
        return tqb9::kUsageError;
    }
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
