// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A spin edit as the desktop toolkit has it: the arrows and the loss of focus to another
// control bring the value into range, while typed text is read as it stands (text that is
// no number reads 0) and stays so through Enter and while its window is inactive.

#include <QSpinBox>

class TSpinEdit : public QSpinBox {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return minimum(); }
    int MaxValue() const { return maximum(); }
    // The text as typed, read as a decimal number; 0 when it is none.
    int Value() const;
    void SetValue(int value);

signals:
    // The text changed, by typing, by the arrows or by SetValue.
    void Change();

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void textMayHaveChanged();

    QString lastText_;
};
