// The command line's COM numbers above the menu's 16 (Windows' COM17 and up).
#include "cli/options.h"
#include "link/portmap.h"

#include <gtest/gtest.h>

namespace tqb9::cli {
namespace {

constexpr bool kWindows = PortMap::kLastComNumber > PortMap::kLastPort;

ParsedArguments parse(QStringList args)
{
    args.prepend(QStringLiteral("tq-b9-cli"));
    return parseArguments(args);
}

TEST(PortsAboveMenu, PortCom23RunsOnCom23OnWindowsOnly)
{
    const auto parsed = parse({QStringLiteral("--port"), QStringLiteral("COM23")});
    if (kWindows) {
        ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
        EXPECT_TRUE(parse({QStringLiteral("--port"), QStringLiteral("com256")}).options);
    } else {
        EXPECT_FALSE(parsed.options);
        EXPECT_TRUE(parsed.error.contains(QLatin1String("from 1 to 16")))
            << parsed.error.toStdString();
    }
    const auto beyond = parse({QStringLiteral("--port"), QStringLiteral("COM257")});
    EXPECT_FALSE(beyond.options);
    EXPECT_TRUE(beyond.error.contains(QStringLiteral("from 1 to %1").arg(PortMap::kLastComNumber)))
        << beyond.error.toStdString();

    // Several radios, some of them above the menu.
    const auto station =
        parse({QStringLiteral("--port"), QStringLiteral("COM17"), QStringLiteral("--port"),
               QStringLiteral("COM3"), QStringLiteral("--port"), QStringLiteral("COM23")});
    EXPECT_EQ(static_cast<bool>(station.options), kWindows) << station.error.toStdString();
}

} // namespace
} // namespace tqb9::cli
