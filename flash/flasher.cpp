#include "flash/flasher.h"

#include "image/memoryimage.h"
#include "link/link.h"
#include "link/reply.h"

#include <algorithm>

namespace tqb9 {
namespace {

constexpr std::int16_t kAttemptsUsedUp = 1;
constexpr std::int16_t kRunTimeError = -1;

bool blnBlockUsed(const MemoryImage& image, long row)
{
    for (long k = 0; k < Flasher::kBlockRows; ++k) {
        if (image.blnRowUsed(row + k))
            return true;
    }
    return false;
}

} // namespace

Flasher::Flasher(Link& link, const MemoryImage& image, QObject* parent)
    : QObject(parent), m_link(link), m_image(image)
{}

std::optional<std::int16_t> Flasher::attempts(int limit,
                                              std::initializer_list<std::int16_t> accepted,
                                              const std::function<void()>& rebuild)
{
    for (std::int16_t intRetry = 0; intRetry < limit; ++intRetry) {
        rebuild();
        const std::int16_t intRxCount = m_link.SendBlock(bytesOf(m_packet));
        // Fewer bytes than the echo and a whole reply is a failed attempt, whatever arrived.
        const std::int16_t code = intRxCount >= Link::kPacketAwaited
                                      ? ParseReply(m_link.bytRxBuf(), Link::kPacketReplyAt)
                                      : reply::None;
        m_link.reportExchange(bytesOf(m_packet), m_link.bytRxBuf(), code);
        if (intRxCount >= Link::kPacketAwaited &&
            std::find(accepted.begin(), accepted.end(), code) != accepted.end()) {
            m_link.settleOwedReplies();
            return code;
        }
    }
    return std::nullopt;
}

std::int16_t Flasher::EraseBlocks()
{
    m_packet = erasePacket();
    return m_link.inPortFrame(kRunTimeError, [this] {
        return attempts(kEraseAttempts, {reply::OK, reply::BE}, [] {}).value_or(kAttemptsUsedUp);
    });
}

std::int16_t Flasher::EndSession()
{
    m_packet = endPacket();
    return m_link.inPortFrame(kRunTimeError, [this] {
        return attempts(kEndAttempts, {reply::OK, reply::ED}, [] {}).value_or(kAttemptsUsedUp);
    });
}

std::int16_t Flasher::WriteBlocks()
{
    m_stoppedAt.reset();
    const std::int16_t result = m_link.inPortFrame(kRunTimeError, [this]() -> std::int16_t {
        for (long lngRow = kFirstRow; lngRow <= kLastRow; lngRow += kBlockRows) {
            emit barValue(static_cast<int>(lngRow));
            if (!blnBlockUsed(m_image, lngRow))
                continue;
            m_stoppedAt = lngRow * MemoryImage::kColumns;
            // Each attempt rebuilds the block from the image.
            const auto accepted = attempts(kWriteAttempts, {reply::OK, reply::PG},
                                           [&] { buildProgramPacket(m_packet, m_image, lngRow); });
            if (!accepted)
                return kAttemptsUsedUp;
            emit blockWritten(static_cast<int>(lngRow));
        }
        return 0;
    });
    if (result == 0)
        m_stoppedAt.reset();
    return result;
}

int Flasher::blocksToWrite(const MemoryImage& image)
{
    int blocks = 0;
    for (long row = kFirstRow; row <= kLastRow; row += kBlockRows)
        blocks += blnBlockUsed(image, row) ? 1 : 0;
    return blocks;
}

} // namespace tqb9
