#include "LiveCaption.h"

#include <cerrno>
#include <cstring>

QString LiveText(const LiveState &state) {
    QString live;
    switch (state.port) {
    case LiveState::Port::Open:
        if (state.nSilentSeconds >= kSilentAfterSeconds)
            live = QStringLiteral("no data for %1 s").arg(state.nSilentSeconds);
        else if (!state.bEverData)
            live = QStringLiteral("waiting for data");
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
    return state.port != LiveState::Port::Open || state.nSilentSeconds >= kSilentAfterSeconds ||
           !state.bEverData;
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

QStringList StreamCountLines(const ScanCounters &c) {
    QStringList lines;
    const bool nmea = c.NmeaGood() + c.NmeaBad() > 0;
    const bool ubx = c.nUbx + c.nUbxBad > 0;
    const bool rtcm = c.nRtcm + c.nRtcmBad > 0;
    // Sentence types the window has no use for are normal; only bad ones hint at the baud rate.
    if (nmea || !(ubx || rtcm))
        lines << QStringLiteral("%1 sentences decoded, %2 not used (other sentence types), %3 bad "
                                "(checksum or bytes)")
                     .arg(c.Decoded())
                     .arg(c.nUnknown)
                     .arg(c.NmeaBad());
    if (ubx || rtcm) {
        QStringList protocols;
        if (nmea)
            protocols << QStringLiteral("NMEA %1 good, %2 bad").arg(c.NmeaGood()).arg(c.NmeaBad());
        if (ubx)
            protocols << QStringLiteral("UBX %1 good, %2 bad").arg(c.nUbx).arg(c.nUbxBad) +
                             (c.nUbxSkipped > 0
                                  ? QStringLiteral(" (%1 not read)").arg(c.nUbxSkipped)
                                  : QString());
        if (rtcm)
            protocols << QStringLiteral("RTCM 3 %1 good, %2 bad").arg(c.nRtcm).arg(c.nRtcmBad);
        lines << protocols.join(QStringLiteral(" \u00b7 "));
    }
    // A frame whose checksum holds came at the right baud rate as surely as a sentence did.
    const std::uint64_t bad = std::uint64_t{c.NmeaBad()} + c.nUbxBad + c.nRtcmBad;
    const std::uint64_t good = std::uint64_t{c.Decoded()} + c.nUbx + c.nRtcm;
    if (bad > 0 && bad >= good)
        lines << (ubx || rtcm ? QStringLiteral("Many bad sentences and frames: check the baud rate")
                              : QStringLiteral("Many bad sentences: check the baud rate"));
    return lines;
}
