#pragma once

#include <QColor>
#include <QPalette>

namespace corvale::tool {

// How far apart two colours are to the eye: the ratio of their relative
// luminances (1 for the same, 21 for black on white).
double contrastRatio(const QColor& first, const QColor& second);

// Some dark palettes give disabled text the colour of enabled text, so that
// a button that cannot be pressed looks as if it could. Where a text role's
// disabled colour is not visibly fainter than its enabled one, it becomes
// the halfway colour between the text and its background.
QPalette withFainterDisabledText(QPalette palette);

// The main window's work area: the design's teal under a light palette; a
// dark palette's base colour under a dark one, where teal would glare.
QColor workAreaColour(const QPalette& palette);

} // namespace corvale::tool
