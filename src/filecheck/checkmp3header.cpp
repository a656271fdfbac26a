// SPDX-License-Identifier: GPL-3.0-or-later
#include "filecheck/checkmp3header.h"

#include <string>

#include "decode/id3v2tag.h"
#include "platform/nativepath.h"
#include "platform/regularfile.h"

namespace {

constexpr std::uint8_t frameSync = 0xFF;

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

    // Most MP3 files begin with an ID3v2 tag, some with more than one, each
    // following the last: look past them for the frame.
    const std::optional<std::int64_t> tagsEnd = id3v2TagsEnd(*file, error);
    if (!tagsEnd)
        throw FileCheckError(error);
    if (*tagsEnd == 0)
        return TruthFalse;
    const std::uint8_t afterTags = byteAt(*file, *tagsEnd, present);
    return present && afterTags == frameSync ? TruthTrue : TruthFalse;
}
