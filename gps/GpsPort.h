#pragma once

// port: the rooms wired to a byte source, with the threads that read it and send to it.

#include "ByteSource.h"
#include "FileSource.h"
#include "LinkState.h"
#include "NtripClient.h"
#include "SessionRecorder.h"
#include "StreamTap.h"
#include "WakeEvent.h"
#include "analysis/EpochTracker.h"
#include "analysis/FixTrack.h"
#include "analysis/IntegrityWatch.h"
#include "analysis/SignalHistory.h"
#include "model/GpsFix.h"
#include "model/NmeaDecoder.h"
#include "protocol/ScanCounters.h"
#include "receiver/FixStopwatch.h"
#include "receiver/ReceiverFamily.h"
#include "receiver/ReceiverLink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The one connection to the receiver: the byte source (a serial port or the network) and its
// reader thread, which feeds the decoder that fills the live fix record.
// The reader reads blocks of up to kReadSize bytes, each handed over once a line is complete or
// the line is quiet for a gap (platform::QuietGapMs), and is the only writer of the decoder: the
// record, the sky table, the counters, the scanner's carried tail. The hooks run on it (family,
// stopwatch, epoch tracker, tap, recorder); at an epoch's end (a new time of fix, or kEpochQuietMs
// of quiet) it samples the signal history, feeds the watch (FeedWatch) and calls the listener.
// It reconnects once a second after the source went away and then clears the record. The record
// and the table are shown to the copies under one lock each at the end of a block (the record
// copied, the table's finished GSV lists flipped), so a copy never shows half a sentence; counters,
// family and stopwatch are atomics or locked apart, LinkState under a lock. The NTRIP client's
// thread writes through SendCorrection and the window's commands through Send, both under the
// send lock; a configuration thread may ChangeBaud, so its owner neither opens nor closes the port
// meanwhile. Close raises the wake event, joins the reader, then closes the source.
class CGpsPort : public CReceiverLink {
public:
    // Takes the time-zone bias from the platform (TZ selects it).
    CGpsPort();
    // For tests and tools that decode with a given bias, seconds west of UTC.
    explicit CGpsPort(int nBiasSeconds);
    ~CGpsPort();
    CGpsPort(const CGpsPort &) = delete;
    CGpsPort &operator=(const CGpsPort &) = delete;

