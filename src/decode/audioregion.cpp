// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/audioregion.h"

#include <algorithm>
#include <array>
#include <string>

#include "decode/bytereaders.h"
#include "decode/decodelog.h"
#include "decode/id3v2tag.h"

namespace {

// Whether `bytes.size()` bytes could be read at `offset`. A tag that cannot
// be read is taken as no tag: the frames are looked for in its place.
bool readExactly(const RegularFile& file, std::span<std::uint8_t> bytes, std::int64_t offset)
{
    std::string error;
    const std::optional<std::size_t> got = file.readAt(bytes.data(), bytes.size(), offset, error);
    if (!got)
        qCDebug(decodeLog) << "reading a tag at byte" << offset << "failed:" << error.c_str();
    return got && *got == bytes.size();
}

// Skips ID3v2 tags, which may follow one another, at the start of the file.
std::int64_t afterId3v2(const RegularFile& file, std::int64_t fileSize)
{
    std::string error;
    const std::optional<std::int64_t> end = id3v2TagsEnd(file, error);
    if (!end) {
        qCDebug(decodeLog) << "reading the ID3v2 tags failed:" << error.c_str()
                           << "- the frames are looked for from the start";
        return 0;
    }
    if (*end > 0)
        qCDebug(decodeLog) << "ID3v2 tags end at byte" << *end << "of" << fileSize;
    return std::min(*end, fileSize);
}

// Steps back over an ID3v1 tag, then an APEv2 tag, at the end of the file.
std::int64_t beforeTrailingTags(const RegularFile& file, std::int64_t begin, std::int64_t end)
{
    constexpr std::int64_t id3v1Bytes = 128;
    std::array<std::uint8_t, 3> id3v1{};
    if (end - begin >= id3v1Bytes && readExactly(file, id3v1, end - id3v1Bytes) && tagAt(id3v1, 0, "TAG")) {
        qCDebug(decodeLog) << "an ID3v1 tag ends the file";
        end -= id3v1Bytes;
    }

    // The footer's size covers the items and the footer; a header may come
    // before them.
    constexpr std::int64_t apeFooterBytes = 32;
    constexpr std::uint8_t hasHeader = 0x80;
    std::array<std::uint8_t, apeFooterBytes> ape{};
    if (end - begin >= apeFooterBytes && readExactly(file, ape, end - apeFooterBytes) && tagAt(ape, 0, "APETAGEX")) {
        const std::int64_t size = littleEndian32(ape, 12) + ((ape[23] & hasHeader) ? apeFooterBytes : 0);
        if (size <= end - begin) {
            qCDebug(decodeLog) << "an APEv2 tag of" << size << "bytes ends at byte" << end;
            end -= size;
        } else {
            qCDebug(decodeLog) << "an APEv2 footer gives" << size << "bytes, more than the audio's: not skipped";
        }
    }
    return end;
}

} // namespace

std::optional<AudioRegion> findAudioRegion(const RegularFile& file, std::string& error)
{
    const std::optional<std::int64_t> fileSize = file.size(error);
    if (!fileSize)
        return std::nullopt;
    AudioRegion region;
    region.begin = afterId3v2(file, *fileSize);
    region.end = beforeTrailingTags(file, region.begin, *fileSize);
    return region;
}
