// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariantMap>

#include "decode/tracktags.h"

// The file the engine has open, as the desktop is told of it.
struct Track {
    // Counts the files opened, so that each opening has its own id.
    quint64 number = 0;
    QString path;
    double lengthSeconds = 0.0;
    TrackTags tags;
};

// A file URL for `path` that keeps every byte of its name, UTF-8 or not:
// anything but letters, digits, "-._~" and "/" is percent-encoded.
QString fileUrl(const QString& path);

// The track's metadata map: its id, length, URL, title (the file's name when
// it has no tag) and artist (when it has one).
QVariantMap trackMetadata(const Track& track);
