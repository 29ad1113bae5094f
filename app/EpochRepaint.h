#pragma once

#include <QBasicTimer>
#include <QObject>

#include <chrono>
#include <functional>

class CGpsPort;
class QTimerEvent;

// When the window repaints: as soon as a receiver epoch is complete, but at most every 100 ms;
// the once-a-second tick paints only while no epochs arrive, so a 1 Hz receiver is painted once
// per epoch and a quiet one once a second.
class CRepaintPacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMinSpacing{100};
    // Epochs this recent take the tick's place; a tick waits this long past a second for one.
    static constexpr std::chrono::milliseconds kEpochsLive{1500};
    static constexpr std::chrono::milliseconds kTickGrace{150};

    // An epoch is complete: how long to wait before painting it (0: at once).
    std::chrono::milliseconds OnEpoch(Clock::time_point now);
    // The once-a-second tick: true when it should paint.
    bool TickPaints(Clock::time_point now) const;
    void Painted(Clock::time_point now) { m_lastPaint = now; }

private:
    Clock::time_point m_lastPaint{};
    Clock::time_point m_lastEpoch{};
    bool m_bEpochs = false;
};

// Wires the pacer between the port's reader thread, which says when an epoch is complete, and
// the window's paint, which runs on this object's thread.
class CEpochRepaint : public QObject {
public:
    // paint runs on this object's thread; the port must outlive this object.
    CEpochRepaint(CGpsPort &port, std::function<void()> paint);
    ~CEpochRepaint() override;
    CEpochRepaint(const CEpochRepaint &) = delete;
    CEpochRepaint &operator=(const CEpochRepaint &) = delete;

    // As the pacer says, or when the link went away or came back since the last paint: an
    // unplug must show while it lasts, not wait for the epochs' silence to outlast it.
    bool TickPaints() const;
    void Painted();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void OnEpoch();

    CGpsPort &m_port;
    std::function<void()> m_paint;
    CRepaintPacer m_pacer;
    QBasicTimer m_timer;
    bool m_bPaintedOpen = false, m_bPaintedReconnecting = false; // the link as last painted
};
