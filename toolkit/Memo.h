// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A memo of one line. A line edit lays out its one line of text; a text document would be
// built and laid out again for every dump the window shows, many times a second.

#include <QLineEdit>

class TMemo : public QLineEdit {
    Q_OBJECT

public:
    explicit TMemo(QWidget* parent = nullptr);

    QString toPlainText() const { return text(); }
    // Shows the text from its start. The text it already shows changes nothing and costs
    // no repaint.
    void setPlainText(const QString& text);
    // Keeps the font's face and makes it no larger than shows all of text at the memo's
    // width.
    void FitFont(const QString& text);

    // False (the default): Tab is typed into the text. True: Tab moves the focus to the
    // next control. Shift+Tab always moves it to the previous one.
    bool tabChangesFocus() const { return tabChangesFocus_; }
    void setTabChangesFocus(bool on) { tabChangesFocus_ = on; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool tabChangesFocus_ = false;
};
