#pragma once

#include "ByteSource.h"
#include "FixStopwatch.h"
#include "GpsFix.h"
#include "ReceiverFamily.h"
#include "LinkState.h"
#include "ScanCounters.h"
#include "WakeEvent.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The one connection to the receiver: the byte source (a serial port or the network), its reader
// thread, the NMEA scanner and decoders, and the live fix record they fill.
class CGpsPort {
public:
    // Takes the time-zone bias from the platform (TZ selects it).
    CGpsPort();
    // For tests and tools that decode with a given bias, seconds west of UTC.
    explicit CGpsPort(int nBiasSeconds);
    ~CGpsPort();
    CGpsPort(const CGpsPort&) = delete;
    CGpsPort& operator=(const CGpsPort&) = delete;

    // Opens port nPort ("COMn", through the port table) at nBaud and starts the reader; closes
    // what was open first. False when the device cannot be used.
    bool Open(int nPort, int nBaud);
    // Stops the reader and closes the port; returns at once on a closed port.
    void Close();
    // Writes text up to its terminating zero; nothing on a closed port. Gives up after 200 ms.
    void Send(const char* text);
    // Writes n bytes, zeros included (binary commands); nothing on a closed port.
    void Send(const char* data, std::size_t n);
    // The receiver's family as its stream identified it since the last Open; Unknown until then.
    ReceiverFamily Family() const { return m_family.Current(); }
    // Times a restart to the first fix; the decoders report every fix or its absence to it.
    CFixStopwatch& Stopwatch() { return m_ttff; }
    // Why the last Open failed (errno), 0 after one that worked.
    int LastOpenError() const { return m_nOpenError; }
    // The device path the last Open tried ("COMn:" for a number the port table has no entry for).
    std::string LastOpenDevice() const { return m_openDevice; }
    // A one-line reason where errno says too little (a bad address, a host not found), or "".
    std::string LastOpenMessage() const { return m_openFailure.message; }
    // True when the last Open failed on a device that gpsd holds.
    bool LastOpenHeldByGpsd() const { return m_openFailure.heldByGpsd; }
    // Why the last Send did not reach the receiver, "" when it did (or the port was closed).
    std::string LastSendFailure() const { return m_sendFailure; }
    // What the open source is, for the port's tooltip; "" while closed.
    std::string SourceDescription() const;
    // True while a network source is open, on which the baud rate means nothing.
    bool IsNetworkSource() const { return m_source != nullptr && m_source->IsNetwork(); }
    void CopyFix(GpsFix& dest) const;
    void ClearFix();
    ScanCounters CopyCounters() const;
    LinkState CopyLinkState() const;

    // Feeds one block of received bytes to the scanner. A sentence cut by the end of the block is
    // kept and completed by the next block.
    void ParseBuffer(const char* block, int n);
    // Forgets a sentence carried over from an earlier block.
    void ResetScanner();

    static constexpr std::size_t kFieldSize = 20;
    // Writes the next field at pos into field (at most 19 characters, zero-terminated) and returns
    // the position of the field after it, or nullptr at the end of the sentence.
    static const char* NextField(const char* pos, char* field);

    // Read by the dialog; -1 while closed. m_hPort is the descriptor Open got (the reader may
    // reopen an unplugged device under it); m_hThread numbers the running reader.
    int m_nPort = -1;
    int m_nBaud = -1;
    int m_hPort = -1;
    int m_hThread = -1;

private:
    static constexpr std::size_t kMaxSentence = 511;
    static constexpr std::size_t kReadSize = 1024;
    static constexpr int kReadTimeoutMs = 1000;
    static constexpr int kWriteTimeoutMs = 200;
    static constexpr int kReopenIntervalMs = 1000;

    void ReaderThread();
    // Waits for an unplugged device to come back; false when Close stopped the wait.
    bool Reconnect();

    void HandleSentence(const char* s, std::size_t len);
    void ParseGGA(const char* sentence);
    void ParseRMC(const char* sentence);
    void ParseGSA(const char* sentence);
    void ParseGSV(const char* sentence);
    static void Bump(std::atomic<std::uint32_t>& counter);

    GpsFix m_fix{};
    CReceiverFamily m_family;
    CFixStopwatch m_ttff;
    const int m_nBiasSeconds;
    // Held while a decoder stores one sentence's fields and while the record is copied or
    // cleared, so a copy never shows half a sentence.
    mutable std::mutex m_fixLock;

    // The unfinished sentence carried from one block to the next (reader thread only).
    char m_tail[kMaxSentence + 1]{};
    std::size_t m_nTail = 0;
    bool m_bInSentence = false;
    bool m_bTooLong = false;

    struct Counters {
        std::atomic<std::uint32_t> nGga{0}, nGsa{0}, nGsv{0}, nRmc{0};
        std::atomic<std::uint32_t> nBadChecksum{0}, nCut{0}, nTooLong{0}, nUnknown{0};
    } m_counters;

    std::unique_ptr<platform::CByteSource> m_source;
    // Raised by Close to stop the reader wherever it waits.
    platform::CWakeEvent m_stop;
    std::thread m_reader;
    int m_nReaders = 0;
    int m_nOpenError = 0;
    std::string m_openDevice;
    platform::SourceOpenError m_openFailure;
    std::string m_sendFailure;
    mutable std::mutex m_linkLock;
    LinkState m_link;
};
