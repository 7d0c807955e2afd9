#pragma once

#include <string_view>

namespace tqb9 {

class MemoryImage;

// Stores the data bytes of one Motorola S-record line (S1, S2 or S3) into the image and flags
// every row that receives a byte other than 0xFF. Other record types and lines that do not start
// with 'S' are passed over. Checksums are not verified. A byte outside the image throws
// ImageRangeError; the bytes of the same record before it stay stored.
void ReadSRecLine(MemoryImage& image, std::string_view line);

} // namespace tqb9
