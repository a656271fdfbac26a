#include <filesystem>

#include <gtest/gtest.h>

#include "harness/nonregularfiles.h"
#include "harness/tempdir.h"
#include "decode/tracktags.h"
#include "platform/nativepath.h"
#include "support/testdata.h"

namespace {

TEST(TrackTags, TitleAndArtistComeFromEitherTagVersion)
{
    const struct {
        const char* file;
        const char* title;
        const char* artist;
    } files[] = {
        {"id3v2.mp3", "Test tone", "Merlow"},       // before the audio
        {"id3v1.mp3", "Tone at the end", "Merlow"}, // in the last 128 bytes
        {"cbr44_stereo.mp3", "", ""},               // none
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const TrackTags tags = readTrackTags(testFile(f.file));
        EXPECT_EQ(tags.title, QString::fromUtf8(f.title));
        EXPECT_EQ(tags.artist, QString::fromUtf8(f.artist));
    }
}

TEST(TrackTags, AFileWhoseNameIsNotUtf8IsRead)
{
    const TempDir dir;
    const std::string name = dir.file("\xFF tagged \xE9.mp3");
    std::filesystem::copy_file(testFile("id3v2.mp3").toStdString(), name);
    EXPECT_EQ(readTrackTags(pathFromNative(name)).title, QStringLiteral("Test tone"));
}

TEST(TrackTags, WhatCannotBeReadHasNoTagsAndIsNotWaitedOn)
{
    const TempDir dir;
    const NonRegularFiles nonRegular(dir);
    // A FIFO with no writer would block an open for reading for ever.
    for (const std::string& path : {nonRegular.fifo(), nonRegular.socket(), dir.path(), dir.file("gone.mp3"),
                                    testFile("not_mpeg.mp3").toStdString()}) {
        SCOPED_TRACE(path);
        const TrackTags tags = readTrackTags(pathFromNative(path));
        EXPECT_TRUE(tags.title.isEmpty());
        EXPECT_TRUE(tags.artist.isEmpty());
    }
}

} // namespace
