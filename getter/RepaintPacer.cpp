#include "RepaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <utility>

RepaintPacer::RepaintPacer(QWidget *window, int intervalMs)
    : QObject(window)
    , m_window(window)
    , m_intervalMs(intervalMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RepaintPacer::Flush);
}

RepaintPacer::~RepaintPacer()
{
    if (m_depth > 0)
        QCoreApplication::instance()->removeEventFilter(this);
}

void RepaintPacer::Begin()
{
    // An application filter: a widget's layout sees its layout request
    // before the widget's own filters do.
    if (m_depth++ == 0)
        QCoreApplication::instance()->installEventFilter(this);
}

void RepaintPacer::End()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    QCoreApplication::instance()->removeEventFilter(this);
    DrawNow();
}

void RepaintPacer::DrawNow()
{
    // Queued layout requests of other windows are handled early too, which
    // does them no harm.
    m_passing = true;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    m_passing = false;
    // A repaint request may still be queued, not yet held: draw anyway; the
    // queued one then finds nothing left to do.
    m_updateHeld = true;
    Flush();
}

bool RepaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::UpdateRequest && type != QEvent::LayoutRequest) || m_passing
        || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget->window() != m_window)
        return false;

    if (!m_sinceFrame.isValid() || m_sinceFrame.elapsed() >= m_intervalMs) {
        if (type == QEvent::UpdateRequest) {
            m_sinceFrame.start();
            if (BeforeFrame)
                BeforeFrame();
        }
        return false;
    }

    if (type == QEvent::UpdateRequest) {
        // The repaint manager posts no other request until this one is
        // handled; the regions marked dirty meanwhile gather.
        m_updateHeld = true;
    } else if (!m_layoutsHeld.contains(widget)) {
        m_layoutsHeld.append(widget);
    }
    if (!m_timer.isActive())
        m_timer.start(int(qMax<qint64>(0, m_intervalMs - m_sinceFrame.elapsed())));
    return true;
}

void RepaintPacer::Flush()
{
    m_timer.stop();
    m_passing = true;
    // Layouts first: they may move widgets and mark more to repaint.
    const QList<QPointer<QWidget>> layouts = std::exchange(m_layoutsHeld, {});
    for (const QPointer<QWidget> &widget : layouts) {
        if (widget) {
            QEvent request(QEvent::LayoutRequest);
            QCoreApplication::sendEvent(widget, &request);
        }
    }
    if (std::exchange(m_updateHeld, false)) {
        if (BeforeFrame)
            BeforeFrame();
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(m_window, &request);
        m_sinceFrame.start();
    }
    m_passing = false;
}
