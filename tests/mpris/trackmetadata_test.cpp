// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDBusObjectPath>
#include <QStringList>
#include <gtest/gtest.h>

#include "mpris/trackmetadata.h"
#include "platform/nativepath.h"

namespace {

TEST(FileUrl, KeepsEveryByteOfTheNameInAsciiText)
{
    const std::string names[] = {
        "/music/plain.mp3",
        "/music/a b%20#?&;=+,'\"[]@.mp3", // what a URL would read as its own
        "/music/caf\xC3\xA9 \xE2\x99\xAA.mp3",  // UTF-8
        "/music/\xFF\xFE latin-1 \xE9.mp3",    // not UTF-8
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const QString url = fileUrl(pathFromNative(name));
        ASSERT_TRUE(url.startsWith(QStringLiteral("file:///"))) << url.toStdString();
        const QByteArray text = url.toLatin1();
        EXPECT_EQ(QString::fromLatin1(text), url) << "not ASCII";
        for (const char c : text)
            EXPECT_TRUE(c > ' ' && c < 0x7F) << url.toStdString();
        EXPECT_EQ(QByteArray::fromPercentEncoding(text.mid(7)).toStdString(), name);
    }
    EXPECT_EQ(fileUrl(QStringLiteral("/music/a b.mp3")), QStringLiteral("file:///music/a%20b.mp3"));
}

TEST(TrackMetadata, TagsWhereThereAreSomeAndTheFilesNameWhereNot)
{
    Track track;
    track.number = 7;
    track.path = pathFromNative("/music/\xFF odd.mp3");
    track.lengthSeconds = 2.0000004;
    QVariantMap metadata = trackMetadata(track);
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/merlow/Merlow/Track/7"));
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).userType(), QMetaType::LongLong);
    EXPECT_EQ(metadata.value(QStringLiteral("mpris:length")).toLongLong(), 2000000);
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:url")).toString(), QStringLiteral("file:///music/%FF%20odd.mp3"));
    // Shown, not used as a path: the byte that is not UTF-8 reads as U+FFFD.
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("\uFFFD odd.mp3"));
    EXPECT_FALSE(metadata.contains(QStringLiteral("xesam:artist")));

    track.tags = {QStringLiteral("Title"), QStringLiteral("Artist")};
    metadata = trackMetadata(track);
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Title"));
    EXPECT_EQ(metadata.value(QStringLiteral("xesam:artist")).toStringList(), QStringList{QStringLiteral("Artist")});
}

TEST(TrackMetadata, ALengthThatIsNotANumberReadsAsNone)
{
    Track track;
    for (const double length : {-1.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        track.lengthSeconds = length;
        EXPECT_EQ(trackMetadata(track).value(QStringLiteral("mpris:length")).toLongLong(), 0) << length;
    }
}

} // namespace
