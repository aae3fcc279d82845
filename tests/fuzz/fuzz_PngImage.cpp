// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the PNG decoder and everything the icon button then does with an
// image. Built and run by scripts/fuzz-png.sh.

#include "widgets/PngFunctions.h"

#include <QImage>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TPngImage image;
    try {
        image.loadFromData(QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                   static_cast<qsizetype>(size)));
    } catch (const EPngError&) {
        return 0;
    }
    QImage canvas(24, 24, QImage::Format_RGB32);
    canvas.fill(Qt::gray);
    DrawImageWithOptions(image, canvas, QRect(4, 5, image.width(), image.height()), {});
    DrawImageWithOptions(image, canvas, QRect(-3, 2, 7, 30),
                         {pngBlendOnDisabled, pngGrayscaleOnDisabled});
    TPngImage copy = image;
    copy.addAlpha();
    GreyImage(copy);
    return 0;
}
