#pragma once

#include "SerialLine.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct termios;

namespace platform {

class CWakeEvent;

// The quiet time after which a read hands over a part line: two character times at nBaud, and
// never less than 20 ms (the scheduler's and USB bridges' own jitter).
int QuietGapMs(int nBaud);
// True when the n bytes at p hold a line end: a read hands a complete line over at once.
bool HoldsLineEnd(const char *p, std::size_t n);

// How one Read ended. count bytes were stored in every case.
struct SerialRead {
    std::size_t count = 0;
    // When the newest of those bytes were taken from the system; unset when count is 0.
    std::chrono::steady_clock::time_point arrived{};
    bool woken = false;  // the wake event was raised
    int error = 0;       // errno of a failed read, 0 otherwise
    bool gone = false;   // the device hung up or vanished (unplugged): reopen it to go on
    bool jumped = false; // a replay moved: these bytes do not follow the ones before
};

// A serial device in raw mode, 8 data bits, no parity, one stop bit, opened exclusively and
// released from exclusive mode before every close. Only serial lines and pseudo-terminals open.
// Open, Close and Discard run on the owner's thread while no Read is running; Read, Release and
// Reopen on the one reading thread; Write on any thread, also while a Read waits.
class CSerialPort {
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort &) = delete;
    CSerialPort &operator=(const CSerialPort &) = delete;

    // True for the rates the line can be set to: those of the baud list.
    static bool IsSupportedBaud(int nBaud);

    // Closes what is open, then opens path at nBaud. False when the device cannot be used;
    // LastError() then holds the reason (errno; EINVAL for a rate the line cannot take, ENOTTY,
    // before any open, for a path that is no serial line).
    bool Open(const std::string &path, int nBaud);
    void Close();
    // The reason the last Open failed, 0 after one that worked.
    int LastError() const { return m_nError; }
    // The descriptor, or -1 while closed or released.
    int Handle() const { return m_fd; }

    // Waits up to timeoutMs for data, then returns as soon as a line is complete, the line went
    // quiet for QuietGapMs, size bytes have arrived or timeoutMs have passed since the first
    // byte, or when wake is raised. Past the first byte it wakes once a gap or once per 255
    // bytes, never once a character. At 19200 baud and below it reads by lines and wakes about
    // twice a line: at its end, and once a short wait finds a line on its way.
    SerialRead Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake);
    // Writes data, giving up timeoutMs after the call; returns the number of bytes written.
    // gone, when given, tells whether the device went away rather than stopped taking bytes.
    std::size_t Write(const char *data, std::size_t size, int timeoutMs, bool *gone = nullptr);
    // Drops whatever is pending in both directions.
    void Discard();

    // Lets go of a device that went away, so that it can come back under the same name.
    void Release();
    // Opens the released device again with the settings of the last Open, if its name still
    // leads to the same receiver: a pseudo-terminal other than one that went away (its number
    // may now be somebody's terminal) unless the name is a link made anew since (a serial
    // bridge recreates it for its new pty), or a serial line with the same driver (and USB
    // vendor and product). The name is resolved again on every call. False otherwise, with the
    // reason in ReopenError().
    bool Reopen();
    int ReopenError() const { return m_nReopenError; }
    // The device the last Open or Reopen reached, links resolved; on the thread that called it.
    const std::string &DevicePath() const { return m_line.path; }

private:
    using Clock = std::chrono::steady_clock;
    // The configured descriptor of line, or -1 with the reason in error.
    int OpenDevice(const LineIdentity &line, int &error);
    // Reads by lines: true once lines (or an error, a hang-up or the wake) came, false when
    // nothing whole came by deadline.
    bool ReadLines(char *buf, std::size_t size, Clock::time_point deadline, const CWakeEvent &wake,
                   SerialRead &r);
    // Reads by the gap rule.
    SerialRead ReadGaps(char *buf, std::size_t size, Clock::time_point deadline,
                        const CWakeEvent &wake);
    // Reading by lines: takes, as bytes, what waits of a line not yet ended.
    SerialRead TakePartLine(char *buf, std::size_t size);
    // Switches between reading by lines and by bytes; false, with errno, when the line refuses.
    bool SetLineMode(bool bLines);
    // How long a part line may take to end before it is handed over as it is.
    static constexpr int kPartLineWaitMs = 1000;

    std::string m_path;
    int m_nBaud = 0;
    int m_nError = 0;
    int m_nReopenError = 0;
    // What m_path led to at the last open, and every pseudo-terminal that hung up under it.
    LineIdentity m_line;
    std::string m_usbId;
    std::vector<std::string> m_gonePtys;
    // The name's own inode and change time when it is a link, as at the last open.
    struct LinkStamp {
        bool bLink = false;
        unsigned long long ino = 0;
        long long sec = 0;
        long nsec = 0;
        bool operator==(const LinkStamp &) const = default;
    };
    static LinkStamp StampOf(const std::string &path);
    LinkStamp m_linkStamp;
    // The line settings of the open device, by lines and by bytes; kept out of the header for
    // termios.h's macros. The two differ only at rates whose second of text fits the terminal's
    // line buffer.
    std::unique_ptr<termios> m_lines;
    std::unique_ptr<termios> m_raw;
    // Reader thread only, after Open: reading by lines, and a part line was seen on its way.
    bool m_bLineMode = false;
    bool m_bPartLine = false;
    int m_fd = -1;
    // Keeps Release and Reopen from closing the descriptor under a Write.
    std::mutex m_writeLock;
};

} // namespace platform
