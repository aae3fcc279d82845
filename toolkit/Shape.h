// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shapes and labels: lightweight figures painted in creation order, later ones over
// earlier ones.

#include "toolkit/Graphics.h"

#include <QLabel>
#include <QWidget>

enum TShapeType { stRectangle, stCircle, stRoundRect };

class TShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Shape READ Shape WRITE SetShape)
    Q_PROPERTY(quint32 BrushColor READ BrushColor WRITE SetBrushColor)

public:
    explicit TShape(QWidget* parent = nullptr);

    TShapeType Shape() const { return shape_; }
    void SetShape(int shape);
    TColor BrushColor() const { return brushColor_; }
    void SetBrushColor(TColor color);
    TBrushStyle BrushStyle() const { return brushStyle_; }
    void SetBrushStyle(TBrushStyle style);
    TColor PenColor() const { return penColor_; }
    void SetPenColor(TColor color);

    // The figure's outline in widget coordinates, as the toolkit lays it out.
    QRect FigureRect() const;

signals:
    // Every mouse button, with the keyboard modifiers and the position in the shape.
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // The second press of a double click is a press too.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void paintFigure(QPaintDevice& device) const;

    TShapeType shape_ = stRectangle;
    TColor brushColor_ = clWhite;
    TBrushStyle brushStyle_ = bsSolid;
    TColor penColor_ = clBlack;
};

// A label sizes itself to its caption in its font, keeping its top-left corner, so that
// a font wider than the one it was laid out with does not cut the text.
class TLabel : public QLabel {
    Q_OBJECT

public:
    explicit TLabel(const QString& caption, QWidget* parent = nullptr);

    // A transparent label lets what lies beneath show through its background.
    void SetTransparent(bool transparent);
    bool Transparent() const { return transparent_; }
    // A colour of its own; until one is set the label takes its parent's background.
    void SetColor(TColor color);
    TColor Color() const { return color_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateBackground();

    bool transparent_ = false;
    bool parentColor_ = true;
    TColor color_ = clBtnFace;
};
