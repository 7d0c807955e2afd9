#pragma once

#include "flash/session.h"

#include <optional>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace tqb9::cli {

// Exit statuses. Scripts on a production line branch on these, so each outcome keeps its own
// number and the numbers never change meaning.
namespace exitstatus {
inline constexpr int Completed = 0;
inline constexpr int Error = 1;
inline constexpr int RegionError = 2;
inline constexpr int ConnectFailed = 3;
inline constexpr int EraseFailed = 4;
inline constexpr int WriteFailed = 5;
inline constexpr int DisconnectFailed = 6;
inline constexpr int Usage = 64;       // EX_USAGE
inline constexpr int BadFirmware = 65; // EX_DATAERR: the firmware file breaks a rule
inline constexpr int NoFirmware = 66;  // EX_NOINPUT: the firmware file cannot be read
inline constexpr int CannotCreate =
    73;                              // EX_CANTCREAT: --export-image or --log cannot write its file
inline constexpr int TestImage = 77; // EX_NOPERM: a test image, not allowed to be written
inline constexpr int SignalBase = 128; // 130 after Ctrl-C (SIGINT), 143 after SIGTERM
} // namespace exitstatus

int exitStatusFor(Outcome outcome);

// "COM3" (any case) names a menu item: 3. Anything else is a device: nullopt.
std::optional<int> comNumber(const QString& text);

struct Options {
    enum class Action { Run, ListPorts, ExportImage, Info, Help, Version };

    Action action = Action::Run;
    // The COM menu item the run checks.
    int port = 1;
    // --com N=DEVICE, and --port DEVICE as a binding of COM1.
    QList<std::pair<int, QString>> bindings;
    bool trace = false;
    bool traceFull = false;
    bool quiet = false;
    QString exportPath;
    QString firmwarePath; // empty: the built-in firmware
    bool allowTestFirmware = false;
    // A firmware file may leave some of the erase blocks blank.
    bool allowPartialFirmware = false;
    // Every --port as given, in order. Two or more make a station: one run per port, at once.
    QStringList ports;
    // --log FILE: one line of JSON per radio run is appended to it.
    QString logPath;
};

// A station drives at most this many radios, one thread each.
inline constexpr int kMaxPorts = 64;

struct ParsedArguments {
    std::optional<Options> options; // empty on a usage error
    QString error;                  // why, when options is empty
};

// arguments as QCoreApplication::arguments() gives them, program name first.
ParsedArguments parseArguments(const QStringList& arguments);

QString usageText();
// QCommandLineParser's own help of the options, with the exit statuses after it.
QString helpText();

} // namespace tqb9::cli
