// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/id3v2tag.h"

#include <array>
#include <span>

#include "decode/bytereaders.h"
#include "decode/decodelog.h"

namespace {

constexpr std::size_t headerBytes = 10;
constexpr std::int64_t footerBytes = 10;
constexpr std::uint8_t hasFooter = 0x10;

// The bytes of the tag whose header `header` holds, or nothing when it is not
// a well-formed one.
std::optional<std::int64_t> tagBytes(std::span<const std::uint8_t> header, std::int64_t offset)
{
    if (header.size() < headerBytes || !tagAt(header, 0, "ID3"))
        return std::nullopt;
    const std::uint8_t major = header[3];
    const std::uint8_t revision = header[4];
    if (major < 2 || major > 4 || revision == 0xFF) {
        qCDebug(decodeLog) << "the bytes at" << offset << "are no ID3v2 tag: its version" << int{major} << int{revision}
                           << "is unknown";
        return std::nullopt;
    }
    // The size leaves out the header and the footer.
    const std::optional<std::uint32_t> size = synchsafe28(header, 6);
    if (!size) {
        qCDebug(decodeLog) << "the bytes at" << offset << "are no ID3v2 tag: a size byte has its top bit set";
        return std::nullopt;
    }
    return static_cast<std::int64_t>(headerBytes) + *size + ((header[5] & hasFooter) != 0 ? footerBytes : 0);
}

} // namespace

std::optional<std::int64_t> id3v2TagBytesAt(const RegularFile& file, std::int64_t offset, std::string& error)
{
    std::array<std::uint8_t, headerBytes> header{};
    const std::optional<std::size_t> got = file.readAt(header.data(), header.size(), offset, error);
    if (!got)
        return std::nullopt;
    return tagBytes(std::span(header).first(*got), offset).value_or(0);
}

std::optional<std::int64_t> id3v2TagsEnd(const RegularFile& file, std::string& error)
{
    std::int64_t end = 0;
    for (;;) {
        const std::optional<std::int64_t> tag = id3v2TagBytesAt(file, end, error);
        if (!tag)
            return std::nullopt;
        if (*tag == 0)
            return end;
        end += *tag;
    }
}
