// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <optional>
#include <string>

#include <QImage>
#include <gtest/gtest.h>

#include "harness/player.h"
#include "harness/x11window.h"

using namespace std::chrono_literals;

namespace {

// The control table's rectangles in pixels at 96 dpi (twips / 15).
struct Box {
    int left;
    int top;
    int width;
    int height;

    Box scaled(int s) const { return {left * s, top * s, width * s, height * s}; }
    int right() const { return left + width - 1; }
    int bottom() const { return top + height - 1; }
};

struct FramedControl {
    const char* name;
    Box box;
};

constexpr FramedControl framedControls[] = {
    {"play", {0, 0, 73, 33}},   {"pause", {80, 0, 73, 33}},      {"stop", {160, 0, 73, 33}},
    {"load", {240, 0, 73, 33}}, {"path box", {0, 40, 393, 19}}, {"progress bar", {0, 64, 393, 17}},
};
constexpr Box label{312, 0, 81, 41};

// A frame line is clearly darker than the pixels beside it, inside and out.
constexpr int frameContrast = 20;

struct Line {
    bool horizontal; // a row of the frame (top, bottom) or a column (left, right)
    int at;          // its first row or column
    int inward;      // +1 or -1: where the control's inside lies
    int across;      // the column (for a row) or row (for a column) sampled
};

// Checks that the `thickness` rows or columns from `line.at` inward are frame
// and that the pixels just inside and just outside are not.
::testing::AssertionResult isFrameLine(const X11Connection::Image& image, const Line& line, int thickness)
{
    const auto pixel = [&](int along) {
        return line.horizontal ? luminance(image.at(line.across, along)) : luminance(image.at(along, line.across));
    };
    const int extent = line.horizontal ? image.height : image.width;
    const int inside = pixel(line.at + line.inward * thickness);
    const int outsideAt = line.at - line.inward;
    const int outside = outsideAt >= 0 && outsideAt < extent ? pixel(outsideAt) : 255;
    for (int i = 0; i < thickness; ++i) {
        const int frame = pixel(line.at + line.inward * i);
        if (frame + frameContrast > inside || frame + frameContrast > outside) {
            return ::testing::AssertionFailure() << (line.horizontal ? "row " : "column ") << line.at + line.inward * i
                                                 << " at " << line.across << ": " << frame << " is not darker than "
                                                 << inside << " inside and " << outside << " outside";
        }
    }
    return ::testing::AssertionSuccess();
}

// The box around the text-dark pixels (the label's black text) in `area`.
std::optional<Box> textBounds(const X11Connection::Image& image, const Box& area)
{
    int left = area.right() + 1;
    int top = area.bottom() + 1;
    int right = area.left - 1;
    int bottom = area.top - 1;
    for (int y = area.top; y <= area.bottom(); ++y) {
        for (int x = area.left; x <= area.right(); ++x) {
            if (luminance(image.at(x, y)) < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < left)
        return std::nullopt;
    return Box{left, top, right - left + 1, bottom - top + 1};
}

bool savePng(const X11Connection::Image& image, const std::string& path)
{
    QImage png(image.width, image.height, QImage::Format_RGB32);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x)
            png.setPixel(x, y, image.at(x, y));
    }
    return png.save(QString::fromStdString(path));
}

// The real window at the scale a HiDPI desktop sets: every control sits where
// the table puts it, in device pixels.
class ScaledWindow : public ::testing::TestWithParam<int> {};

TEST_P(ScaledWindow, DrawsEveryControlWhereTheTablePutsIt)
{
    const int scale = GetParam();
    const VirtualDisplay display;
    const TestSink audio;
    const std::string log = artifact("scaled-merlow-stderr.txt");
    PlayerLaunch launch;
    launch.environment = {{"QT_SCALE_FACTOR", std::to_string(scale)}};
    const auto merlow = startPlayer(display, audio, log, launch);

    X11Connection x11(display.name());
    const auto window = x11.findWindow(playerCaption, 30s);
    ASSERT_TRUE(window.has_value()) << describePlayer(*merlow, log);
    ASSERT_EQ(x11.clientSize(*window).width, 394 * scale);
    ASSERT_EQ(x11.clientSize(*window).height, 82 * scale);

    // Everything is drawn in one paint; the label's text on the painted
    // background (a window not yet drawn is black) shows it happened.
    const Box labelBox = label.scaled(scale);
    const auto drawn = [&](const X11Connection::Image& image) {
        return !image.pixels.empty() && luminance(image.at(labelBox.left, labelBox.top)) >= 128
               && textBounds(image, labelBox);
    };
    X11Connection::Image image;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    do {
        image = x11.grab(*window);
    } while (!drawn(image) && std::chrono::steady_clock::now() < deadline);
    ASSERT_FALSE(image.pixels.empty());
    EXPECT_TRUE(savePng(image, artifact("window-" + std::to_string(scale) + "x.png")));

    for (const auto& [name, unscaled] : framedControls) {
        SCOPED_TRACE(name);
        const Box box = unscaled.scaled(scale);
        const int midX = box.left + box.width / 2;
        const int midY = box.top + box.height / 2;
        EXPECT_TRUE(isFrameLine(image, {true, box.top, +1, midX}, scale));
        EXPECT_TRUE(isFrameLine(image, {true, box.bottom(), -1, midX}, scale));
        EXPECT_TRUE(isFrameLine(image, {false, box.left, +1, midY}, scale));
        EXPECT_TRUE(isFrameLine(image, {false, box.right(), -1, midY}, scale));
    }

    // The label's text is centred in its box and drawn at the scale too.
    const auto text = textBounds(image, labelBox);
    ASSERT_TRUE(text.has_value());
    EXPECT_NEAR(2 * text->left + text->width, 2 * labelBox.left + labelBox.width, 4 * scale);
    EXPECT_NEAR(2 * text->top + text->height, 2 * labelBox.top + labelBox.height, 6 * scale);
    EXPECT_GE(text->width, 50 * scale);
    EXPECT_GE(text->height, 20 * scale);

    x11.requestClose(*window);
    EXPECT_EQ(merlow->waitForExit(2s), 0);
}

INSTANTIATE_TEST_SUITE_P(Scales, ScaledWindow, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "x"; });

} // namespace
