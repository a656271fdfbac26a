// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "decode/mpg123decoder.h"
#include "harness/process.h"
#include "harness/tempdir.h"
#include "support/testdata.h"
#include "support/cdaudio.h"

using namespace std::chrono_literals;

namespace {

constexpr std::int64_t framesPerMpegFrame = 1152;

std::string dataFile(const char* name)
{
    return testFile(name).toStdString();
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Opened {
    std::unique_ptr<Mpg123Decoder> decoder;
    std::string error;
    double milliseconds = 0.0;
};

Opened openTimed(const std::string& path, std::stop_token cancel = {})
{
    Opened opened;
    const auto start = std::chrono::steady_clock::now();
    opened.decoder = Mpg123Decoder::open(path, opened.error, cancel);
    opened.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return opened;
}

// Sample frames decoded from the current place to the end.
std::int64_t decodeToEnd(Mpg123Decoder& decoder)
{
    std::array<std::int16_t, 8192> samples{};
    std::int64_t total = 0;
    bool ended = false;
    while (!ended)
        total += static_cast<std::int64_t>(decoder.read(samples.data(), samples.size(), ended));
    return total / decoder.channels();
}

std::vector<std::int16_t> firstSamples(Mpg123Decoder& decoder)
{
    std::vector<std::int16_t> samples(8192);
    bool ended = false;
    samples.resize(decoder.read(samples.data(), samples.size(), ended));
    return samples;
}

std::int64_t decodedLength(const std::string& path)
{
    std::string error;
    const std::unique_ptr<Mpg123Decoder> decoder = Mpg123Decoder::open(path, error);
    return decoder ? decodeToEnd(*decoder) : -1;
}

// Runs a tool to its end: a step that must succeed.
void run(const std::string& program, std::vector<std::string> arguments)
{
    ChildProcess::Options options;
    options.arguments = std::move(arguments);
    ChildProcess child(program, options);
    ASSERT_EQ(child.waitForExit(60s), 0) << program;
}

// A headerless MP3 of `seconds` of a sox synth sound, at LAME's -V 2.
std::string encodeVbr(const TempDir& dir, const std::string& name, const std::string& seconds,
                      const std::vector<std::string>& sound)
{
    const std::string wav = dir.file(name + ".wav");
    const std::string mp3 = dir.file(name + ".mp3");
    std::vector<std::string> synth{"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", seconds};
    synth.insert(synth.end(), sound.begin(), sound.end());
    run("/usr/bin/sox", synth);
    run("/usr/bin/lame", {"--quiet", "-V", "2", "-t", wav, mp3});
    return mp3;
}

// A silent 128 kbit/s frame holding a VBRI frame that counts `frames` audio
// frames in `bytes` bytes, itself included.
std::string vbriFrame(std::uint32_t bytes, std::uint32_t frames)
{
    std::string frame(417, '\0');
    frame.replace(0, 4, "\xFF\xFB\x90\x64");
    frame.replace(36, 4, "VBRI");
    frame[41] = 1; // version
    for (int i = 0; i < 4; ++i) {
        frame[46 + static_cast<std::size_t>(i)] = static_cast<char>(bytes >> (24 - 8 * i));
        frame[50 + static_cast<std::size_t>(i)] = static_cast<char>(frames >> (24 - 8 * i));
    }
    return frame;
}

} // namespace

TEST(DecoderTest, LengthOfSmallFilesIsExactWithOrWithoutAHeader)
{
    for (const char* name : {"cbr44_stereo.mp3", "cbr44_noheader.mp3", "vbr44.mp3", "vbr44_noheader.mp3",
                             "mono48.mp3", "id3v2.mp3"}) {
        SCOPED_TRACE(name);
        Opened opened = openTimed(dataFile(name));
        ASSERT_TRUE(opened.decoder) << opened.error;
        const std::int64_t length = opened.decoder->lengthFrames();
        const std::int64_t decoded = decodeToEnd(*opened.decoder);
        std::cout << name << ": opened in " << opened.milliseconds << " ms, length " << length << ", decoded "
                  << decoded << "\n";
        EXPECT_NEAR(length, decoded, framesPerMpegFrame);
    }
}

// Joined copies of a minute-long file with no Info frame, over an hour and a
// half in all: its length comes from the bitrate, the same wherever it is
// looked at. Each joint may leave the padding of frames a byte off the
// steady pattern: a small share of a frame per copy.
TEST(DecoderTest, ALargeHeaderlessConstantBitrateFileOpensAtOnceWithItsExactLength)
{
    const TempDir dir;
    const std::string wav = dir.file("tone.wav");
    const std::string part = dir.file("tone.mp3");
    run("/usr/bin/sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "sine", "440"});
    run("/usr/bin/lame", {"--quiet", "-b", "128", "-t", wav, part});
    const std::string bytes = contents(part);
    const std::string joined = dir.file("joined.mp3");
    constexpr int copies = 100;
    {
        std::ofstream out(joined, std::ios::binary);
        for (int i = 0; i < copies; ++i)
            out << bytes;
    }
    const std::int64_t expected = decodedLength(part) * copies;

    Opened opened = openTimed(joined);
    ASSERT_TRUE(opened.decoder) << opened.error;
    std::cout << "large CBR: opened in " << opened.milliseconds << " ms, length error "
              << opened.decoder->lengthFrames() - expected << " frames of " << expected << "\n";
    EXPECT_LT(opened.milliseconds, 100.0);
    EXPECT_NEAR(opened.decoder->lengthFrames(), expected, framesPerMpegFrame);

    // Near the end at once, without reading the frames on the way.
    const std::int64_t left = 10 * cdRate;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(opened.decoder->seekToFrame(expected - left));
    const double seekMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::int64_t decoded = decodeToEnd(*opened.decoder);
    std::cout << "large CBR: seek in " << seekMs << " ms, landed " << left - decoded << " frames off\n";
    EXPECT_LT(seekMs, 100.0);
    EXPECT_NEAR(decoded, left, expected / 100);

    // Then back to the start, where the samples are those of a fresh open.
    ASSERT_TRUE(opened.decoder->seekToFrame(0));
    Opened fresh = openTimed(joined);
    ASSERT_TRUE(fresh.decoder);
    EXPECT_EQ(firstSamples(*opened.decoder), firstSamples(*fresh.decoder));
}

// Each part keeps its ID3v2 tag, as with cover art: the bytes are not all
// frames, so the size alone, a third too long here, does not give the
// length. The frames per byte jump between none and many, which a sample
// tells to a few percent.
TEST(DecoderTest, FilesJoinedWithTheirTagsAreMeasuredWithinAFewPercent)
{
    const TempDir dir;
    const std::string part = dataFile("cbr44_noheader.mp3");
    constexpr std::uint32_t tagBytes = 20000;
    std::string tag = "ID3\x03";
    tag += '\0';
    tag += '\0';
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += static_cast<char>((tagBytes >> shift) & 0x7F);
    tag.append(tagBytes, '\0');
    const std::string bytes = contents(part);
    const std::string joined = dir.file("joined.mp3");
    constexpr int copies = 200;
    {
        std::ofstream out(joined, std::ios::binary);
        for (int i = 0; i < copies; ++i)
            out << tag << bytes;
    }
    const std::int64_t expected = decodedLength(part) * copies;

    Opened opened = openTimed(joined);
    ASSERT_TRUE(opened.decoder) << opened.error;
    const double error = static_cast<double>(opened.decoder->lengthFrames() - expected) / static_cast<double>(expected);
    std::cout << "joined tagged CBR: length error " << error * 100 << " %\n";
    EXPECT_LT(std::abs(error), 0.05);
}

// Loud noise between two stretches of a quiet tone: the first frames'
// bitrate says nothing of the rest.
TEST(DecoderTest, ALargeHeaderlessVariableBitrateFileOpensAtOnceWithItsLengthWithinOnePercent)
{
    const TempDir dir;
    const std::string tone = encodeVbr(dir, "tone", "3", {"sine", "440", "gain", "-20"});
    const std::string noise = encodeVbr(dir, "noise", "3", {"whitenoise", "gain", "-3"});
    const std::string toneBytes = contents(tone);
    const std::string noiseBytes = contents(noise);
    const std::string joined = dir.file("joined.mp3");
    constexpr int toneCopies = 150;
    constexpr int noiseCopies = 250;
    {
        std::ofstream out(joined, std::ios::binary);
        for (int i = 0; i < toneCopies / 2; ++i)
            out << toneBytes;
        for (int i = 0; i < noiseCopies; ++i)
            out << noiseBytes;
        for (int i = 0; i < toneCopies / 2; ++i)
            out << toneBytes;
    }
    const std::int64_t expected = decodedLength(tone) * toneCopies + decodedLength(noise) * noiseCopies;

    Opened opened = openTimed(joined);
    ASSERT_TRUE(opened.decoder) << opened.error;
    const double error = static_cast<double>(opened.decoder->lengthFrames() - expected) / static_cast<double>(expected);
    std::cout << "large VBR: opened in " << opened.milliseconds << " ms, length error " << error * 100 << " %\n";
    EXPECT_LT(opened.milliseconds, 100.0);
    EXPECT_LT(std::abs(error), 0.01);

    const std::int64_t left = 10 * cdRate;
    ASSERT_TRUE(opened.decoder->seekToFrame(opened.decoder->lengthFrames() - left));
    const std::int64_t decoded = decodeToEnd(*opened.decoder);
    std::cout << "large VBR: seek landed " << left - decoded << " frames off, "
              << static_cast<double>(left - decoded) * 100.0 / static_cast<double>(expected) << " % of the length\n";
    EXPECT_NEAR(decoded, left, expected / 100);

    // The same with a VBRI frame in front: its count makes the length exact.
    const std::string withVbri = dir.file("vbri.mp3");
    {
        const std::string audio = contents(joined);
        std::ofstream out(withVbri, std::ios::binary);
        out << vbriFrame(static_cast<std::uint32_t>(audio.size() + 417),
                         static_cast<std::uint32_t>(expected / framesPerMpegFrame))
            << audio;
    }
    opened = openTimed(withVbri);
    ASSERT_TRUE(opened.decoder) << opened.error;
    EXPECT_NEAR(opened.decoder->lengthFrames(), expected, framesPerMpegFrame);
}

// Each part keeps its Info frame, which counts that part alone.
TEST(DecoderTest, FilesJoinedWithTheirInfoFramesAreMeasuredWhole)
{
    const TempDir dir;
    const std::string part = contents(dataFile("cbr44_stereo.mp3"));
    const std::string joined = dir.file("joined.mp3");
    std::ofstream(joined, std::ios::binary) << part << part << part;
    Opened opened = openTimed(joined);
    ASSERT_TRUE(opened.decoder) << opened.error;
    const std::int64_t length = opened.decoder->lengthFrames();
    const std::int64_t decoded = decodeToEnd(*opened.decoder);
    EXPECT_NEAR(length, decoded, decoded / 100);
}

// A quiet minute and a half, then a loud one, at 22 kHz: the first half of
// the time takes far fewer bytes than the second.
TEST(DecoderTest, AFarSeekInAFileWithAXingFrameLandsByItsTableOfContents)
{
    const TempDir dir;
    const std::string quiet = dir.file("quiet.wav");
    const std::string loud = dir.file("loud.wav");
    const std::string both = dir.file("both.wav");
    const std::string mp3 = dir.file("both.mp3");
    run("/usr/bin/sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", quiet, "synth", "90", "sine", "440", "gain", "-30"});
    run("/usr/bin/sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", loud, "synth", "90", "whitenoise", "gain", "-3"});
    run("/usr/bin/sox", {quiet, loud, both});
    run("/usr/bin/lame", {"--quiet", "-V", "2", both, mp3});