    // Opens port nPort ("COMn", through the port table) at nBaud and starts the reader; closes
    // what was open first. False when the device cannot be used.
    bool Open(int nPort, int nBaud);
    // Stops the reader and closes the port; returns at once on a closed port.
    void Close();
    // Writes text up to its terminating zero; nothing on a closed port. Gives up after 200 ms.
    void Send(const char *text);
    // Writes n bytes, zeros included (binary commands); nothing on a closed port.
    void Send(const char *data, std::size_t n) override;
    // False with the reason when no command can reach the receiver through the open source.
    bool CanSend(std::string &why) const override {
        if (m_source == nullptr)
            why = "the port is closed (the device went away or was never opened)";
        return m_source != nullptr && m_source->CanSendCommands(why);
    }
    // The receiver's family as its stream identified it since the last Open; Unknown until then.
    ReceiverFamily Family() const override { return m_family.Current(); }
    // Times a restart to the first fix; the decoders report every fix or its absence to it.
    CFixStopwatch &Stopwatch() { return m_ttff; }
    // Why the last Open failed (errno), 0 after one that worked.
    int LastOpenError() const { return m_nOpenError; }
    // The device path the last Open tried ("COMn:" for a number the port table has no entry for).
    std::string LastOpenDevice() const { return m_openDevice; }
    // A one-line reason where errno says too little (a bad address, a host not found), or "".
    std::string LastOpenMessage() const { return m_openFailure.message; }
    // True when the last Open failed on a device that gpsd holds.
    bool LastOpenHeldByGpsd() const { return m_openFailure.heldByGpsd; }
    // Why the last Send did not reach the receiver, "" when it did (or the port was closed).
    std::string LastSendFailure() const override { return m_sendFailure; }
    int Baud() const override { return m_nBaud; }
    // What the open source is, for the port's tooltip; "" while closed.
    std::string SourceDescription() const;
    // What the open source says the user must know now (gpsd's error), for the caption; "" when
    // all is well or the port is closed.
    std::string SourceWarning() const { return m_source ? m_source->Warning() : std::string(); }
    // True while a network source is open, on which the baud rate means nothing.
    bool IsNetworkSource() const override { return m_source != nullptr && m_source->IsNetwork(); }
    void CopyFix(GpsFix &dest) const { m_decoder.CopyFix(dest); }
    void CopyFix(GpsFix &dest, FixExtra &extra) const { m_decoder.CopyFix(dest, extra); }
    void ClearFix() { m_decoder.ClearFix(); }
    ScanCounters CopyCounters() const { return m_decoder.CopyCounters(); }
    // A paused replay's sky is the one of the moment it paused at, or jumped to.
    void CopySky(SkyView &dest) const override;
    LinkState CopyLinkState() const;
    // The reader's decoder, to read from (counters, valid fixes) on any thread.
    const CNmeaDecoder &Decoder() const { return m_decoder; }
    // Called on the reader thread each time a receiver epoch is complete (a new time of fix
    // began, or the line went quiet after sentences); keep it short. Any thread, any time.
    void SetEpochListener(std::function<void()> listener);
    // Called on the reader thread with every good sentence ("$" through its checksum) and every
    // good UBX frame (binary true), for a command's reply; keep it short. Any thread, any time.
    void SetReplyListener(ReplyListener listener) override;
    // Reopens the same port at nBaud, as after the receiver was told to change speed; false when
    // the port is closed, on the network, or does not open at that speed. Owner's thread.
    bool ChangeBaud(int nBaud) override;
    // Waits until the count of sentences decoded and good binary frames (ScanCounters::Heard)
    // differs from seen or timeout passes; the count now.
    std::uint32_t WaitForDecoded(std::uint32_t seen, std::chrono::milliseconds timeout);
    // How many reads of the source have returned since the port was made: a quiet line costs
    // one a second.
    std::uint64_t ReadsReturned() const { return m_nReads.load(std::memory_order_relaxed); }
    // Records the bytes as received; it goes on across reconnects and a new Open.
    platform::CSessionRecorder &Recorder() { return m_recorder; }
    const platform::CSessionRecorder &Recorder() const { return m_recorder; }
    // The session's fixes at full precision, for the position scatter.
    const CFixHistory &History() const { return m_history; }
    // Each second's signals, satellite counts and HDOP, for the signal history.
    const CSignalHistory &Signals() const { return m_signals; }
    // The newest sentences and frames as they came and the commands sent, for the console.
    const CStreamTap &Tap() const { return m_tap; }
    // Whether the port keeps what only a window reads: the fix and signal histories and the
    // console's lines (it does unless told). A port read for its figures alone, one of a fleet,
    // saves their memory, some megabytes a receiver, and the reader's time. Before Open.
    void KeepHistory(bool keep) { m_bKeepHistory = keep; }
    // The jamming and spoofing watch's state now, for the window.
    WatchStatus CopyWatch() const;
    // The watch's events after the one numbered seen (0: from the first kept), oldest first;
    // seen becomes the latest's number. The last 256 are kept.
    std::vector<WatchEvent> WatchEventsSince(std::uint64_t &seen) const;
    // What was wrong in the user's thresholds file (those lines kept the shipped values).
    const std::vector<std::string> &WatchProblems() const { return m_watchProblems; }
    // Fetches corrections from an NTRIP caster and writes their RTCM 3 frames to the receiver,
    // while the source can be written (a serial port, TCP, a local gpsd); replaces a client that
    // runs. Owner's thread.
    void StartCorrections(const NtripOptions &options);
    void StopCorrections();
    // Where the corrections stand; on is false while no client runs. Any thread.
    CorrectionStatus CopyCorrections() const;
    // The recording being replayed, or nullptr when the source is a receiver. Owner's thread.
    platform::CFileSource *Replay() const {
        return dynamic_cast<platform::CFileSource *>(m_source.get());
    }
    // What the reader thread does with each block it read: decodes it, wakes the waiters and
    // reports the epochs it ended. For the benchmark, on a port whose reader does not run.
    void DecodeBlock(const char *block, std::size_t n,
                     std::chrono::steady_clock::time_point arrived);

