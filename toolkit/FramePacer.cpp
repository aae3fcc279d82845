#include "toolkit/FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace {

constexpr qreal kFallbackRefreshRate = 60;  // Hz, for a screen that does not say

}  // namespace

TFramePacer::TFramePacer(QWidget* window) : QObject(window), window_(window)
{
    due_.setSingleShot(true);
    due_.setTimerType(Qt::PreciseTimer);
    connect(&due_, &QTimer::timeout, this, &TFramePacer::release);
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
    if (watched != window_ || event->type() != QEvent::UpdateRequest)
        return false;
    const qint64 frame = frameNanoseconds();
    if (!sincePaint_.isValid() || sincePaint_.nsecsElapsed() >= frame) {
        sincePaint_.start();
        return false;
    }
    // Held back: the widgets stay marked dirty, and Qt asks no more until they are painted.
    if (!due_.isActive()) {
        const qint64 left = frame - sincePaint_.nsecsElapsed();
        due_.start(static_cast<int>((left + 999'999) / 1'000'000));
    }
    return true;
}

void TFramePacer::release()
{
    sincePaint_.invalidate();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window_, &request);
}
