#pragma once

// The body of both firmware file targets: the strict reader over arbitrary bytes led by one
// format's first character. A refusal must name the file and a line; an accepted file must hold
// consistent figures and read back through the start-up's ReadSRecLine as exactly its image.

#include "image/firmwarefile.h"
#include "image/memoryimage.h"
#include "image/srecord.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tqb9::fuzz {

inline void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "firmware file: %s\n", what);
        std::abort();
    }
}

inline int readFirmwareFileInput(char lead, const std::uint8_t* data, std::size_t size)
{
    std::string content(reinterpret_cast<const char*>(data), size);
    if (content.empty() || content[0] != lead)
        content.insert(content.begin(), lead);
    const FirmwareFileResult result = readFirmwareFile(content, "f");
    if (const auto* error = std::get_if<FirmwareFileError>(&result)) {
        const std::size_t colon = error->message.find(": ", 2);
        check(error->message.rfind("f:", 0) == 0 && colon != std::string::npos && colon > 2 &&
                  error->message.find_first_not_of("0123456789", 2) == colon,
              "a refusal that names no line");
        check(error->kind == FirmwareFileError::Kind::Invalid, "content called unreadable");
        return 0;
    }
    const auto& file = std::get<FirmwareFile>(result);
    check(file.format == (lead == 'S' ? FirmwareFormat::SRecord : FirmwareFormat::IntelHex),
          "format not told by the first record");
    std::uint32_t given = 0;
    std::uint32_t boot = 0;
    for (std::uint32_t a = kImageFirst; a < kImageEnd; ++a) {
        if (!file.given(a)) {
            check(file.at(a) == 0xFF, "a byte no record gave");
            continue;
        }
        ++given;
        boot += a >= kBootBlockFirst ? 1 : 0;
        check(a >= file.firstAddress && a <= file.lastAddress, "address range");
    }
    check(given > 0 && given == file.dataBytes && boot == file.bootBlockBytes, "byte counts");

    static auto* const image = new MemoryImage;
    image->ClearMemory();
    for (const std::string& line : toSRecordLines(file))
        ReadSRecLine(*image, line);
    for (std::uint32_t a = kImageFirst; a < kImageEnd; ++a)
        check(image->byteAt(a) == file.at(a), "converted lines read back differently");
    return 0;
}

} // namespace tqb9::fuzz
