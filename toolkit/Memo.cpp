#include "toolkit/Memo.h"

#include <QFontInfo>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// What a line edit keeps free on either side of its text, and its cursor's width.
constexpr int kLineMargin = 2;
constexpr int kCursorWidth = 1;

}  // namespace

TMemo::TMemo(QWidget* parent) : QLineEdit(parent) {}

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
