// SPDX-License-Identifier: GPL-3.0-or-later
#include <random>

#include <gtest/gtest.h>

#include "platform/nativepath.h"

namespace {

TEST(NativePath, EveryNameSurvivesTheRoundTrip)
{
    const std::string names[] = {
        "/music/plain.mp3",
        "/music/caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5.mp3", // 2-, 3- and 4-byte characters
        "/music/\xFF\xFE latin-1 \xE9.mp3",
        "/music/cut \xE2\x82",                 // a sequence the name ends inside
        "/music/\xC0\xAF overlong",            // an overlong '/'
        "/music/\xED\xA0\x80 surrogate",       // a surrogate encoded as UTF-8
        "/music/\xF4\x90\x80\x80 past max",    // past U+10FFFF
        "/music/\xF0\x90\x82\x80 U+10080",     // a real pair whose low half looks like an escape
        "/music/\xF0\x90\x82\x80\x80",         // ... followed by a stray byte
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(nativeFromPath(pathFromNative(name)), name);
    }

    std::mt19937 random(11);
    for (int i = 0; i < 2000; ++i) {
        std::string name(static_cast<std::size_t>(random() % 12), '\0');
        for (char& c : name)
            c = static_cast<char>(0x70 + random() % 0x90); // mostly bytes >= 0x80
        ASSERT_EQ(nativeFromPath(pathFromNative(name)), name);
    }
}

TEST(NativePath, UnicodeNamesReadAsTheirText)
{
    const std::string name = "/music/caf\xC3\xA9 \xF0\x90\x82\x80.mp3";
    EXPECT_EQ(pathFromNative(name), QString::fromUtf8(name));
    EXPECT_EQ(nativeFromPath(QStringLiteral("/music/\u00e9t\u00e9.mp3")), "/music/\xC3\xA9t\xC3\xA9.mp3");

    const QString escaped = pathFromNative("/a\xFF" "b");
    EXPECT_EQ(escaped, QStringLiteral("/a") + QChar(0xDCFF) + QStringLiteral("b"));
}

} // namespace
