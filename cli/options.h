#pragma once

#include "run/exitstatus.h"
#include "run/session.h"

#include <optional>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace tqb9::cli {

struct Options {
    enum class Action { Run, ListPorts, ExportImage, Info, Help, Version };

    Action action = Action::Run;
    // --com N=DEVICE.
    QList<std::pair<int, QString>> bindings;
    bool trace = false;
    bool traceFull = false;
    bool quiet = false;
    QString exportPath;
    QString firmwarePath; // empty: the built-in firmware
    bool allowTestFirmware = false;
    // A firmware file may leave some of the erase blocks blank.
    bool allowPartialFirmware = false;
    // Every --port as given, in order; none runs COM1. Two or more make a station: one run per
    // port, at once.
    QStringList ports;
    // --log FILE: one line of JSON per radio run is appended to it.
    QString logPath;
    // --watch: every port waits for radios and writes each one attached, until a signal.
    bool watch = false;
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
