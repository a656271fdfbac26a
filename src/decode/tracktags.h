// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stop_token>

#include <QString>

// The title and artist an MP3 file's ID3 tags give, empty where it gives none.
struct TrackTags {
    QString title;
    QString artist;
};

// Reads them with libmpg123: an ID3v2 tag, where the file starts with one by
// the rule of decode/id3v2tag.h, is preferred to an ID3v1 tag. Only
// the file's head and its last 128 bytes are read, and a path that is not a
// regular file is not waited on. A file that cannot be read has no tags,
// and so has one whose reading was stopped by `cancel`: no read begins
// once it is requested.
TrackTags readTrackTags(const QString& path, const std::stop_token& cancel = {});

// The last part of the path, as a person reads it: bytes that are not UTF-8
// read as U+FFFD.
QString displayName(const QString& path);
// What to call the file: the title its tags give, or its name.
QString trackTitle(const TrackTags& tags, const QString& path);
