#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>

namespace tqb9 {

// Raised for a row or column outside the image. The S-record reader relies on it instead of
// checking addresses itself, so a record that runs past the image keeps the bytes stored before.
class ImageRangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// The radio's address space 0xC0000..0xFFFFF as 16,384 rows of 16 cells, plus one flag per row
// that says whether the row holds anything other than erased bytes.
class MemoryImage {
public:
    static constexpr int kFirstRow = 0xC000;
    static constexpr int kLastRow = 0xFFFF;
    static constexpr int kRows = kLastRow - kFirstRow + 1;
    static constexpr int kColumns = 16;
    static constexpr std::int16_t kErased = 0xFF;
    // The block write's range ends below the image's: the top 4 KB (rows &HFF00..&HFFFF) is held
    // but never erased or written. It writes 1 KB blocks of 64 rows.
    static constexpr int kWrittenLastRow = 0xFEFF;
    static constexpr int kBlockRows = 64;

    MemoryImage() { ClearMemory(); }

    void ClearMemory();

    std::int16_t intMemory(long row, long column) const { return m_cells[index(row, column)]; }
    void setMemory(long row, long column, std::int16_t value)
    {
        m_cells[index(row, column)] = value;
    }

    bool blnRowUsed(long row) const { return m_rowUsed[rowIndex(row)]; }
    void markRowUsed(long row) { m_rowUsed[rowIndex(row)] = true; }

    // The block starting at row holds a flagged row, so the block write sends it.
    bool blnBlockUsed(long row) const;

    // Radio address view of the same cells (address = row * 16 + column).
    std::uint8_t byteAt(long address) const;
    int usedRowCount() const;

private:
    // Inline: the start-up load stores a quarter of a million bytes through these checks.
    static std::size_t rowIndex(long row)
    {
        if (row < kFirstRow || row > kLastRow) [[unlikely]]
            throwRowOutOfRange(row);
        return static_cast<std::size_t>(row - kFirstRow);
    }
    static std::size_t index(long row, long column)
    {
        const std::size_t r = rowIndex(row);
        if (column < 0 || column >= kColumns) [[unlikely]]
            throwColumnOutOfRange(column);
        return r * kColumns + static_cast<std::size_t>(column);
    }
    [[noreturn]] static void throwRowOutOfRange(long row);
    [[noreturn]] static void throwColumnOutOfRange(long column);

    std::array<std::int16_t, std::size_t{kRows} * kColumns> m_cells{};
    std::array<bool, kRows> m_rowUsed{};
};

} // namespace tqb9
