#pragma once
// Paints a top-level widget at most once per refresh of its screen. An update request that
// comes sooner after the last paint is held back until the refresh is due; all that was
// marked dirty meanwhile is then painted in one pass. A window that changes on every poll
// (200 times a second) thus paints only as often as the screen can show it.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class TFramePacer : public QObject {
public:
    // Watches window, which owns it.
    explicit TFramePacer(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    qint64 frameNanoseconds() const;
    void release();

    QWidget* const window_;
    QElapsedTimer sincePaint_;  // invalid: the next request passes at once
    QTimer due_;
};
