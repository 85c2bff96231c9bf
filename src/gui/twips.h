#pragma once

#include <QRect>
#include <cmath>

class QWidget;

namespace ondrel {

// The layouts keep the Windows values in twips (1/1440 inch).
inline int TwipsToPixels(int twips, int dpi) {
    return int(std::lround(double(twips) * dpi / 1440.0));
}
inline int PixelsToTwips(int pixels, int dpi) {
    return int(std::lround(double(pixels) * 1440.0 / dpi));
}

int LogicalDpi(const QWidget* w);
QRect TwipsRect(int left, int top, int width, int height, int dpi);
// Places w inside its parent at a position given in twips.
void PlaceTwips(QWidget* w, int left, int top, int width, int height);

// The described control name as objectName and accessible description,
// "txtLData(3)" for members of a control array.
void NameControl(QWidget* w, const QString& name, int index = -1);

}  // namespace ondrel
