// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QString>

// The window's fixed design: positions and sizes in twips, relative to the
// client area. At 96 dpi a pixel is 15 twips; Qt scales for other densities.
namespace ControlTable {

struct Twips {
    int left;
    int top;
    int width;
    int height;
};

inline constexpr int twipsPerPixel = 15;

constexpr QRect toPixels(Twips t)
{
    return {t.left / twipsPerPixel, t.top / twipsPerPixel, t.width / twipsPerPixel, t.height / twipsPerPixel};
}

inline constexpr int clientWidth = 5910;
inline constexpr int clientHeight = 1230;

inline constexpr Twips ProgressBar1{0, 960, 5895, 255};
inline constexpr Twips Command4{3600, 0, 1095, 495};
inline constexpr Twips Text1{0, 600, 5895, 285};
inline constexpr Twips Command3{2400, 0, 1095, 495};
inline constexpr Twips Command2{1200, 0, 1095, 495};
inline constexpr Twips Command1{0, 0, 1095, 495};
inline constexpr Twips Label1{4680, 0, 1215, 615};

inline constexpr int Timer1IntervalMs = 10;
inline constexpr int Timer2IntervalMs = 200;

inline QString caption()
{
    return QStringLiteral("Merlow 0.01(d)  [Alpha Version]");
}

} // namespace ControlTable
