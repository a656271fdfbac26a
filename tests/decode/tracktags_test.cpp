// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

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

// A version 2 tag is read where the file starts with tags by the rule the
// audio region and the drop's check follow too: behind a header of an
// unknown version, which libmpg123 would skip by its size, there are none.
TEST(TrackTags, AVersion2TagIsReadOnlyBehindTagsOfTheOneRule)
{
    const TempDir dir;
    std::ifstream in(testFile("id3v2.mp3").toStdString(), std::ios::binary);
    const std::string tagged{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string emptyTag("ID3\x03\0\0\0\0\0\x14", 10);
    const std::pair<std::string, const char*> cases[] = {
        {emptyTag + std::string(20, '\0') + tagged, "Test tone"},
        {std::string("ID3\x05\0\0\0\0\0\x14", 10) + std::string(20, '\0') + tagged, ""},
    };
    int n = 0;
    for (const auto& [bytes, title] : cases) {
        SCOPED_TRACE(n);
        const std::string path = dir.file("tagged" + std::to_string(n++) + ".mp3");
        std::ofstream(path, std::ios::binary) << bytes;
        EXPECT_EQ(readTrackTags(pathFromNative(path)).title, QString::fromUtf8(title));
    }
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
