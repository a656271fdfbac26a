// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "decode/mpg123decoder.h"
#include "filecheck/checkmp3header.h"
#include "harness/testsink.h"
#include "harness/nonregularfiles.h"
#include "harness/tempdir.h"
#include "support/systemmediaplayer.h"
#include "support/testdata.h"
#include "support/wait.h"

using namespace std::chrono_literals;

namespace {

class HeaderCheck : public ::testing::Test {
protected:
    QString write(const std::string& name, const std::string& bytes) const
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return QString::fromStdString(path);
    }

    // An ID3v2 header with the given version, flags and size bytes.
    static std::string id3(int major, int revision, int flags, const std::string& size)
    {
        return std::string("ID3") + char(major) + char(revision) + char(flags) + size;
    }

    TempDir dir;
};

const std::string syncsafe20("\0\0\0\x14", 4);

TEST_F(HeaderCheck, PassesOnlyAFirstByteOfFF)
{
    const std::pair<std::string, TruthWord> cases[] = {
        {"\xFF\xFB\x90\x00", TruthTrue},   // an MPEG-1 Layer III frame
        {"\xFF\xD8\xFF\xE0", TruthTrue},   // a JPEG passes too: only the byte counts
        {"\xFF", TruthTrue},
        {"", TruthFalse},
        {"\xFE\xFB", TruthFalse},
        {"\x7F\xFB", TruthFalse},
        {"RIFF", TruthFalse},
    };
    int n = 0;
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(n);
        EXPECT_EQ(CheckMP3Header(write("case" + std::to_string(n++), bytes)), expected);
    }
    EXPECT_EQ(CheckMP3Header(testFile("cbr44_stereo.mp3")), TruthTrue);
}

TEST_F(HeaderCheck, LooksPastAWellFormedId3v2TagForTheFrame)
{
    const std::string tagBody(20, '\0');
    const std::string footer = "3DI" + std::string(7, '\0');
    const std::pair<std::string, TruthWord> cases[] = {
        {id3(3, 0, 0, syncsafe20) + tagBody + "\xFF\xFB", TruthTrue},
        {id3(2, 0, 0, syncsafe20) + tagBody + "\xFF\xFB", TruthTrue},
        {id3(4, 0, 0x10, syncsafe20) + tagBody + footer + "\xFF\xFB", TruthTrue}, // the footer counts
        {id3(4, 0, 0x10, syncsafe20) + tagBody + "\xFF" + footer, TruthFalse},
        {id3(3, 0, 0, syncsafe20) + tagBody + std::string("\x00\xFF", 2), TruthFalse}, // not a frame after it
        {id3(3, 0, 0, syncsafe20) + tagBody + id3(4, 0, 0, syncsafe20) + tagBody + "\xFF\xFB", TruthTrue}, // tags in a row
        {id3(3, 0, 0, syncsafe20) + tagBody + id3(4, 0, 0, syncsafe20) + tagBody + "ID3", TruthFalse},
        {id3(3, 0, 0, syncsafe20) + std::string(10, '\0'), TruthFalse},          // ends inside the tag
        {id3(5, 0, 0, syncsafe20) + tagBody + "\xFF", TruthFalse},               // unknown version
        {id3(1, 0, 0, syncsafe20) + tagBody + "\xFF", TruthFalse},
        {id3(3, 0xFF, 0, syncsafe20) + tagBody + "\xFF", TruthFalse},
        {id3(3, 0, 0, std::string("\0\0\x80\x14", 4)) + tagBody + "\xFF", TruthFalse}, // not syncsafe
        {id3(3, 0, 0, std::string("\x7F\x7F\x7F\x7F", 4)) + "\xFF", TruthFalse},      // absurd size
        {"ID3\x03", TruthFalse},
        {std::string("IDX\x03\x00\x00\x00\x00\x00\x00\xFF", 11), TruthFalse},
        {"I", TruthFalse},
    };
    int n = 0;
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(n);
        EXPECT_EQ(CheckMP3Header(write("tag" + std::to_string(n++), bytes)), expected);
    }
    EXPECT_EQ(CheckMP3Header(testFile("id3v2.mp3")), TruthTrue);
}

