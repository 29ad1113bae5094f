#pragma once

#include "SerialPort.h"

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class CWakeEvent;

// Where the reader's bytes come from: a serial device, a TCP or UDP socket, or gpsd. The reader
// neither knows nor cares which. Read, Release and Reopen run on the one reading thread; Write on
// the owner's thread, also while a Read waits.
class CByteSource {
public:
    virtual ~CByteSource() = default;

    // Waits until size bytes have arrived, timeoutMs have passed or wake is raised. gone says
    // the peer went away: Release and Reopen to go on.
    virtual SerialRead Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) = 0;
    // Writes a command to the receiver within timeoutMs; false with a one-line reason when it
    // could not be sent whole.
    virtual bool Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) = 0;
    virtual void Release() = 0;
    // Opens again what Release let go; a network source may finish connecting in Read.
    virtual bool Reopen() = 0;
    // errno of the last failure, 0 when there was none.
    virtual int LastError() const = 0;
    // The descriptor in use, -1 while released.
    virtual int Handle() const = 0;
    // What this source is, for a tooltip.
    virtual std::string Description() const = 0;
    // What the source learned since it opened, for the tooltip (the device gpsd serves); any
    // thread.
    virtual std::string Detail() const { return {}; }
    // What the user must know now, for the caption (gpsd's error); "" when all is well; any thread.
    virtual std::string Warning() const { return {}; }
    // False with the reason when commands cannot reach the receiver through this source.
    virtual bool CanSendCommands(std::string &why) const = 0;
    // True for sources on which a baud rate means nothing.
    virtual bool IsNetwork() const = 0;
};

// Why OpenByteSource failed.
struct SourceOpenError {
    int error = 0;           // errno, or 0 when only message says why
    std::string message;     // a one-line reason where errno says too little ("host not found")
    bool heldByGpsd = false; // the serial device is busy because gpsd serves it
};

// Opens name, a serial device path or a gpsd://, tcp:// or udp:// address; nBaud applies to
// serial devices only. A serial device that is busy because a local gpsd serves it is watched
// through gpsd instead. nullptr with the reason in why on failure.
std::unique_ptr<CByteSource> OpenByteSource(const std::string &name, int nBaud,
                                            SourceOpenError &why);

} // namespace platform
