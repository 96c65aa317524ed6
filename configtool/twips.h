#pragma once

#include <QFont>
#include <QFontInfo>
#include <QRect>
#include <QtMath>
#include <algorithm>

namespace corvale::tool {

// Form designs are in twips: 15 twips make one pixel at the design's font
// size, 8.25 points (11 pixels at 96 dots per inch). Where the font in use
// is larger (a higher font DPI), the form grows with it, so that its texts
// keep their room; it never shrinks below the design.
class Twips {
public:
    static constexpr int kPerPixel = 15;
    static constexpr double kDesignFontPoints = 8.25;
    static constexpr double kDesignFontPixels = 11.0;

    explicit Twips(double scale = 1.0) : m_scale(scale) {}
    // The scale for font, a font of the design's size in points.
    static Twips forFont(const QFont& font) {
        return Twips(std::max(1.0, QFontInfo(font).pixelSize() / kDesignFontPixels));
    }
    // The scale for the design's font size here.
    static Twips here() {
        QFont font;
        font.setPointSizeF(kDesignFontPoints);
        return forFont(font);
    }

    double scale() const { return m_scale; }
    int pixels(int twips) const { return qRound(twips * m_scale / kPerPixel); }
    int twips(int pixels) const { return qRound(pixels * kPerPixel / m_scale); }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
    }

private:
    double m_scale;
};

} // namespace corvale::tool
