#pragma once

#include "flash/packet.h"
#include "link/reply.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <QObject>

namespace tqb9 {

class Link;
class MemoryImage;

// The three operations of a programming session once the radio is in flash mode. Each runs in one
// port frame of the link and sends its packets with their attempt loop.
// Results: the accepted reply code (0 for a completed write), 1 when the attempts ran out, -1 when
// the port failed or an image access was out of range.
class Flasher : public QObject {
    Q_OBJECT
public:
    // Each packet step: how often it is tried, the answers that end its attempts (returned as
    // they are), and the one result that is the step's success. Only the program packet takes
    // the radio's plain "OK" as success.
    struct StepRule {
        int attempts;
        std::array<std::int16_t, 2> accepted;
        std::int16_t success;
    };
    static constexpr StepRule kErase{3, {reply::OK, reply::BE}, reply::BE};
    static constexpr StepRule kWrite{10, {reply::OK, reply::PG}, 0}; // 0: every block written
    static constexpr StepRule kEnd{10, {reply::OK, reply::ED}, reply::ED};

    Flasher(Link& link, const MemoryImage& image, QObject* parent = nullptr);
    // Between operations only: the image the next ones send, which must outlive them.
    void setImage(const MemoryImage& image) { m_image = &image; }

    std::int16_t EraseBlocks();
    std::int16_t WriteBlocks();
    std::int16_t EndSession();

    // The first address of the block a failed WriteBlocks stopped at; nothing after a write that
    // completed or never reached a block.
    std::optional<long> writeStoppedAt() const { return m_stoppedAt; }


signals:
    // The first row of each block, skipped ones included, as the write reaches it.
    void barValue(int row);
    // A program packet was acknowledged.
    void blockWritten(int row);

private:
    // m_packet through the link's attempt loop under rule; rebuild runs before every attempt.
    std::optional<std::int16_t> attempts(const StepRule& rule,
                                         const std::function<void()>& rebuild);

    Link& m_link;
    const MemoryImage* m_image;
    Packet m_packet{};
    std::optional<long> m_stoppedAt;
};

} // namespace tqb9
