// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The toolkit's speed button on a Qt tool button: a button without focus that paints its
// own face, frame, glyph and caption, flat until the mouse is over it, with a pressed and
// a down state. Also the little of actions and image lists that a button linked to an
// action needs.

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QToolButton>

#include <cstdint>
#include <vector>

class QEnterEvent;
class QFont;
class QPainter;

enum TButtonLayout : std::uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// With right-to-left reading the glyph's left and right places swap; top and bottom stay.
TButtonLayout ReadingOrderLayout(TButtonLayout layout, bool rightToLeft);

// The size of a caption as the button measures it: lines break only at line breaks;
// 0 by 0 for an empty caption.
QSize CaptionExtent(const QFont& font, const QString& caption);

// A list of icons, each a colour bitmap with a mask that is black where the icon is opaque.
class TCustomImageList : public QObject {
    Q_OBJECT
public:
    struct Icon {
        QImage color;
        QImage mask;
    };

    using QObject::QObject;

    void add(const QImage& color, const QImage& mask);
    int count() const;
    // An icon with null images when index is outside 0 .. count() - 1.
    Icon icon(int index) const;

private:
    std::vector<Icon> icons_;
};

class TCustomActionList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    TCustomImageList* Images() const;
    void SetImages(TCustomImageList* value);

private:
    QPointer<TCustomImageList> images_;
};

// A command that controls share: a control linked to it follows its caption, hint,
// enabled state and image, and a click on the control executes it.
class TCustomAction : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    TCustomActionList* actionList() const;
    void setActionList(TCustomActionList* value);
    QString Caption() const;
    void SetCaption(const QString& value);
    QString Hint() const;
    void SetHint(const QString& value);
    bool Enabled() const;
    void SetEnabled(bool value);
    int ImageIndex() const;
    void SetImageIndex(int value);

    void execute();

signals:
    void changed();
    void executed();

private:
    QPointer<TCustomActionList> actionList_;
    QString caption_;
    QString hint_;
    bool enabled_ = true;
    int imageIndex_ = -1;
};

class TSpeedButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(TButtonLayout Layout READ Layout WRITE SetLayout)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(int Spacing READ Spacing WRITE SetSpacing)
    Q_PROPERTY(bool Down READ Down WRITE SetDown)
    Q_PROPERTY(QImage Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)

public:
    explicit TSpeedButton(QWidget* parent = nullptr);

    bool Flat() const;
    void SetFlat(bool value);
    QString Caption() const;
    void SetCaption(const QString& value);
    QString Hint() const;
    void SetHint(const QString& value);
    TButtonLayout Layout() const;
    void SetLayout(TButtonLayout value);
    // -1 centres glyph and caption together.
    int Margin() const;
    void SetMargin(int value);
    // Between glyph and caption; -1 spreads the free space evenly.
    int Spacing() const;
    void SetSpacing(int value);
    // Held down by the program, apart from the mouse.
    bool Down() const;
    void SetDown(bool value);
    // NumGlyphs images side by side: up, disabled, pressed, down. Pixels of the colour of
    // a cell's lower-left pixel are transparent.
    const QImage& Glyph() const;
    void SetGlyph(const QImage& value);
    int NumGlyphs() const;
    void SetNumGlyphs(int value);

    TCustomAction* action() const;
    void setAction(TCustomAction* value);

    // Called once the stored properties of the form have been applied.
    virtual void loaded();

protected:
    // A linked action changed (Sender is the action): take over its caption, hint and
    // enabled state.
    virtual void actionChange(QObject* Sender);
    // Face, frame, glyph and caption, in the button's own coordinates.
    void paintButton(QPainter& painter) const;

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool flat_ = false;
    TButtonLayout layout_ = blGlyphLeft;
    int margin_ = -1;
    int spacing_ = 4;
    bool down_ = false;
    QImage glyph_;
    int numGlyphs_ = 1;
    bool mouseInControl_ = false;
    QPointer<TCustomAction> action_;
};
