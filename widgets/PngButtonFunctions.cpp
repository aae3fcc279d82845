// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/PngButtonFunctions.h"

#include "widgets/PngFunctions.h"

QPoint CalcImagePosition(const QRect& client, const TPngImage& image, const QString& caption,
                         const QFont& font, TButtonLayout layout, int margin, int spacing,
                         bool rightToLeft, bool pressed, bool down)
{
    layout = ReadingOrderLayout(layout, rightToLeft);
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    const int width = client.width();
    const int height = client.height();
    const int w = image.width();
    const int h = image.height();
    const QSize text = CaptionExtent(font, caption);

    QPoint position;
    if (horizontal)
        position.setY((height - h + 1) / 2);
    else
        position.setX((width - w + 1) / 2);

    if (text.width() == 0 || w == 0)
        spacing = 0;
    // Unlike the cross axis, the centred margin does not round up.
    if (margin == -1 && spacing == -1)
        margin = horizontal ? (width - (w + text.width())) / 3 : (height - (h + text.height())) / 3;
    else if (margin == -1)
        margin = horizontal ? (width - (w + spacing + text.width())) / 2
                            : (height - (h + spacing + text.height())) / 2;

    switch (layout) {
    case blGlyphLeft: position.setX(margin); break;
    case blGlyphRight: position.setX(width - margin - w); break;
    case blGlyphTop: position.setY(margin); break;
    case blGlyphBottom: position.setY(height - margin - h); break;
    }
    position += client.topLeft();
    if (pressed || down)
        position += QPoint(1, 1);
    return position;
}
