// Pieces of ui/skin.cpp that tests reach directly.
#pragma once

#include <QByteArray>
#include <QImage>

namespace krevol::detail {

// Decodes PNG bytes the way loadPngResource does: a 32-bit picture whose colour channels are
// premultiplied by alpha with truncation (channel * alpha / 255). False when the bytes are not
// a readable PNG; the picture is left untouched then.
bool loadPngResource(QImage& picture, const QByteArray& pngBytes);

// Installs font bytes for this process; on failure shows "Load Font Fail!" in the platform's
// plain message box (modal) and returns false. Returns the family name through `family`.
bool installFontData(const QByteArray& fontBytes, QString* family = nullptr);

}  // namespace krevol::detail
