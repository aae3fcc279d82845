#include "toolkit/SpinEdit.h"

#include <QLineEdit>

#include <algorithm>

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    // Typing reaches the line edit's signal; the spin box changes its text with that
    // signal blocked and reports through its own.
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::textMayHaveChanged);
    connect(this, &QSpinBox::textChanged, this, &TSpinEdit::textMayHaveChanged);
    lastText_ = lineEdit()->text();
}

void TSpinEdit::textMayHaveChanged()
{
    if (lineEdit()->text() == lastText_)
        return;
    lastText_ = lineEdit()->text();
    emit Change();
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int v = lineEdit()->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

void TSpinEdit::SetValue(int value)
{
    setValue(value);
}

QValidator::State TSpinEdit::validate(QString& input, int&) const
{
    // Any number may stand while the user types; it is brought into range on leaving.
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-"))
        return QValidator::Intermediate;
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok)
        return QValidator::Invalid;
    return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const
{
    bool ok = false;
    const int v = input.trimmed().toInt(&ok);
    input = QString::number(ok ? std::clamp(v, minimum(), maximum()) : minimum());
}
