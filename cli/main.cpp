#include "cli/frontend.h"
#include "cli/interrupt.h"
#include "cli/options.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    tqb9::cli::installSignalHandling();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tq-b9-cli"));

    using namespace tqb9::cli;
    const ParsedArguments parsed = parseArguments(QCoreApplication::arguments());
    if (!parsed.options) {
        writeErr(QStringLiteral("tq-b9-cli: %1\n%2Try 'tq-b9-cli --help' for more.\n")
                     .arg(parsed.error, usageText()));
        return tqb9::exitstatus::Usage;
    }
    return FrontEnd(*parsed.options).exec();
}
