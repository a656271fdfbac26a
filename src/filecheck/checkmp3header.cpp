#include "filecheck/checkmp3header.h"

#include <array>
#include <string>

#include "platform/nativepath.h"

#include "platform/regularfile.h"

namespace {

constexpr std::uint8_t frameSync = 0xFF;
constexpr std::size_t id3HeaderSize = 10;
constexpr std::uint8_t id3FooterFlag = 0x10;

std::uint8_t byteAt(const RegularFile& file, std::int64_t offset, bool& present)
{
    std::uint8_t byte = 0;
    std::string error;
    const auto got = file.readAt(&byte, 1, offset, error);
    if (!got)
        throw FileCheckError(error);
    present = *got == 1;
    return byte;
}

// The offset just past a well-formed ID3v2 tag at the start of the file, or
// nothing if the header is not one.
std::optional<std::int64_t> id3v2TagEnd(const RegularFile& file)
{
    std::array<std::uint8_t, id3HeaderSize> header{};
    std::string error;
    const auto got = file.readAt(header.data(), header.size(), 0, error);
    if (!got)
        throw FileCheckError(error);
    if (*got < header.size() || header[0] != 'I' || header[1] != 'D' || header[2] != '3')
        return std::nullopt;
    const std::uint8_t major = header[3];
    const std::uint8_t revision = header[4];
    if (major < 2 || major > 4 || revision == 0xFF)
        return std::nullopt;
    std::int64_t size = 0;
    for (std::size_t i = 6; i < id3HeaderSize; ++i) {
        if (header[i] >= 0x80)
            return std::nullopt;
        size = (size << 7) | header[i];
    }
    const std::int64_t footer = (header[5] & id3FooterFlag) != 0 ? 10 : 0;
    return static_cast<std::int64_t>(id3HeaderSize) + size + footer;
}

} // namespace

TruthWord CheckMP3Header(const QString& FilePath)
{
    const std::string path = nativeFromPath(FilePath);
    std::string error;
    const std::optional<RegularFile> file = RegularFile::open(path, error);
    if (!file)
        throw FileCheckError(error);

    bool present = false;
    const std::uint8_t first = byteAt(*file, 0, present);
    if (!present)
        return TruthFalse;
    if (first == frameSync)
        return TruthTrue;
    if (first != 'I')
        return TruthFalse;

    // Most MP3 files begin with an ID3v2 tag: look past it for the frame.
    const std::optional<std::int64_t> tagEnd = id3v2TagEnd(*file);
    if (!tagEnd)
        return TruthFalse;
    const std::uint8_t afterTag = byteAt(*file, *tagEnd, present);
    return present && afterTag == frameSync ? TruthTrue : TruthFalse;
}
