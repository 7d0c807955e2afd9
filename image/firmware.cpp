#include "image/firmware.h"

#include "image/firmwaretable.h"
#include "image/memoryimage.h"
#include "image/srecord.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <QCryptographicHash>
#include <zlib.h>

namespace tqb9 {
namespace {

// Fingerprints of the test image's blocks that carry enough data to tell it by, sorted; made from
// image/firmware.s19 at build time, whatever firmware the build carries.
constexpr std::uint64_t kTestImageBlocks[] = {
#include "testimageblocks.inc"
};
static_assert(std::is_sorted(std::begin(kTestImageBlocks), std::end(kTestImageBlocks)));

constexpr std::uint32_t kWrittenEnd = kBootBlockFirst;

// The image's bytes from 0xC0000 up to end.
QByteArray bytesFrom(const MemoryImage& image, std::uint32_t end)
{
    QByteArray bytes(static_cast<qsizetype>(end - kImageFirst), '\0');
    for (std::uint32_t a = kImageFirst; a < end; ++a)
        bytes[static_cast<qsizetype>(a - kImageFirst)] = static_cast<char>(image.byteAt(a));
    return bytes;
}

FirmwareInfo withFigures(FirmwareInfo info, const FirmwareFile& file)
{
    info.hasFigures = true;
    info.format = file.format;
    info.records = file.records;
    info.firstAddress = file.firstAddress;
    info.lastAddress = file.lastAddress;
    info.dataBytes = file.dataBytes;
    info.bootBlockBytes = file.bootBlockBytes;
    info.blankBlocks = blankEraseBlocks(file);
    return info;
}

} // namespace

QString FirmwareInfo::sourceText() const
{
    if (source == Source::File)
        return QStringLiteral("file %1 (%2)").arg(path, QString::fromLatin1(formatName(format)));
    if (testImage)
        return QStringLiteral("built-in test image");
    return QStringLiteral("built-in firmware %1").arg(version);
}

struct Firmware::Data {
    MemoryImage image;
    FirmwareInfo info;
    std::uint32_t crc32 = 0;
    std::vector<std::uint32_t> blocks;
};

// What every loader works out once from the image it read.
Firmware Firmware::finish(std::shared_ptr<Data> data)
{
    data->info.testImage = tqb9::isTestImage(data->image);
    data->crc32 = crc32Of(writtenRange(data->image));
    for (long row = MemoryImage::kFirstRow; row <= MemoryImage::kWrittenLastRow;
         row += MemoryImage::kBlockRows) {
        if (data->image.blnBlockUsed(row))
            data->blocks.push_back(static_cast<std::uint32_t>(row * MemoryImage::kColumns));
    }
    return Firmware(std::move(data));
}

Firmware Firmware::builtIn()
{
    // Every run, watch and window of the process shares the one load.
    static const Firmware loaded = [] {
        auto data = std::make_shared<Data>();
        FirmwareTable table;
        LoadBuiltInFirmware(data->image, table);
        data->info = describeBuiltInFirmware(data->image);
        return finish(std::move(data));
    }();
    return loaded;
}

std::variant<Firmware, FirmwareFileError> Firmware::fromFile(const QString& path,
                                                             bool allowBlankBlocks)
{
    auto data = std::make_shared<Data>();
    auto loaded = loadFirmwareFile(path, data->image, allowBlankBlocks);
    if (auto* error = std::get_if<FirmwareFileError>(&loaded))
        return std::move(*error);
    data->info = std::get<FirmwareInfo>(std::move(loaded));
    return finish(std::move(data));
}

Firmware Firmware::fromImage(const MemoryImage& image, FirmwareInfo info)
{
    auto data = std::make_shared<Data>();
    data->image = image;
    data->info = std::move(info);
    return finish(std::move(data));
}

const Firmware::Data& Firmware::emptyData()
{
    static const Data empty;
    return empty;
}

const MemoryImage& Firmware::image() const
{
    return d ? d->image : emptyData().image;
}

const FirmwareInfo& Firmware::info() const
{
    return d ? d->info : emptyData().info;
}

std::uint32_t Firmware::crc32() const
{
    return d ? d->crc32 : 0;
}

const std::vector<std::uint32_t>& Firmware::blocks() const
{
    return d ? d->blocks : emptyData().blocks;
}

QString addressText(std::uint32_t address)
{
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(5, u'0');
}

QString builtInFirmwareVersion()
{
    return QStringLiteral(TQB9_FIRMWARE_VERSION);
}

FirmwareInfo describeBuiltInFirmware(const MemoryImage& image)
{
    std::string text;
    for (const std::string_view line : builtInFirmwareLines()) {
        text += line;
        text += '\n';
    }
    FirmwareInfo info;
    info.version = builtInFirmwareVersion();
    info.testImage = isTestImage(image);
    // The build refused the firmware unless this reader accepted it, so this cannot fail.
    const FirmwareFileResult read = readFirmwareFile(text, "built-in firmware");
    if (const auto* file = std::get_if<FirmwareFile>(&read))
        return withFigures(info, *file);
    return info;
}

std::variant<FirmwareInfo, FirmwareFileError>
loadFirmwareFile(const QString& path, MemoryImage& image, bool allowBlankBlocks)
{
    const FirmwareFileResult read =
        readFirmwareFileAt(std::filesystem::path(path.toStdU16String()));
    if (const auto* error = std::get_if<FirmwareFileError>(&read))
        return *error;
    const auto& file = std::get<FirmwareFile>(read);
    if (auto refusal = blankRadioRefusal(file, path.toStdString(), allowBlankBlocks))
        return *std::move(refusal);
    image.ClearMemory();
    forEachSRecordLine(file, [&](std::string_view line) { ReadSRecLine(image, line); });
    FirmwareInfo info;
    info.source = FirmwareInfo::Source::File;
    info.path = path;
    info.testImage = isTestImage(image);
    return withFigures(info, file);
}

bool isTestImage(const MemoryImage& image)
{
    std::array<std::uint8_t, kBlockSize> block{};
    for (std::uint32_t first = kImageFirst; first < kWrittenEnd; first += kBlockSize) {
        for (std::uint32_t i = 0; i < kBlockSize; ++i)
            block[i] = image.byteAt(first + i);
        const auto print = telltaleFingerprint(block.data());
        if (print &&
            std::binary_search(std::begin(kTestImageBlocks), std::end(kTestImageBlocks), *print))
            return true;
    }
    return false;
}

QByteArray wholeImage(const MemoryImage& image)
{
    return bytesFrom(image, kImageEnd);
}

QByteArray writtenRange(const MemoryImage& image)
{
    return bytesFrom(image, kWrittenEnd);
}

std::uint32_t crc32Of(const QByteArray& bytes)
{
    return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0),
                                              reinterpret_cast<const Bytef*>(bytes.constData()),
                                              static_cast<uInt>(bytes.size())));
}

QByteArray sha256Of(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace tqb9
