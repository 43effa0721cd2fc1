#pragma once

#include <QFont>

namespace kx {

// Fonts in pixels: the windows keep their layout whatever the screen's font scaling.
inline QFont arial(int pixels, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

} // namespace kx
