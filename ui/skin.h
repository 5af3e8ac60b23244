// Pictures and fonts of the skin.
#pragma once

#include <QFont>
#include <QImage>
#include <QString>

namespace krevol {

// Decodes the PNG picture with the given number from the program's resources into a 32-bit
// premultiplied picture (each colour channel becomes channel * alpha / 255, truncating).
// False when the picture is missing or cannot be decoded.
bool loadPngResource(QImage& picture, int resourceId);

// The family of the embedded font that every window uses.
QString uiFontFamily();

// Installs the embedded font for this process once; on failure shows "Load Font Fail!" in the
// platform's plain message box and returns false (windows then get a substitute).
bool installEmbeddedFont();

// A font of the embedded family: height in pixels, weight 0 (default), 300, 400 or 700.
QFont createUiFont(int pixelHeight, int weight, bool underline = false);

}  // namespace krevol
