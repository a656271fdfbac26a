// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris/trackmetadata.h"

#include <cmath>
#include <string>

#include <QByteArray>
#include <QDBusObjectPath>
#include <QStringList>

#include "platform/nativepath.h"

QString fileUrl(const QString& path)
{
    const std::string bytes = nativeFromPath(path);
    const QByteArray encoded =
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toPercentEncoding(QByteArrayLiteral("/"));
    return QStringLiteral("file://") + QString::fromLatin1(encoded);
}

QVariantMap trackMetadata(const Track& track)
{
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/merlow/Merlow/Track/%1").arg(track.number))));
    const double length = std::isfinite(track.lengthSeconds) && track.lengthSeconds > 0.0 ? track.lengthSeconds : 0.0;
    metadata.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(std::llround(length * 1e6)));
    metadata.insert(QStringLiteral("xesam:url"), fileUrl(track.path));
    metadata.insert(QStringLiteral("xesam:title"), trackTitle(track.tags, track.path));
    if (!track.tags.artist.isEmpty())
        metadata.insert(QStringLiteral("xesam:artist"), QStringList{track.tags.artist});
    return metadata;
}
