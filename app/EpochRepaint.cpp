#include "EpochRepaint.h"

#include "GpsPort.h"

#include <QTimerEvent>

#include <algorithm>

std::chrono::milliseconds CRepaintPacer::OnEpoch(Clock::time_point now) {
    m_lastEpoch = now;
    m_bEpochs = true;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_lastPaint + kMinSpacing - now);
    return std::max(wait, std::chrono::milliseconds(0));
}

bool CRepaintPacer::TickPaints(Clock::time_point now) const {
    const bool live = m_bEpochs && now - m_lastEpoch < kEpochsLive;
    return !live || now - m_lastPaint >= std::chrono::seconds(1) + kTickGrace;
}

CEpochRepaint::CEpochRepaint(CGpsPort &port, std::function<void()> paint)
    : m_port(port), m_paint(std::move(paint)) {
    // On the reader thread: only a queued call to this thread.
    m_port.SetEpochListener([this] {
        QMetaObject::invokeMethod(
            this, [this] { OnEpoch(); }, Qt::QueuedConnection);
    });
}

CEpochRepaint::~CEpochRepaint() {
    // Returns once no listener call is running; none comes after.
    m_port.SetEpochListener({});
}

bool CEpochRepaint::TickPaints() const {
    const LinkState link = m_port.CopyLinkState();
    return link.bOpen != m_bPaintedOpen || link.bReconnecting != m_bPaintedReconnecting ||
           m_pacer.TickPaints(CRepaintPacer::Clock::now());
}

void CEpochRepaint::Painted() {
    m_pacer.Painted(CRepaintPacer::Clock::now());
    const LinkState link = m_port.CopyLinkState();
    m_bPaintedOpen = link.bOpen;
    m_bPaintedReconnecting = link.bReconnecting;
}

void CEpochRepaint::OnEpoch() {
    if (m_timer.isActive())
        return;
    const auto wait = m_pacer.OnEpoch(CRepaintPacer::Clock::now());
    if (wait.count() == 0)
        m_paint();
    else
        m_timer.start(static_cast<int>(wait.count()), Qt::PreciseTimer, this);
}

void CEpochRepaint::timerEvent(QTimerEvent *event) {
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    m_paint();
}
