#include "image/firmwarefile.h"

#include "image/hexdigits.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace tqb9 {
namespace {

// A record's bytes: the count, address, data and checksum of the longest record either format
// allows (an Intel HEX record with 255 data bytes).
constexpr std::size_t kMaxRecordBytes = 260;

// As long as the text needs: a message carries the whole path, however deep.
template <typename... Args> std::string format(const char* pattern, Args... args)
{
    const int length = std::snprintf(nullptr, 0, pattern, args...);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, args...);
    return text;
}

std::string hexAddress(std::uint32_t address)
{
    return format("0x%05X", static_cast<unsigned>(address));
}

std::string printable(char c)
{
    return c >= 0x20 && c < 0x7F ? format("'%c'", c)
                                 : format("byte 0x%02X", static_cast<unsigned char>(c));
}

bool isText(unsigned char c)
{
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n';
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The name as one word of a command line, in quotes where a shell or cmd.exe would split it.
std::string commandWord(std::string_view name)
{
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               (c != '\0' && std::strchr("._-+/:\\", c) != nullptr);
    });
    return plain ? std::string(name) : "\"" + std::string(name) + "\"";
}

// Where srec_cat writes what it makes of name: beside it, never over it.
std::string outputBeside(std::string_view name, std::string_view suffix)
{
    std::string stem(name);
    const std::size_t dot = stem.find_last_of('.');
    const std::size_t slash = stem.find_last_of("/\\");
    if (dot != std::string::npos && dot != 0 && (slash == std::string::npos || dot > slash + 1))
        stem.resize(dot);
    std::string output = stem + std::string(suffix);
    if (output == name)
        output = std::string(name) + std::string(suffix);
    return output;
}

class Reader {
public:
    Reader(std::string_view content, std::string_view name) : m_content(content), m_name(name) {}

    FirmwareFileResult read();

private:
    // Every check ends the read with its message through this.
    struct Refusal {
        std::string text;
    };
    [[noreturn]] void refuse(const std::string& text) const { throw Refusal{text}; }

    // A file that is not text at all is most often a raw image; it gets its own refusal.
    void refuseBinary(std::string_view content);
    void readLine(std::string_view line);
    // The hex digits of line from position from on, into m_bytes.
    void decode(std::string_view line, std::size_t from);
    // Refuses the line, naming its column, if it holds anything but hex digits from from on.
    void refuseStray(std::string_view line, std::size_t from) const;
    void readSRecord(std::string_view line);
    void readIntelHex();
    void store(std::uint64_t address, const std::uint8_t* data, std::size_t count);

    std::string_view m_content;
    std::string_view m_name;
    FirmwareFile m_file;
    std::optional<char> m_lead; // 'S' or ':', from the first record
    std::uint32_t m_line = 0;
    std::uint32_t m_endLine = 0;
    std::uint32_t m_dataRecords = 0;
    // The last record so far is an S5 or S6 that matched every data record before it.
    bool m_countLast = false;
    std::uint32_t m_base = 0; // Intel HEX: from the last 02 or 04 record
    std::array<std::uint8_t, kMaxRecordBytes> m_bytes{};
    std::size_t m_count = 0; // bytes decoded into m_bytes
};

