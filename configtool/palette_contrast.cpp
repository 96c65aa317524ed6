#include "configtool/palette_contrast.h"

#include <cmath>
#include <utility>

namespace corvale::tool {

namespace {

double channel(double value) {
    value /= 255.0;
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour) {
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) +
           0.0722 * channel(colour.blue());
}

QColor halfway(const QColor& first, const QColor& second) {
    return QColor((first.red() + second.red()) / 2, (first.green() + second.green()) / 2,
                  (first.blue() + second.blue()) / 2);
}

} // namespace

double contrastRatio(const QColor& first, const QColor& second) {
    double lighter = luminance(first);
    double darker = luminance(second);
    if (lighter < darker) {
        std::swap(lighter, darker);
    }
    return (lighter + 0.05) / (darker + 0.05);
}

QPalette withFainterDisabledText(QPalette palette) {
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> roles[] = {
        {QPalette::ButtonText, QPalette::Button},
        {QPalette::Text, QPalette::Base},
        {QPalette::WindowText, QPalette::Window},
    };
    for (const auto& [text, background] : roles) {
        const QColor enabled = palette.color(QPalette::Active, text);
        const QColor ground = palette.color(QPalette::Disabled, background);
        const QColor disabled = palette.color(QPalette::Disabled, text);
        // Fainter: clearly less contrast with the background than enabled text has.
        if (contrastRatio(disabled, ground) > 0.75 * contrastRatio(enabled, ground)) {
            palette.setColor(QPalette::Disabled, text, halfway(enabled, ground));
        }
    }
    return palette;
}

QColor workAreaColour(const QPalette& palette) {
    const bool dark =
        luminance(palette.color(QPalette::Window)) < luminance(palette.color(QPalette::WindowText));
    return dark ? palette.color(QPalette::Base) : QColor(0, 192, 192);
}

} // namespace corvale::tool
