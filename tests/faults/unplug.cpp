#include "faults/unplug.h"

#include <QTimer>

namespace tqb9::faults {

Unplug::Unplug(sim::SimRadio& radio, int block, When when)
{
    radio.setScript(
        [&radio, block, when](const sim::Request& request) -> std::optional<sim::Response> {
            if (request.command != sim::Command::Program || request.number != block)
                return std::nullopt;
            if (when == When::AwaitingReply) {
                sim::Response silentThenGone;
                silentThenGone.reply = QByteArray();
                silentThenGone.hangUp = true;
                return silentThenGone;
            }
            // The script runs as the packet's first bytes arrive; the hang-up waits for the radio
            // to return to the event loop, so the rest of the packet is still on its way.
            QTimer::singleShot(0, &radio, &sim::SimRadio::hangUp);
            return std::nullopt;
        });
    QObject::connect(&radio, &sim::SimRadio::hungUp, &radio, [this] { m_since.start(); });
}

} // namespace tqb9::faults
