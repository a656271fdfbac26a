// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

// A progress bar with a single-precision range and value, drawn in the
// platform style without text. Any value or range draws sanely: the fill is
// clamped for drawing only. It repaints, and tells assistive technology of a
// new value, only when the filled width in device pixels changes.
class ProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    float minimum() const { return minimum_; }
    float maximum() const { return maximum_; }
    float value() const { return value_; }

    void setMaximum(float maximum);
    void setValue(float value);

    // Fraction of the bar drawn filled, in [0, 1].
    double filledFraction() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int filledDevicePixels() const;
    void updateIfFillChanged();

    float minimum_ = 0.0F;
    float maximum_ = 100.0F;
    float value_ = 0.0F;
    int shownFill_ = 0;
};
