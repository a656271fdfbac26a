// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <limits>

#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include "support/paintcounter.h"
#include "window/progressbar.h"

namespace {

TEST(ProgressBar, DrawsAnyRangeAndValueSanely)
{
    ProgressBar bar;
    EXPECT_EQ(bar.filledFraction(), 0.0);
    bar.setValue(25.0F);
    EXPECT_DOUBLE_EQ(bar.filledFraction(), 0.25);

    constexpr float inf = std::numeric_limits<float>::infinity();
    const float nan = std::nanf("");
    const struct {
        float maximum;
        float value;
        double fraction;
    } cases[] = {
        {100.0F, 250.0F, 1.0}, // above the maximum
        {100.0F, -5.0F, 0.0},  {0.0F, 3.0F, 0.0},   {-2.0F, 3.0F, 0.0}, // no range
        {nan, 3.0F, 0.0},      {inf, 3.0F, 0.0},    {100.0F, nan, 0.0},
        {100.0F, inf, 1.0},    {100.0F, -inf, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.maximum << " " << c.value);
        bar.setMaximum(c.maximum);
        bar.setValue(c.value);
        EXPECT_EQ(bar.filledFraction(), c.fraction);
        // The values set are kept; only drawing clamps.
        EXPECT_TRUE(bar.maximum() == c.maximum || (std::isnan(bar.maximum()) && std::isnan(c.maximum)));
        bar.repaint();
    }
}

TEST(ProgressBar, FillsFromTheLeftInProportionToTheValue)
{
    ProgressBar bar;
    bar.resize(393, 17);
    bar.setMaximum(8.0F);
    bar.setValue(2.0F);
    const QImage image = bar.grab().toImage();
    const QRgb empty = image.pixel(380, 8);
    int edge = 1;
    while (edge < image.width() && image.pixel(edge, 8) != empty)
        ++edge;
    EXPECT_NEAR(edge, 393.0 / 4, 4);
    EXPECT_NE(image.pixel(40, 8), empty);
}

TEST(ProgressBar, RepaintsOnlyWhenTheFilledWidthChanges)
{
    ProgressBar bar;
    bar.resize(393, 17);
    bar.show();
    QCoreApplication::processEvents();
    PaintCounter counter;
    bar.installEventFilter(&counter);

    // Three minutes at 10 ms a step.
    bar.setMaximum(180.0F);
    for (int tick = 1; tick <= 18000; ++tick) {
        bar.setValue(static_cast<float>(tick) / 100.0F);
        QCoreApplication::processEvents();
    }
    EXPECT_GT(counter.paints, 300);
    EXPECT_LE(counter.paints, 400);
    EXPECT_EQ(bar.filledFraction(), 1.0);
}

} // namespace
