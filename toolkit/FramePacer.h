// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Paints a top-level widget at most once per refresh of its screen. An update request that
// comes sooner after the last paint is held back until the refresh is due; all that was
// marked dirty meanwhile is then painted in one pass. A window that changes on every poll
// (200 times a second) thus paints only as often as the screen can show it.
//
// What must not be lost between two frames goes through the pacer: shapes whose every
// colour must be seen, and steps that show something before they wait.

#include "toolkit/Graphics.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstddef>
#include <optional>
#include <vector>

class QWidget;
class TShape;

class TFramePacer : public QObject {
public:
    // Watches window, which owns it.
    explicit TFramePacer(QWidget* window);

    // Paints what is marked dirty now, held back or not.
    void PaintNow();

    // Gives shape, a child of the window, a brush colour that is on screen for at least one
    // frame. While its previous colour waits for its frame, the new one is set right after
    // that frame; a third colour before then paints that frame at once. A colour that lasts
    // a single poll is thus seen, and a window that changes all the time still paints once
    // per refresh.
    void SetBrushColor(TShape* shape, TColor color);
    // The colour last given to shape, set or still waiting.
    TColor BrushColor(const TShape* shape) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Paced {
        QPointer<TShape> shape;
        qint64 setInFrame;             // frames_ when its colour was set
        std::optional<TColor> waiting;  // set after the next frame
    };

    qint64 frameNanoseconds() const;
    void paint();
    void setWaiting();
    std::size_t indexOf(const TShape* shape) const;  // paced_.size() when not paced

    QWidget* const window_;
    QElapsedTimer sincePaint_;  // invalid: the next request passes at once
    QTimer due_;
    qint64 frames_ = 0;
    bool painting_ = false;
    std::vector<Paced> paced_;
};
