#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

// Lets one window's screen follow its values at a human rate while a long run
// changes them thousands of times a second. While active, the window's layout
// and repaint requests are held back and handed on together at most once per
// interval; the dirty regions gather in the meantime, so nothing is lost and
// the screen shows the latest values. Values themselves are written at once;
// only their drawing waits. Exposures (a window uncovered) are not held back.
class RepaintPacer : public QObject
{
    Q_OBJECT

public:
    explicit RepaintPacer(QWidget *window, int intervalMs = 33);
    ~RepaintPacer() override;

    // Starts holding back; nested calls count.
    void Begin();
    // Ends one Begin(); when the last ends, the window is drawn at once.
    void End();

    // Lays out and draws every change made so far, now, whether held back
    // or still waiting in the event queue.
    void DrawNow();

    bool IsActive() const { return m_depth > 0; }

    // Runs right before each frame is drawn while active: the place for
    // work whose only purpose is what the frame shows.
    std::function<void()> BeforeFrame;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Flush();

    QWidget *m_window;
    int m_intervalMs;
    int m_depth = 0;
    bool m_passing = false;
    bool m_updateHeld = false;
    QElapsedTimer m_sinceFrame;
    QTimer m_timer;
    QList<QPointer<QWidget>> m_layoutsHeld;
};
