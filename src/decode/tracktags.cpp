// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/tracktags.h"

#include <cstring>
#include <optional>
#include <string>

#include <mpg123.h>

#include "decode/decodelog.h"
#include "decode/filestream.h"
#include "decode/id3v2tag.h"
#include "decode/mpg123handle.h"
#include "platform/nativepath.h"
#include "platform/regularfile.h"

namespace {

QString fromId3v2(const mpg123_string* text)
{
    if (text == nullptr || text->p == nullptr || text->fill == 0)
        return {};
    // libmpg123 hands over UTF-8, its count including the closing zero.
    return QString::fromUtf8(text->p, static_cast<qsizetype>(strnlen(text->p, text->fill))).trimmed();
}

// Version 1 fields are 30 bytes of Latin-1, padded with zeros or blanks.
QString fromId3v1(const char (&field)[30])
{
    return QString::fromLatin1(field, static_cast<qsizetype>(strnlen(field, sizeof field))).trimmed();
}

} // namespace

QString displayName(const QString& path)
{
    const std::string bytes = nativeFromPath(path);
    const std::string::size_type slash = bytes.rfind('/');
    const std::string name = slash == std::string::npos ? bytes : bytes.substr(slash + 1);
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QString trackTitle(const TrackTags& tags, const QString& path)
{
    return tags.title.isEmpty() ? displayName(path) : tags.title;
}

TrackTags readTrackTags(const QString& path, const std::stop_token& cancel)
{
    std::string error;
    std::optional<RegularFile> file = RegularFile::open(nativeFromPath(path), error);
    if (!file) {
        qCDebug(decodeLog) << "no tags read from" << path << "because" << error.c_str();
        return {};
    }
    file->cancelReadsOn(cancel);
    // libmpg123 reads through it, in large blocks. Made before the handle, so
    // the handle is closed first.
    FileStream stream(*file, 0);
    // libmpg123 is asked for a version 2 tag only where the one rule for
    // them finds one at the start, as the audio region and the drop's check
    // do; a header it refuses leaves only a version 1 tag to read.
    const std::optional<std::int64_t> id3v2Bytes = id3v2TagBytesAt(*file, 0, error);
    const Mpg123Handle handle = makeMpg123Handle(0, error);
    if (!id3v2Bytes || !handle) {
        qCDebug(decodeLog) << "no tags read from" << path << "because" << error.c_str();
        return {};
    }
    // Opening looks at the end of the file for a version 1 tag; reading the
    // format reads up to the first frame, past a version 2 tag. Whether a
    // format is found does not matter: the tag has been read on the way.
    if (!stream.openIn(handle.get(), error)) {
        qCDebug(decodeLog) << "no tags read from" << path << "because" << error.c_str();
        return {};
    }
    if (*id3v2Bytes > 0) {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        mpg123_getformat(handle.get(), &rate, &channels, &encoding);
    }
    if (cancel.stop_requested())
        return {};

    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if ((mpg123_meta_check(handle.get()) & MPG123_ID3) == 0 || mpg123_id3(handle.get(), &v1, &v2) != MPG123_OK)
        return {};
    TrackTags tags;
    if (v2 != nullptr) {
        tags.title = fromId3v2(v2->title);
        tags.artist = fromId3v2(v2->artist);
    }
    if (v1 != nullptr) {
        if (tags.title.isEmpty())
            tags.title = fromId3v1(v1->title);
        if (tags.artist.isEmpty())
            tags.artist = fromId3v1(v1->artist);
    }
    return tags;
}
