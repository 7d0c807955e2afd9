// tq-b9-firmwaretool lines|fingerprints INPUT OUTPUT
//
// Runs at build time, compiled from the same strict reader the programs use for firmware files.
//   lines         checks INPUT (S-record or Intel HEX) and writes it as the initialiser list of
//                 S-record lines the firmware table includes, in the table's own shape
//   fingerprints  writes the fingerprints of INPUT's 1 KB blocks that the test image is told by
// A file the reader refuses fails the build with its FILE:LINE: message, and so does one that
// would leave part of the radio's flash blank.

#include "image/firmwarefile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace tqb9;

std::vector<std::uint64_t> fingerprints(const FirmwareFile& file)
{
    std::vector<std::uint64_t> out;
    for (std::uint32_t first = kImageFirst; first < kBootBlockFirst; first += kBlockSize) {
        if (const auto print = telltaleFingerprint(file.bytes.data() + (first - kImageFirst)))
            out.push_back(*print);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: tq-b9-firmwaretool lines|fingerprints INPUT OUTPUT\n";
        return 64;
    }
    const std::string what = argv[1];
    const FirmwareFileResult read = readFirmwareFileAt(argv[2]);
    if (const auto* error = std::get_if<FirmwareFileError>(&read)) {
        std::cerr << error->message << '\n';
        return error->kind == FirmwareFileError::Kind::Unreadable ? 66 : 65;
    }
    const auto& file = std::get<FirmwareFile>(read);

    std::string body = "// Generated from " + std::string(argv[2]) +
                       " by tq-b9-firmwaretool; edit that file, not this.\n";
    if (what == "lines") {
        // The window writes the built-in firmware with no option to allow a partial one, so a
        // build input must restore every block a run erases.
        if (const auto refusal = blankRadioRefusal(file, argv[2], false)) {
            std::cerr << refusal->message << '\n';
            return 65;
        }
        // "..."sv literals, as the test image's own table has them.
        for (const std::string& line : toSRecordLines(file))
            body += "\"" + line + "\"sv,\n";
    } else if (what == "fingerprints") {
        char text[32];
        for (const std::uint64_t print : fingerprints(file)) {
            std::snprintf(text, sizeof text, "0x%016" PRIX64 "ull,\n", print);
            body += text;
        }
    } else {
        std::cerr << "tq-b9-firmwaretool: unknown output " << what << '\n';
        return 64;
    }
    const std::string temporary = std::string(argv[3]) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << body;
        if (!out.flush()) {
            std::cerr << "tq-b9-firmwaretool: cannot write " << temporary << '\n';
            return 73;
        }
    }
    // std::rename does not replace an existing file on Windows, which a rebuild has.
    std::error_code renamed;
    std::filesystem::rename(temporary, argv[3], renamed);
    if (renamed) {
        std::cerr << "tq-b9-firmwaretool: cannot write " << argv[3] << '\n';
        return 73;
    }
    return 0;
}