    // Read by the dialog; -1 while closed. m_hPort is the descriptor Open got (the reader may
    // reopen an unplugged device under it); m_hThread numbers the running reader.
    int m_nPort = -1;
    int m_nBaud = -1;
    int m_hPort = -1;
    int m_hThread = -1;

private:
    static constexpr std::size_t kReadSize = 1024;
    static constexpr int kReadTimeoutMs = 1000;
    static constexpr int kWriteTimeoutMs = 200;
    static constexpr int kReopenIntervalMs = 1000;
    // Quiet after an epoch's sentences that says the epoch is complete.
    static constexpr int kEpochQuietMs = 40;

    void ReaderThread();
    // byNewTime: the next epoch's first sentence ended it, rather than a quiet line.
    void NotifyEpoch(bool byNewTime);
    // The epoch to the integrity watch, its status and events out to the copies.
    void FeedWatch();
    // Waits for an unplugged device to come back; false when Close stopped the wait.
    bool Reconnect();
    // One correction frame to the receiver, from the NTRIP client's thread.
    bool SendCorrection(const unsigned char *frame, std::size_t n, std::string &why);

    // Told by the decoder's hooks on the reader thread; read from any thread.
    CReceiverFamily m_family;
    CFixStopwatch m_ttff;
    platform::CSessionRecorder m_recorder;
    CFixHistory m_history;
    CSignalHistory m_signals;
    CStreamTap m_tap;
    bool m_bKeepHistory = true; // set before the reader starts, read by it
    // The watch is fed on the reader thread; its status and events are copied out under the lock.
    mutable std::mutex m_watchLock;
    static constexpr std::size_t kKeptWatchEvents = 256;
    WatchThresholds m_watchThresholds;
    std::vector<std::string> m_watchProblems;
    std::unique_ptr<CIntegrityWatch> m_watch;
    std::unique_ptr<SkyView> m_watchSky;
    Integrity m_watchIntegrity;
    WatchStatus m_watchStatus;
    std::deque<std::pair<std::uint64_t, WatchEvent>> m_watchEvents;
    std::uint64_t m_nWatchEvents = 0;
    std::string m_firmware;   // the receiver's own version text, for its baseline's name
    int m_nUnnamedEpochs = 0; // epochs before the receiver named its family
    int m_nNamedEpochs = 0;   // and after, waiting for its version
    // Fed and reset by the reader thread only.
    CNmeaDecoder m_decoder;
    CEpochTracker m_epoch;
    // When the block being decoded arrived, for the stopwatch.
    std::chrono::steady_clock::time_point m_blockArrived{};
    // And by the wall clock, for the console's lines.
    std::chrono::system_clock::time_point m_blockWall{};
    std::atomic<std::uint64_t> m_nReads{0};
    // Blocks since the screen saver was last told, and when the last one was counted.
    int m_nActivityBlocks = 0;
    std::chrono::steady_clock::time_point m_lastCounted{};
    std::mutex m_decodedLock;
    std::condition_variable m_decodedCv;
    std::mutex m_listenerLock;
    std::function<void()> m_epochListener;
    std::mutex m_replyLock;
    std::function<void(const char *, std::size_t, bool)> m_replyListener;
    // Whether one is set, so the reader takes the lock only then.
    std::atomic<bool> m_bReplyListener{false};

    std::unique_ptr<platform::CByteSource> m_source; // replaced under m_sendLock
    // Writes to the source (commands, corrections) one at a time, and its replacement.
    mutable std::mutex m_sendLock;
    mutable std::mutex m_ntripLock;
    std::unique_ptr<CNtripClient> m_ntrip;
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
    // Reader thread: a paused replay holds its sky and keeps its link live.
    void HoldWhilePaused(const platform::CFileSource &replay, bool moved);
    mutable std::mutex m_heldLock;
    std::unique_ptr<SkyView> m_heldSky; // null while the replay plays
};