    Opened opened = openTimed(mp3);
    ASSERT_TRUE(opened.decoder) << opened.error;
    const std::int64_t length = opened.decoder->lengthFrames();
    const std::int64_t target = length / 4;
    ASSERT_TRUE(opened.decoder->seekToFrame(target));
    const std::int64_t landed = length - decodeToEnd(*opened.decoder);
    std::cout << "Xing VBR: seek landed " << landed - target << " frames off, "
              << static_cast<double>(landed - target) * 100.0 / static_cast<double>(length) << " % of the length\n";
    EXPECT_NEAR(landed, target, length / 100);
}

TEST(DecoderTest, AOneFrameFileOpensAndDecodesThatFrame)
{
    const TempDir dir;
    const std::string bytes = contents(dataFile("cbr44_noheader.mp3"));
    // 128 kbit/s at 44.1 kHz: 417 bytes, and one more when padded.
    const std::size_t frameBytes = 417 + ((static_cast<unsigned char>(bytes[2]) >> 1) & 1);
    const std::string path = dir.file("click.mp3");
    std::ofstream(path, std::ios::binary) << bytes.substr(0, frameBytes);

    Opened opened = openTimed(path);
    ASSERT_TRUE(opened.decoder) << opened.error;
    EXPECT_EQ(opened.decoder->rate(), cdRate);
    EXPECT_EQ(opened.decoder->channels(), 2);
    EXPECT_EQ(opened.decoder->lengthFrames(), framesPerMpegFrame);
    EXPECT_EQ(decodeToEnd(*opened.decoder), framesPerMpegFrame);
}

TEST(DecoderTest, AFileWithoutFramesIsRefusedForThat)
{
    const TempDir dir;
    const std::string empty = dir.file("empty.mp3");
    std::ofstream{empty};
    for (const std::string& path : {dataFile("not_mpeg.mp3"), empty}) {
        SCOPED_TRACE(path);
        Opened opened = openTimed(path);
        EXPECT_FALSE(opened.decoder);
        EXPECT_EQ(opened.error, "not MPEG audio (it holds no MPEG audio frames)");
    }
}

TEST(DecoderTest, ACancelledOpenGivesUpAtOnce)
{
    std::stop_source stop;
    stop.request_stop();
    Opened opened = openTimed(dataFile("cbr44_stereo.mp3"), stop.get_token());
    EXPECT_FALSE(opened.decoder);
    EXPECT_EQ(opened.error, "cancelled");
}