FirmwareFileResult Reader::read()
{
    m_file.bytes.assign(kImageSize, 0xFF);
    m_file.lineOf.assign(kImageSize, 0);
    m_file.firstAddress = kImageEnd;
    try {
        // Notepad saves UTF-8 with a byte-order mark; it says nothing about the records.
        if (m_content.substr(0, kUtf8Mark.size()) == kUtf8Mark)
            m_content.remove_prefix(kUtf8Mark.size());
        refuseBinary(m_content);
        std::size_t at = 0;
        while (at < m_content.size()) {
            std::size_t end = m_content.find('\n', at);
            if (end == std::string_view::npos)
                end = m_content.size();
            ++m_line;
            std::string_view line = m_content.substr(at, end - at);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            // Blanks after a record are harmless: its checksum has been checked by then.
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
                line.remove_suffix(1);
            readLine(line);
            at = end + 1;
        }
        const std::uint32_t last = std::max<std::uint32_t>(m_line, 1);
        m_line = last;
        if (m_file.records == 0)
            refuse("no records: the file is empty");
        // A count that matches every data record proves as well as an end record that none was
        // lost; srec_cat writes such files from anything without a start address.
        if (m_endLine == 0 && m_lead == 'S' && !m_countLast)
            refuse("no end record (S7, S8 or S9), nor an S5 or S6 count after the last data "
                   "record, so a file cut short cannot be told from a whole one; if this one is "
                   "whole, add both with: srec_cat " +
                   commandWord(m_name) + " -o " + commandWord(outputBeside(m_name, "-ended.s19")) +
                   " -motorola -execution-start-address 0");
        if (m_endLine == 0 && m_lead == ':')
            refuse("no end-of-file record (type 01)");
        if (m_file.dataBytes == 0)
            refuse("no data: the file holds no data record");
    } catch (const Refusal& refusal) {
        return FirmwareFileError{
            FirmwareFileError::Kind::Invalid,
            format("%.*s:%u: ", static_cast<int>(m_name.size()), m_name.data(), m_line) +
                refusal.text};
    }
    return std::move(m_file);
}

void Reader::refuseBinary(std::string_view content)
{
    if (content.substr(0, 2) == "\xFF\xFE" || content.substr(0, 2) == "\xFE\xFF") {
        m_line = 1;
        refuse("starts with a UTF-16 byte-order mark: the file is UTF-16 text; save it as UTF-8 "
               "or ASCII");
    }
    // Judged by the first line that holds anything: a text file with one bad byte further on is
    // refused at its line as text.
    const std::size_t first = content.find_first_not_of("\r\n");
    if (first == std::string_view::npos)
        return;
    const std::size_t end = std::min(content.find('\n', first), content.size());
    const auto bad = std::find_if(content.begin() + static_cast<std::ptrdiff_t>(first),
                                  content.begin() + static_cast<std::ptrdiff_t>(end),
                                  [](char c) { return !isText(static_cast<unsigned char>(c)); });
    if (bad == content.begin() + static_cast<std::ptrdiff_t>(end))
        return;
    if (content.substr(static_cast<std::size_t>(bad - content.begin()), kUtf8Mark.size()) ==
        kUtf8Mark)
        return; // named as such at its line
    m_line = static_cast<std::uint32_t>(
        1 +
        std::count(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(first), '\n'));
    // A raw image holds the radio's bytes from 0xC0000 with nothing to say where they go.
    std::string text = format("not text but binary (byte 0x%02X), so neither S-record nor Intel "
                              "HEX; ",
                              static_cast<unsigned char>(*bad));
    if (content.size() > kImageSize)
        text += format("at %zu bytes it is not a raw image of 0xC0000..0xFFFFF either, which has "
                       "%u",
                       content.size(), static_cast<unsigned>(kImageSize));
    else
        text += "if it is a raw image of the radio's flash from 0xC0000, make an S-record file of "
                "it with: srec_cat " +
                commandWord(m_name) + " -binary -offset 0xC0000 -o " +
                commandWord(outputBeside(m_name, ".s19")) + " -motorola";
    refuse(text);
}

void Reader::readLine(std::string_view line)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '\r')
            refuse(format("a CR at column %zu that is not part of a CR LF line end", i + 1));
        if (c == 0xEF && line.substr(i, kUtf8Mark.size()) == kUtf8Mark)
            refuse(format("a UTF-8 byte-order mark (EF BB BF) at column %zu: one is allowed only "
                          "at the very start of the file",
                          i + 1));
        if (!isText(c))
            refuse(format("byte 0x%02X at column %zu: not text, so neither S-record nor Intel HEX",
                          c, i + 1));
    }
    if (line.empty())
        return;
    if (m_endLine != 0)
        refuse(format("a record after the end record on line %u", m_endLine));
    if (!m_lead) {
        if (line[0] != 'S' && line[0] != ':')
            refuse(format("starts with %s: neither an S-record ('S') nor an Intel HEX (':') record",
                          printable(line[0]).c_str()));
        m_lead = line[0];
        m_file.format = line[0] == 'S' ? FirmwareFormat::SRecord : FirmwareFormat::IntelHex;
    }
    if (line[0] != *m_lead)
        refuse(format("starts with %s, but this is an %s file whose records start with '%c'",
                      printable(line[0]).c_str(), formatName(m_file.format), *m_lead));
    ++m_file.records;
    m_countLast = false;
    if (*m_lead == 'S') {
        readSRecord(line);
    } else {
        decode(line, 1);
        readIntelHex();
    }
}

