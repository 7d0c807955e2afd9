#include "image/memoryimage.h"

#include <algorithm>
#include <string>

namespace tqb9 {

void MemoryImage::ClearMemory()
{
    m_cells.fill(kErased);
    m_rowUsed.fill(false);
}

void MemoryImage::throwRowOutOfRange(long row)
{
    throw ImageRangeError("image row " + std::to_string(row) + " is outside &HC000..&HFFFF");
}

void MemoryImage::throwColumnOutOfRange(long column)
{
    throw ImageRangeError("image column " + std::to_string(column) + " is outside 0..15");
}

std::uint8_t MemoryImage::byteAt(long address) const
{
    return static_cast<std::uint8_t>(intMemory(address >> 4, address & 0xF));
}

bool MemoryImage::blnBlockUsed(long row) const
{
    for (long k = 0; k < kBlockRows; ++k) {
        if (blnRowUsed(row + k))
            return true;
    }
    return false;
}

int MemoryImage::usedRowCount() const
{
    return static_cast<int>(std::count(m_rowUsed.begin(), m_rowUsed.end(), true));
}

} // namespace tqb9
