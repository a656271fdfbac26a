// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/progressbar.h"

#include <algorithm>
#include <cmath>

#include <QAccessible>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include "window/progressbaraccessible.h"

namespace {
constexpr int drawingSteps = 10000;
}

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    // Installing it again is a no-op.
    QAccessible::installFactory(&ProgressBarAccessible::create);
}

void ProgressBar::setMaximum(float maximum)
{
    maximum_ = maximum;
    updateIfFillChanged();
}

void ProgressBar::setValue(float value)
{
    value_ = value;
    updateIfFillChanged();
}

double ProgressBar::filledFraction() const
{
    const double range = static_cast<double>(maximum_) - minimum_;
    if (!(range > 0.0) || !std::isfinite(range))
        return 0.0;
    const double fraction = (static_cast<double>(value_) - minimum_) / range;
    if (std::isnan(fraction))
        return 0.0;
    return std::clamp(fraction, 0.0, 1.0);
}

int ProgressBar::filledDevicePixels() const
{
    return static_cast<int>(std::lround(filledFraction() * width() * devicePixelRatioF()));
}

void ProgressBar::updateIfFillChanged()
{
    const int fill = filledDevicePixels();
    if (fill == shownFill_)
        return;
    shownFill_ = fill;
    update();
    // Announced as often as the fill moves, not at every value: a screen
    // reader is not flooded at the progress timer's rate.
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, static_cast<double>(value_));
        QAccessible::updateAccessibility(&event);
    }
}

void ProgressBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    shownFill_ = filledDevicePixels();
}

void ProgressBar::paintEvent(QPaintEvent* /*event*/)
{
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.state |= QStyle::State_Horizontal;
    option.minimum = 0;
    option.maximum = drawingSteps;
    option.progress = static_cast<int>(std::lround(filledFraction() * drawingSteps));
    option.textVisible = false;
    QPainter painter(this);
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}
