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

// The size of a caption as the button measures it: lines break only at line breaks;
// 0 by 0 for an empty caption.
QSize CaptionExtent(const QFont& font, const QString& caption);

// A list of icons, each a colour bitmap with a mask that is black where the icon is opaque.
class TCustomImageList : public QObject {
    Q_OBJECT
public:
    struct TIcon {
        QImage Color;
        QImage Mask;
    };

    using QObject::QObject;

    void Add(const QImage& color, const QImage& mask);
    int Count() const;
    // An icon with null images when index is outside 0 .. Count() - 1.
    TIcon GetIcon(int index) const;

private:
    std::vector<TIcon> icons_;
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

    TCustomActionList* ActionList() const;
    void SetActionList(TCustomActionList* value);
    QString Caption() const;
    void SetCaption(const QString& value);
    QString Hint() const;
    void SetHint(const QString& value);
    bool Enabled() const;
    void SetEnabled(bool value);
    int ImageIndex() const;
    void SetImageIndex(int value);

    void Execute();

signals:
    void Changed();
    void Executed();

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

    TCustomAction* Action() const;
    void SetAction(TCustomAction* value);

    // Called once the stored properties of the form have been applied.
    virtual void Loaded();

protected:
    // A linked action changed (Sender is the action): take over its caption, hint and
    // enabled state.
    virtual void ActionChange(QObject* Sender);
    // Face, frame, glyph and caption, in the button's own coordinates.
    void PaintButton(QPainter& painter) const;

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