void Reader::refuseStray(std::string_view line, std::size_t from) const
{
    const auto notHex = [](char c) {
        return kHexDigits[static_cast<unsigned char>(c)] < 0;
    };
    const auto begin = line.begin() + static_cast<std::ptrdiff_t>(from);
    // "...E1 x" is about the x; a blank is named only where nothing else is wrong.
    auto bad =
        std::find_if(begin, line.end(), [&](char c) { return notHex(c) && c != ' ' && c != '\t'; });
    if (bad == line.end())
        bad = std::find_if(begin, line.end(), notHex);
    if (bad != line.end())
        refuse(format("%s at column %zu is not a hex digit", printable(*bad).c_str(),
                      static_cast<std::size_t>(bad - line.begin()) + 1));
}

void Reader::decode(std::string_view line, std::size_t from)
{
    const std::string_view digits = line.substr(from);
    if (digits.size() % 2 != 0) {
        refuseStray(line, from);
        refuse(format("an odd number of hex digits (%zu)", digits.size()));
    }
    if (digits.size() / 2 > kMaxRecordBytes) {
        refuseStray(line, from);
        refuse(format("%zu characters, longer than any record", digits.size()));
    }
    m_count = digits.size() / 2;
    for (std::size_t i = 0; i < m_count; ++i) {
        const int high = kHexDigits[static_cast<unsigned char>(digits[2 * i])];
        const int low = kHexDigits[static_cast<unsigned char>(digits[2 * i + 1])];
        if ((high | low) < 0)
            refuseStray(line, from);
        m_bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
}

void Reader::readSRecord(std::string_view line)
{
    // Address bytes per type; 0 marks S4, which no writer uses and no reader should guess at.
    static constexpr std::array<std::size_t, 10> kAddressBytes{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (line.size() < 2 || line[1] < '0' || line[1] > '9' || line[1] == '4')
        refuse(format("S%s is not an S-record type",
                      line.size() < 2 ? "" : std::string(1, line[1]).c_str()));
    const int type = line[1] - '0';
    decode(line, 2);
    if (m_count == 0)
        refuse("no byte count");
    const std::size_t count = m_bytes[0];
    if (count != m_count - 1)
        refuse(format("byte count 0x%02zX, but %zu bytes follow it", count, m_count - 1));
    const std::size_t addressBytes = kAddressBytes[static_cast<std::size_t>(type)];
    if (count < addressBytes + 1)
        refuse(format("byte count 0x%02zX is too small for an S%d record's %zu address bytes "
                      "and checksum",
                      count, type, addressBytes));
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < m_count; ++i)
        sum += m_bytes[i];
    const unsigned expected = ~sum & 0xFF;
    if (m_bytes[m_count - 1] != expected)
        refuse(format("checksum 0x%02X, expected 0x%02X", m_bytes[m_count - 1], expected));

    std::uint64_t address = 0;
    for (std::size_t i = 1; i <= addressBytes; ++i)
        address = address << 8 | m_bytes[i];
    const std::size_t dataCount = count - addressBytes - 1;
    switch (type) {
    case 1:
    case 2:
    case 3:
        ++m_dataRecords;
        store(address, m_bytes.data() + 1 + addressBytes, dataCount);
        return;
    case 5:
    case 6:
        if (dataCount != 0)
            refuse(
                format("an S%d count record carries no data, this one %zu bytes", type, dataCount));
        if (address != m_dataRecords)
            refuse(format("S%d says %llu data records, but %u come before it", type,
                          static_cast<unsigned long long>(address), m_dataRecords));
        m_countLast = true;
        return;
    case 7:
    case 8:
    case 9:
        if (dataCount != 0)
            refuse(
                format("an S%d end record carries no data, this one %zu bytes", type, dataCount));
        m_endLine = m_line;
        return;
    default: // S0: the header, whatever it says
        return;
    }
}

void Reader::readIntelHex()
{
    if (m_count < 5)
        refuse(
            format("%zu bytes, too short for a record (count, address, type, checksum)", m_count));
    const std::size_t count = m_bytes[0];
    if (count != m_count - 5)
        refuse(
            format("byte count 0x%02zX, but the record holds %zu data bytes", count, m_count - 5));
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < m_count; ++i)
        sum += m_bytes[i];
    const unsigned expected = (0x100 - (sum & 0xFF)) & 0xFF;
    if (m_bytes[m_count - 1] != expected)
        refuse(format("checksum 0x%02X, expected 0x%02X", m_bytes[m_count - 1], expected));

    const std::uint32_t offset = static_cast<std::uint32_t>(m_bytes[1]) << 8 | m_bytes[2];
    const int type = m_bytes[3];
    const std::uint8_t* data = m_bytes.data() + 4;
    const auto need = [&](std::size_t bytes, const char* what) {
        if (count != bytes)
            refuse(format("a type %02X record (%s) carries %zu data bytes, this one %zu", type,
                          what, bytes, count));
    };
    switch (type) {
    case 0x00:
        if (offset + count > 0x10000)
            refuse(format("data from offset 0x%04X runs %zu bytes past the end of its 64 KB "
                          "segment",
                          offset, offset + count - 0x10000));
        ++m_dataRecords;
        store(std::uint64_t{m_base} + offset, data, count);
        return;
    case 0x01:
        need(0, "end of file");
        m_endLine = m_line;
        return;
    case 0x02:
        need(2, "extended segment address");
        m_base = (static_cast<std::uint32_t>(data[0]) << 8 | data[1]) << 4;
        return;
    case 0x04:
        need(2, "extended linear address");
        m_base = (static_cast<std::uint32_t>(data[0]) << 8 | data[1]) << 16;
        return;
    case 0x03:
        need(4, "start segment address");
        return;
    case 0x05:
        need(4, "start linear address");
        return;
    default:
        refuse(format("record type %02X is not one of 00 to 05", type));
    }
}

