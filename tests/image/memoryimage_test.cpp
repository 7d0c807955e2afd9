#include "image/memoryimage.h"

#include <gtest/gtest.h>

namespace tqb9 {
namespace {

bool isCleared(const MemoryImage& image)
{
    for (long row = MemoryImage::kFirstRow; row <= MemoryImage::kLastRow; ++row) {
        if (image.blnRowUsed(row))
            return false;
        for (long column = 0; column < MemoryImage::kColumns; ++column) {
            if (image.intMemory(row, column) != 0xFF)
                return false;
        }
    }
    return true;
}

TEST(MemoryImage, ClearMemoryErasesEveryCellAndFlag)
{
    MemoryImage image;
    EXPECT_TRUE(isCleared(image));
    for (const long row : {0xC000L, 0xD123L, 0xFFFFL}) {
        image.setMemory(row, 0, 0x00);
        image.setMemory(row, 15, 0x5A);
        image.markRowUsed(row);
    }
    ASSERT_EQ(image.usedRowCount(), 3);
    image.ClearMemory();
    EXPECT_TRUE(isCleared(image));
    EXPECT_EQ(image.usedRowCount(), 0);
}

TEST(MemoryImage, AddressesMapToRowAndColumn)
{
    MemoryImage image;
    image.setMemory(0xC000, 0, 0x11);
    image.setMemory(0xC000, 1, 0x22);
    image.setMemory(0xC001, 0, 0x33);
    image.setMemory(0xFFFF, 15, 0x44);
    EXPECT_EQ(image.byteAt(0xC0000), 0x11);
    EXPECT_EQ(image.byteAt(0xC0001), 0x22);
    EXPECT_EQ(image.byteAt(0xC0010), 0x33);
    EXPECT_EQ(image.byteAt(0xFFFFF), 0x44);
    EXPECT_EQ(image.byteAt(0xFFFFE), 0xFF);
}

TEST(MemoryImage, RefusesEveryIndexOutsideTheImage)
{
    struct Case {
        long row;
        long column;
    };
    MemoryImage image;
    for (const Case c : {Case{0xBFFF, 15}, Case{0x10000, 0}, Case{0xC000, -1}, Case{0xC000, 16},
                         Case{0xFFFF, 16}, Case{0, 0}, Case{-1, 0}}) {
        SCOPED_TRACE(testing::Message() << std::hex << c.row << ':' << c.column);
        EXPECT_THROW(image.intMemory(c.row, c.column), ImageRangeError);
        EXPECT_THROW(image.setMemory(c.row, c.column, 0), ImageRangeError);
    }
    for (const long row : {0xBFFFL, 0x10000L}) {
        EXPECT_THROW(image.blnRowUsed(row), ImageRangeError);
        EXPECT_THROW(image.markRowUsed(row), ImageRangeError);
    }
    EXPECT_THROW(image.byteAt(0xBFFFF), ImageRangeError);
    EXPECT_THROW(image.byteAt(0x100000), ImageRangeError);
    EXPECT_TRUE(isCleared(image));
}

} // namespace
} // namespace tqb9
