// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Memo.h"

#include <QFontInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// What a line edit keeps free on either side of its text, and its cursor's width.
constexpr int kLineMargin = 2;
constexpr int kCursorWidth = 1;
// The sunken edge: two lines of one pixel on each side.
constexpr int kEdge = 2;

}  // namespace

TMemo::TMemo(QWidget* parent) : QLineEdit(parent)
{
    // The memo draws its own plain sunken edge: the style's rounded, smoothed frame costs
    // several times what the text does, on every change of the dump.
    setFrame(false);
    setTextMargins(kEdge, kEdge, kEdge, kEdge);
}

void TMemo::setPlainText(const QString& text)
{
    if (text == this->text())
        return;
    setText(text);
    setCursorPosition(0);
}

void TMemo::FitFont(const QString& text)
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, this)
                               .marginsRemoved(textMargins());
    const int room = contents.width() - 2 * kLineMargin - kCursorWidth;
    QFont f = font();
    for (int size = QFontInfo(f).pixelSize(); size > 1; --size) {
        f.setPixelSize(size);
        if (QFontMetrics(f).horizontalAdvance(text) <= room)
            break;
    }
    setFont(f);
}

void TMemo::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    const auto edge = [&painter](QRect box, const QColor& topLeft, const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(box.topLeft(), box.topRight());
        painter.drawLine(box.topLeft(), box.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomRight());
    };
    const QPalette& colors = palette();
    edge(rect(), colors.color(QPalette::Dark), colors.color(QPalette::Light));
    edge(rect().adjusted(1, 1, -1, -1), colors.color(QPalette::Shadow),
         colors.color(QPalette::Midlight));
}

bool TMemo::event(QEvent* event)
{
    if (!tabChangesFocus_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab &&
            !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
            if (!isReadOnly())
                insert(QStringLiteral("\t"));
            return true;
        }
    }
    return QLineEdit::event(event);
}
