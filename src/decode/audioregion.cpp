#include "decode/audioregion.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include <sys/stat.h>

namespace {

bool startsWith(const std::uint8_t* bytes, std::string_view tag)
{
    return std::memcmp(bytes, tag.data(), tag.size()) == 0;
}

std::int64_t littleEndian32(const std::uint8_t* bytes)
{
    return std::int64_t{bytes[0]} | (std::int64_t{bytes[1]} << 8) | (std::int64_t{bytes[2]} << 16)
           | (std::int64_t{bytes[3]} << 24);
}

// Whether `size` bytes could be read at `offset`. A tag that cannot be read
// is taken as no tag: the frames are looked for in its place.
bool readExactly(const RegularFile& file, std::uint8_t* buffer, std::size_t size, std::int64_t offset)
{
    std::string error;
    const std::optional<std::size_t> got = file.readAt(buffer, size, offset, error);
    return got && *got == size;
}

// Skips ID3v2 tags, which may follow one another, at the start of the file.
std::int64_t afterId3v2(const RegularFile& file, std::int64_t fileSize)
{
    constexpr std::size_t headerBytes = 10;
    constexpr std::uint8_t hasFooter = 0x10;
    std::int64_t offset = 0;
    std::array<std::uint8_t, headerBytes> header{};
    while (offset + static_cast<std::int64_t>(headerBytes) <= fileSize
           && readExactly(file, header.data(), header.size(), offset) && startsWith(header.data(), "ID3")) {
        // The size is four seven-bit bytes, without the header and footer.
        std::int64_t size = 0;
        for (std::size_t i = 6; i < headerBytes; ++i)
            size = (size << 7) | (header[i] & 0x7F);
        offset += static_cast<std::int64_t>(headerBytes) + size + ((header[5] & hasFooter) ? 10 : 0);
    }
    return std::min(offset, fileSize);
}

// Steps back over an ID3v1 tag, then an APEv2 tag, at the end of the file.
std::int64_t beforeTrailingTags(const RegularFile& file, std::int64_t begin, std::int64_t end)
{
    constexpr std::int64_t id3v1Bytes = 128;
    std::array<std::uint8_t, 3> id3v1{};
    if (end - begin >= id3v1Bytes && readExactly(file, id3v1.data(), id3v1.size(), end - id3v1Bytes)
        && startsWith(id3v1.data(), "TAG"))
        end -= id3v1Bytes;

    // The footer's size covers the items and the footer; a header may come
    // before them.
    constexpr std::int64_t apeFooterBytes = 32;
    constexpr std::uint8_t hasHeader = 0x80;
    std::array<std::uint8_t, apeFooterBytes> ape{};
    if (end - begin >= apeFooterBytes && readExactly(file, ape.data(), ape.size(), end - apeFooterBytes)
        && startsWith(ape.data(), "APETAGEX")) {
        const std::int64_t size = littleEndian32(&ape[12]) + ((ape[23] & hasHeader) ? apeFooterBytes : 0);
        if (size <= end - begin)
            end -= size;
    }
    return end;
}

} // namespace

std::optional<AudioRegion> findAudioRegion(const RegularFile& file)
{
    struct stat info {};
    if (::fstat(file.descriptor(), &info) != 0)
        return std::nullopt;
    const std::int64_t fileSize = info.st_size;
    AudioRegion region;
    region.begin = afterId3v2(file, fileSize);
    region.end = beforeTrailingTags(file, region.begin, fileSize);
    return region;
}