void Reader::store(std::uint64_t address, const std::uint8_t* data, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t a = address + i;
        if (a < kImageFirst || a >= kImageEnd)
            refuse(format("data at 0x%05llX lies outside 0xC0000..0xFFFFF",
                          static_cast<unsigned long long>(a)));
        const std::size_t index = static_cast<std::size_t>(a - kImageFirst);
        const std::uint32_t earlier = m_file.lineOf[index];
        if (earlier != 0) {
            if (m_file.bytes[index] != data[i])
                refuse(format("0x%05llX is given 0x%02X here but 0x%02X on line %u",
                              static_cast<unsigned long long>(a), data[i], m_file.bytes[index],
                              earlier));
            continue;
        }
        m_file.bytes[index] = data[i];
        m_file.lineOf[index] = m_line;
        ++m_file.dataBytes;
        if (a >= kBootBlockFirst)
            ++m_file.bootBlockBytes;
        m_file.firstAddress = std::min(m_file.firstAddress, static_cast<std::uint32_t>(a));
        m_file.lastAddress = std::max(m_file.lastAddress, static_cast<std::uint32_t>(a));
    }
}

char hexDigit(unsigned value)
{
    return "0123456789ABCDEF"[value & 0xF];
}

void appendByte(std::string& line, unsigned value)
{
    line += hexDigit(value >> 4);
    line += hexDigit(value);
}

} // namespace

const char* formatName(FirmwareFormat format)
{
    return format == FirmwareFormat::SRecord ? "S-record" : "Intel HEX";
}

FirmwareFileResult readFirmwareFile(std::string_view content, std::string_view name)
{
    return Reader(content, name).read();
}