// A header with a size byte of 0x80 or more is no tag to the decoder either:
// it looks for the frames from the start, as libmpg123 does, and counts them
// all instead of skipping a size it made up.
TEST_F(HeaderCheck, AMalformedTagIsNoTagToTheDecoderEither)
{
    std::ifstream in(testFile("vbr44_noheader.mp3").toStdString(), std::ios::binary);
    const std::string audio{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string tagBodyAndAudio = std::string(20, '\0') + audio;
    const std::pair<std::string, TruthWord> cases[] = {
        {id3(3, 0, 0, syncsafe20), TruthTrue},
        {id3(3, 0, 0, std::string("\x81\0\0\0", 4)), TruthFalse}, // would skip the whole file
        {id3(3, 0, 0, std::string("\0\0\x81\0", 4)), TruthFalse}, // would skip the first frame
    };
    int n = 0;
    for (const auto& [header, expected] : cases) {
        SCOPED_TRACE(n);
        const QString path = write("malformed" + std::to_string(n++), header + tagBodyAndAudio);
        EXPECT_EQ(CheckMP3Header(path), expected);
        std::string error;
        const std::unique_ptr<Mpg123Decoder> decoder = Mpg123Decoder::open(path.toStdString(), error);
        ASSERT_TRUE(decoder) << error;
        const std::int64_t length = decoder->lengthFrames();
        std::array<std::int16_t, 8192> samples{};
        std::int64_t decoded = 0;
        for (bool ended = false; !ended;)
            decoded += static_cast<std::int64_t>(decoder->read(samples.data(), samples.size(), ended));
        EXPECT_EQ(length, decoded / decoder->channels());
    }
}

TEST_F(HeaderCheck, FailsWithTheReasonOnWhatItCannotRead)
{
    const NonRegularFiles nonRegular(dir);
    const std::string& fifo = nonRegular.fifo();
    const std::string& socketPath = nonRegular.socket();

    const std::pair<std::string, std::string> cases[] = {
        {dir.path(), "not a regular file"},
        {fifo, "not a regular file"}, // without blocking on the missing writer
        {socketPath, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {dir.file("vanished.mp3"), "No such file or directory"},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        try {
            CheckMP3Header(QString::fromStdString(path));
            ADD_FAILURE() << "no failure";
        } catch (const FileCheckError& e) {
            EXPECT_EQ(std::string(e.what()), reason);
        }
    }
}

TEST(HeaderCheckWhilePlaying, ReadsTheFileTheEngineHasOpen)
{
    const TestSink audio;
    TestSink::useInThisProcess();
    SystemMediaPlayer player;
    player.setFileName(testFile("cbr44_stereo.mp3"));
    ASSERT_TRUE(waitUntil([&] { return player.playState() == 2; }, 5s));
    EXPECT_EQ(CheckMP3Header(testFile("cbr44_stereo.mp3")), TruthTrue);
}

// Some MP3 files, from distributions' packages among others, begin with one
// ID3v2 tag after another: such a file passes, plays, and its title comes
// from its tags.
TEST_F(HeaderCheck, AFileWithTwoTagsInARowPassesPlaysAndIsNamedByItsTags)
{
    std::ifstream in(testFile("id3v2.mp3").toStdString(), std::ios::binary);
    const std::string tagged{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const QString path = write("two-tags.mp3", id3(3, 0, 0, syncsafe20) + std::string(20, '\0') + tagged);
    EXPECT_EQ(CheckMP3Header(path), TruthTrue);

    const TestSink audio;
    TestSink::useInThisProcess();
    SystemMediaPlayer player;
    player.setFileName(path);
    ASSERT_TRUE(waitUntil([&] { return player.currentPosition() >= 0.2; }, 5s));
    EXPECT_NEAR(player.duration(), 2.0, 0.1);
    EXPECT_EQ(player.trackTags().title, QStringLiteral("Test tone"));
}

} // namespace
