#pragma once

#include <QRect>
#include <QtMath>

namespace corvale::tool {

// Form designs are in twips: 15 twips make one pixel.
inline constexpr int kTwipsPerPixel = 15;

inline int pixels(int twips) {
    return qRound(static_cast<double>(twips) / kTwipsPerPixel);
}
inline int twips(int pixels) {
    return pixels * kTwipsPerPixel;
}
inline QRect pixelRect(int left, int top, int width, int height) {
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

} // namespace corvale::tool
