#include "LiveCaption.h"

#include <cerrno>
#include <cstring>

QString LiveText(const LiveState &state) {
    QString live;
    switch (state.port) {
    case LiveState::Port::Open:
        if (state.nSilentSeconds >= kSilentAfterSeconds)
            live = QStringLiteral("no data for %1 s").arg(state.nSilentSeconds);
        break;
    case LiveState::Port::Reconnecting:
        live = state.bNetwork ? (state.bEverData ? QStringLiteral("source gone, waiting")
                                                 : QStringLiteral("source down, retrying"))
               : state.bPty   ? QStringLiteral("pseudo-terminal gone, press Re-set")
                              : QStringLiteral("receiver unplugged, waiting");
        break;
    case LiveState::Port::NoReceiver:
        live = QStringLiteral("no receiver: ") + state.failure;
        break;
    case LiveState::Port::Closed:
        live = QStringLiteral("port closed");
        break;
    }
    return live;
}

bool IsNoData(const LiveState &state) {
    return state.port != LiveState::Port::Open || state.nSilentSeconds >= kSilentAfterSeconds;
}

QString LiveCaption(const LiveState &state, const QString &more) {
    const QString live = LiveText(state);
    QString caption = QStringLiteral("Skywatch");
    if (!live.isEmpty())
        caption += QStringLiteral(" - ") + live;
    if (!more.isEmpty())
        caption += (live.isEmpty() ? QStringLiteral(" - ") : QStringLiteral("; ")) + more;
    return caption;
}

QString ShortOpenFailure(int nErrno, const QString &device) {
    switch (nErrno) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("%1 not found").arg(device);
    case ENOTTY:
        return QStringLiteral("%1 is not a serial port").arg(device);
    case EACCES:
    case EPERM:
        return QStringLiteral("%1: permission denied").arg(device);
    case EBUSY:
        return QStringLiteral("%1 is busy").arg(device);
    default:
        return QStringLiteral("%1: %2").arg(device, QString::fromLocal8Bit(std::strerror(nErrno)));
    }
}