FirmwareFileResult readFirmwareFileAt(const std::filesystem::path& path)
{
    // UTF-8 for the messages, whatever the system's code page: the name the user gave comes back.
    const std::u8string utf8 = path.u8string();
    const std::string name(utf8.begin(), utf8.end());
    const auto unreadable = [&](const char* why) {
        return FirmwareFileError{FirmwareFileError::Kind::Unreadable,
                                 name + ": cannot be read: " + why};
    };
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return unreadable(std::strerror(EISDIR));
    // Opened by the path itself, wide on Windows, so no code page can lose a character of it.
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return unreadable(std::strerror(errno));
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return unreadable(std::strerror(errno));
    // The limit is checked before reading, so a huge or endless file (a device) costs nothing.
    if (static_cast<std::uint64_t>(size) > kMaxFirmwareFileBytes)
        return FirmwareFileError{FirmwareFileError::Kind::Invalid,
                                 name + format(":1: %lld bytes, over the 16 MiB a firmware file "
                                               "may have",
                                               static_cast<long long>(size))};
    in.seekg(0);
    std::string content(static_cast<std::size_t>(size), '\0');
    if (!in.read(content.data(), size))
        return unreadable(std::strerror(errno));
    return readFirmwareFile(content, name);
}

std::vector<FlashBlock> blankEraseBlocks(const FirmwareFile& file)
{
    std::vector<FlashBlock> blank;
    for (const FlashBlock& block : kEraseBlocks) {
        const auto* first = file.bytes.data() + (block.first - kImageFirst);
        const auto* end = file.bytes.data() + (block.last + 1 - kImageFirst);
        if (std::all_of(first, end, [](std::uint8_t b) { return b == 0xFF; }))
            blank.push_back(block);
    }
    return blank;
}

std::optional<FirmwareFileError> blankRadioRefusal(const FirmwareFile& file, std::string_view name,
                                                   bool allowBlankBlocks)
{
    const std::vector<FlashBlock> blank = blankEraseBlocks(file);
    std::string text(name);
    if (blank.size() == kEraseBlocks.size()) {
        text += ": holds nothing the writer would write: no byte other than 0xFF in " +
                hexAddress(kImageFirst) + ".." + hexAddress(kBootBlockFirst - 1) +
                ", so a run would erase the radio's flash and leave it blank";
        if (file.bootBlockBytes != 0)
            text += format("; its %u bytes in 0xFF000..0xFFFFF are never written",
                           static_cast<unsigned>(file.bootBlockBytes));
        return FirmwareFileError{FirmwareFileError::Kind::Invalid, std::move(text)};
    }
    if (blank.empty() || allowBlankBlocks)
        return std::nullopt;
    text += ": ";
    for (std::size_t i = 0; i < blank.size(); ++i) {
        text +=
            (i == 0 ? "" : ", ") + hexAddress(blank[i].first) + ".." + hexAddress(blank[i].last);
    }
    return FirmwareFileError{FirmwareFileError::Kind::LeavesBlocksBlank,
                             text + " would be erased and left blank"};
}

std::vector<std::string> toSRecordLines(const FirmwareFile& file)
{
    std::vector<std::string> lines;
    forEachSRecordLine(file, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

void forEachSRecordLine(const FirmwareFile& file, const std::function<void(std::string_view)>& take)
{
    take("S0030000FC");
    std::string line;
    line.reserve(80);
    for (std::uint32_t row = kImageFirst; row < kImageEnd; row += 32) {
        std::uint32_t a = row;
        while (a < row + 32) {
            if (!file.given(a)) {
                ++a;
                continue;
            }
            std::uint32_t end = a;
            while (end < row + 32 && file.given(end))
                ++end;
            const unsigned count = end - a + 4;
            line = "S2";
            appendByte(line, count);
            unsigned sum = count + (a >> 16) + ((a >> 8) & 0xFF) + (a & 0xFF);
            appendByte(line, a >> 16);
            appendByte(line, a >> 8);
            appendByte(line, a);
            for (std::uint32_t b = a; b < end; ++b) {
                appendByte(line, file.at(b));
                sum += file.at(b);
            }
            appendByte(line, ~sum & 0xFF);
            take(line);
            a = end;
        }
    }
    take("S804000000FB");
}

std::uint64_t blockFingerprint(const std::uint8_t* block)
{
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        hash ^= block[i];
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::optional<std::uint64_t> telltaleFingerprint(const std::uint8_t* block)
{
    const auto data = std::count_if(block, block + kBlockSize, [](auto b) { return b != 0xFF; });
    if (data < kFingerprintMinimumData)
        return std::nullopt;
    return blockFingerprint(block);
}

} // namespace tqb9
