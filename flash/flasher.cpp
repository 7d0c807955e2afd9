#include "flash/flasher.h"

#include "image/memoryimage.h"
#include "link/link.h"
#include "link/reply.h"

namespace tqb9 {
namespace {

constexpr std::int16_t kAttemptsUsedUp = 1;
constexpr std::int16_t kRunTimeError = -1;

} // namespace

Flasher::Flasher(Link& link, const MemoryImage& image, QObject* parent)
    : QObject(parent), m_link(link), m_image(&image)
{}

std::optional<std::int16_t> Flasher::attempts(const StepRule& rule,
                                              const std::function<void()>& rebuild)
{
    return m_link.sendPacket(rule.attempts, rule.accepted, [&] {
        rebuild();
        return bytesOf(m_packet);
    });
}

std::int16_t Flasher::EraseBlocks()
{
    m_packet = erasePacket();
    return m_link.inPortFrame(kRunTimeError,
                              [this] { return attempts(kErase, [] {}).value_or(kAttemptsUsedUp); });
}

std::int16_t Flasher::EndSession()
{
    m_packet = endPacket();
    return m_link.inPortFrame(kRunTimeError,
                              [this] { return attempts(kEnd, [] {}).value_or(kAttemptsUsedUp); });
}

std::int16_t Flasher::WriteBlocks()
{
    m_stoppedAt.reset();
    const std::int16_t result = m_link.inPortFrame(kRunTimeError, [this]() -> std::int16_t {
        // The top 4 KB is never written: the erase leaves it alone too.
        for (long lngRow = MemoryImage::kFirstRow; lngRow <= MemoryImage::kWrittenLastRow;
             lngRow += MemoryImage::kBlockRows) {
            emit barValue(static_cast<int>(lngRow));
            if (!m_image->blnBlockUsed(lngRow))
                continue;
            m_stoppedAt = lngRow * MemoryImage::kColumns;
            // Each attempt rebuilds the block from the image.
            const auto accepted =
                attempts(kWrite, [&] { buildProgramPacket(m_packet, *m_image, lngRow); });
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

} // namespace tqb9
