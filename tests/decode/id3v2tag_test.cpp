// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "decode/id3v2tag.h"
#include "harness/tempdir.h"
#include "platform/regularfile.h"

namespace {

// An ID3v2 header with the given version, flags and size bytes.
std::string header(int major, int revision, int flags, const std::string& size)
{
    return std::string("ID3") + char(major) + char(revision) + char(flags) + size;
}

// A well-formed version 3 tag of `body` bytes, all zero.
std::string tag(std::size_t body)
{
    std::string size;
    for (int shift = 21; shift >= 0; shift -= 7)
        size += static_cast<char>((body >> shift) & 0x7F);
    return header(3, 0, 0, size) + std::string(body, '\0');
}

const std::string size20("\0\0\0\x14", 4);
const std::string frame("\xFF\xFB\x90\x64", 4);

class Id3v2Tag : public ::testing::Test {
protected:
    RegularFile write(const std::string& bytes)
    {
        const std::string path = dir.file("file" + std::to_string(files_++));
        std::ofstream(path, std::ios::binary) << bytes;
        std::string error;
        std::optional<RegularFile> file = RegularFile::open(path, error);
        EXPECT_TRUE(file) << error;
        return std::move(file).value();
    }

    std::int64_t tagBytesAt(const std::string& bytes, std::int64_t offset = 0)
    {
        std::string error;
        const std::optional<std::int64_t> size = id3v2TagBytesAt(write(bytes), offset, error);
        EXPECT_TRUE(size) << error;
        return size.value_or(-1);
    }

    std::int64_t tagsEnd(const std::string& bytes)
    {
        std::string error;
        const std::optional<std::int64_t> end = id3v2TagsEnd(write(bytes), error);
        EXPECT_TRUE(end) << error;
        return end.value_or(-1);
    }

    TempDir dir;
    int files_ = 0;
};

TEST_F(Id3v2Tag, AWellFormedHeaderGivesTheWholeTagAndAnyOtherNone)
{
    const std::string body(20, '\0');
    const std::pair<std::string, std::int64_t> cases[] = {
        {header(2, 0, 0, size20) + body + frame, 30},
        {header(3, 1, 0, size20) + body + frame, 30},
        {header(4, 0, 0x10, size20) + body + frame, 40}, // with a footer
        {header(3, 0, 0, std::string("\x7F\x7F\x7F\x7F", 4)), 10 + 0x0FFFFFFF}, // as large as it can be
        {header(1, 0, 0, size20) + body + frame, 0}, // unknown versions
        {header(5, 0, 0, size20) + body + frame, 0},
        {header(0xFF, 0, 0, size20) + body + frame, 0},
        {header(3, 0xFF, 0, size20) + body + frame, 0},
        {header(3, 0, 0, std::string("\x80\0\0\x14", 4)) + body + frame, 0}, // a size byte of 0x80 or more
        {header(3, 0, 0, std::string("\0\x81\0\x14", 4)) + body + frame, 0},
        {header(3, 0, 0, std::string("\0\0\xFF\x14", 4)) + body + frame, 0},
        {header(3, 0, 0, std::string("\0\0\0\x94", 4)) + body + frame, 0},
        {header(3, 0, 0, size20).substr(0, 9), 0}, // cut short
        {"ID2" + header(3, 0, 0, size20).substr(3), 0},
        {frame, 0},
        {"", 0},
    };
    int n = 0;
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(n++);
        EXPECT_EQ(tagBytesAt(bytes), expected);
    }
    EXPECT_EQ(tagBytesAt(frame + tag(5), 4), 15);
}

TEST_F(Id3v2Tag, TagsThatFollowOneAnotherEndTogether)
{
    EXPECT_EQ(tagsEnd(frame + tag(20)), 0);
    EXPECT_EQ(tagsEnd(tag(20) + frame), 30);
    EXPECT_EQ(tagsEnd(tag(20) + header(4, 0, 0x10, size20) + std::string(30, '\0') + tag(0) + frame), 30 + 40 + 10);
    // A malformed header ends them: it is no tag.
    EXPECT_EQ(tagsEnd(tag(20) + header(3, 0, 0, std::string("\0\0\x80\x14", 4)) + tag(20) + frame), 30);
    // The last tag's size is believed past the end of the file.
    EXPECT_EQ(tagsEnd(tag(20) + header(3, 0, 0, std::string("\0\0\x01\0", 4))), 30 + 10 + 128);
}

} // namespace
