// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/FramePacer.h"

#include "toolkit/Shape.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

constexpr qreal kFallbackRefreshRate = 60;  // Hz, for a screen that does not say

}  // namespace

TFramePacer::TFramePacer(QWidget* window) : QObject(window), window_(window)
{
    due_.setSingleShot(true);
    due_.setTimerType(Qt::PreciseTimer);
    connect(&due_, &QTimer::timeout, this, &TFramePacer::paint);
    window_->installEventFilter(this);
}

qint64 TFramePacer::frameNanoseconds() const
{
    const QScreen* screen = window_->screen();
    const qreal rate = screen && screen->refreshRate() > 1 ? screen->refreshRate()
                                                           : kFallbackRefreshRate;
    return static_cast<qint64>(1e9 / rate);
}

bool TFramePacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != window_)
        return false;
    // A hidden window paints nothing, so nothing may wait for its frames.
    if (event->type() == QEvent::Hide)
        setWaiting();
    if (event->type() != QEvent::UpdateRequest || painting_)
        return false;
    const qint64 frame = frameNanoseconds();
    if (!sincePaint_.isValid() || sincePaint_.nsecsElapsed() >= frame) {
        paint();
        return true;
    }
    // Held back: the widgets stay marked dirty, and Qt asks no more until they are painted.
    if (!due_.isActive()) {
        const qint64 left = frame - sincePaint_.nsecsElapsed();
        due_.start(static_cast<int>((left + 999'999) / 1'000'000));
    }
    return true;
}

void TFramePacer::PaintNow()
{
    paint();
}

void TFramePacer::paint()
{
    due_.stop();
    sincePaint_.start();
    // Delivered past the filter, so that what follows the frame comes after its painting.
    painting_ = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window_, &request);
    painting_ = false;
    ++frames_;
    setWaiting();
}

void TFramePacer::setWaiting()
{
    for (Paced& p : paced_) {
        if (!p.waiting)
            continue;
        if (p.shape)
            p.shape->SetBrushColor(*p.waiting);
        p.waiting.reset();
        p.setInFrame = frames_;
    }
}

std::size_t TFramePacer::indexOf(const TShape* shape) const
{
    const auto it = std::find_if(paced_.begin(), paced_.end(),
                                 [shape](const Paced& p) { return p.shape == shape; });
    return static_cast<std::size_t>(it - paced_.begin());
}

TColor TFramePacer::BrushColor(const TShape* shape) const
{
    const std::size_t i = indexOf(shape);
    return i < paced_.size() && paced_[i].waiting ? *paced_[i].waiting : shape->BrushColor();
}

void TFramePacer::SetBrushColor(TShape* shape, TColor color)
{
    const std::size_t i = indexOf(shape);
    if (i == paced_.size())
        paced_.push_back({shape, -1, std::nullopt});
    Paced* const p = &paced_[i];
    if (color == (p->waiting ? *p->waiting : shape->BrushColor()))
        return;
    if (p->waiting)
        paint();  // sets the colour that waited; it now waits for the next frame in turn
    if (p->setInFrame == frames_ && window_->isVisible()) {
        p->waiting = color;
        return;
    }
    shape->SetBrushColor(color);
    p->setInFrame = frames_;
}
