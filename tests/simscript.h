#pragma once

#include "sim/simradio.h"

#include <functional>
#include <optional>
#include <utility>

// Small builders for the simulated radio's scripts, shared by the link and flash tests.
namespace tqb9::simscript {

inline sim::Response replying(QByteArray bytes)
{
    sim::Response r;
    r.reply = std::move(bytes);
    return r;
}

// Bends the replies to one command; attempt counts from 1 for each command (and, for program
// packets, each block address).
inline sim::Script onCommand(sim::Command command,
                             std::function<std::optional<sim::Response>(const sim::Request&)> bend)
{
    return [command, bend](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command != command)
            return std::nullopt;
        return bend(request);
    };
}

// Bends every request of one command the same way.
inline sim::Script forCommand(sim::Command command, sim::Response response)
{
    return onCommand(command, [response](const sim::Request&) { return response; });
}

} // namespace tqb9::simscript
