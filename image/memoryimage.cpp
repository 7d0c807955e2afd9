#include "image/memoryimage.h"

#include <algorithm>
#include <string>

namespace tqb9 {

void MemoryImage::ClearMemory()
{
    m_cells.fill(kErased);
    m_rowUsed.fill(false);
}

std::size_t MemoryImage::rowIndex(long row)
{
    if (row < kFirstRow || row > kLastRow)
        throw ImageRangeError("image row " + std::to_string(row) + " is outside &HC000..&HFFFF");
    return static_cast<std::size_t>(row - kFirstRow);
}

std::size_t MemoryImage::index(long row, long column)
{
    const std::size_t r = rowIndex(row);
    if (column < 0 || column >= kColumns)
        throw ImageRangeError("image column " + std::to_string(column) + " is outside 0..15");
    return r * kColumns + static_cast<std::size_t>(column);
}

std::uint8_t MemoryImage::byteAt(long address) const
{
    return static_cast<std::uint8_t>(intMemory(address >> 4, address & 0xF));
}

int MemoryImage::usedRowCount() const
{
    return static_cast<int>(std::count(m_rowUsed.begin(), m_rowUsed.end(), true));
}

} // namespace tqb9
