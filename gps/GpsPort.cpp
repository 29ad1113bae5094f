#include "GpsPort.h"

#include "PortTable.h"
#include "TimeZone.h"
#include "UserActivity.h"
#include "UserDirs.h"
#include "protocol/UbxMessages.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>

CGpsPort::CGpsPort() : CGpsPort(platform::StandardBiasSeconds()) {}

CGpsPort::CGpsPort(int nBiasSeconds) : m_decoder(nBiasSeconds) {
    m_watchThresholds = LoadThresholds(m_watchProblems);
    m_watch = std::make_unique<CIntegrityWatch>(m_watchThresholds);
    // The receiver names its family in its own stream, its fix reports time a restart, a
    // recording keeps every block as it came, the history every fix and each second's signals.
    // The stopwatch takes the time the fix's bytes arrived, not the time they were decoded.
    m_decoder.SetHooks(
        {[this](const char *block, std::size_t n) { m_recorder.OnBlock(block, n); },
         [this](const char *s, std::size_t len) {
             // Split once by the decoder, for itself and for these.
             const CNmeaDecoder::Fields *fields = m_decoder.SentenceFields();
             m_family.OnSentence(s, len);
             m_epoch.OnSentence(s, len, fields);
             if (m_bKeepHistory) {
                 m_history.OnSentence(s, len, fields);
                 m_signals.OnSentence(s, len, fields);
                 m_tap.Add(TapKind::Sentence, s, len, m_blockWall);
             }
             if (m_bReplyListener.load(std::memory_order_acquire)) {
                 std::lock_guard lock(m_replyLock);
                 if (m_replyListener)
                     m_replyListener(s, len, false);
             }
         },
         [this](bool valid) { m_ttff.OnFixReportAt(valid, m_blockArrived); },
         [this](FrameProtocol protocol, const unsigned char *frame, std::size_t len) {
             if (protocol == FrameProtocol::Ubx)
                 m_family.OnUbxFrame();
             m_epoch.OnFrame(protocol, frame, len);
             if (m_bKeepHistory) {
                 m_signals.OnFrame(protocol, frame, len);
                 m_tap.Add(protocol == FrameProtocol::Ubx ? TapKind::Ubx : TapKind::Rtcm, frame,
                           len, m_blockWall);
             }
             // The receiver's version names its baseline beside its family.
             if (protocol == FrameProtocol::Ubx && len >= 8 &&
                 ubx::Identify(frame[2], frame[3]) == ubx::Msg::MonVer && m_firmware.empty()) {
                 ubx::MonVer version;
                 if (ubx::Read(frame + 6, len - 8, version) == ubx::Result::Ok)
                     m_firmware = version.swVersion;
             }
             if (protocol == FrameProtocol::Ubx &&
                 m_bReplyListener.load(std::memory_order_acquire)) {
                 std::lock_guard lock(m_replyLock);
                 if (m_replyListener)
                     m_replyListener(reinterpret_cast<const char *>(frame), len, true);
             }
         },
         [this](const char *s, std::size_t len) {
             if (m_bKeepHistory)
                 m_tap.Add(TapKind::BadSentence, s, len, m_blockWall);
         },
         [this](const NavReport &report) {
             if (m_bKeepHistory)
                 m_history.OnReport(report);
         }});
}

CGpsPort::~CGpsPort() {
    StopCorrections();
    Close();
}

LinkState CGpsPort::CopyLinkState() const {
    std::lock_guard lock(m_linkLock);
    return m_link;
}

bool CGpsPort::Open(int nPort, int nBaud) {
    Close();
    m_openFailure = {};
    m_family.Reset();
    // Another source may be another receiver: its watch starts afresh with its own baseline.
    m_firmware.clear();
    m_nUnnamedEpochs = 0;
    m_nNamedEpochs = 0;
    m_watch = std::make_unique<CIntegrityWatch>(m_watchThresholds);
    {
        std::lock_guard lock(m_watchLock);
        m_watchStatus = WatchStatus{};
    }
    m_openDevice = platform::PortDevice(nPort);
    if (m_openDevice.empty()) {
        m_openDevice = "COM" + std::to_string(nPort) + ":";
        m_nOpenError = ENODEV;
        return false;
    }
    if (!m_stop.Valid()) {
        m_nOpenError = m_stop.Error();
        return false;
    }
    m_stop.Lower();
    {
        auto source = platform::OpenByteSource(m_openDevice, nBaud, m_openFailure);
        std::lock_guard lock(m_sendLock);
        m_source = std::move(source);
    }
    if (!m_source) {
        m_nOpenError = m_openFailure.error;
        std::lock_guard lock(m_linkLock);
        m_link.nLastError = m_nOpenError;
        m_link.device = m_openDevice;
        return false;
    }
    {
        std::lock_guard lock(m_linkLock);
        m_link = LinkState{};
        m_link.bOpen = true;
        m_link.lastData = std::chrono::steady_clock::now();
        m_link.device = m_source->Description();
    }
    {
        std::lock_guard lock(m_heldLock);
        m_heldSky.reset();
    }
    // Taken before the reader starts: from then on the reader may replace the descriptor.
    const int hPort = m_source->Handle();
    try {
        m_reader = std::thread(&CGpsPort::ReaderThread, this);
    } catch (const std::system_error &e) {
        m_nOpenError = e.code().value();
        std::lock_guard lock(m_sendLock);
        m_source.reset();
        return false;
    }
    m_nReaders = m_nReaders == INT_MAX ? 1 : m_nReaders + 1;
    m_hPort = hPort;
    m_hThread = m_nReaders;
    m_nPort = nPort;
    m_nBaud = nBaud;
    m_nOpenError = 0;
    return true;
}

void CGpsPort::Close() {
    if (!m_reader.joinable() && m_hPort == -1 && m_hThread == -1)
        return;
    if (m_reader.joinable()) {
        m_stop.Raise();
        m_reader.join();
    }
    {
        std::lock_guard lock(m_sendLock);
        m_source.reset();
    }
    // What the receiver taught the watch outlives the program.
    std::string why;
    m_watch->SaveBaseline(why);
    m_ttff.Cancel();
    {
        std::lock_guard lock(m_linkLock);
        m_link.bOpen = false;
        m_link.bReconnecting = false;
    }
    m_hPort = -1;
    m_hThread = -1;
    m_nPort = -1;
    m_nBaud = -1;
}

void CGpsPort::Send(const char *text) {
    Send(text, text == nullptr ? 0 : std::strlen(text));
}

std::string CGpsPort::SourceDescription() const {
    // The reader updates it on a reconnect: read the copy it keeps under the lock.
    std::lock_guard lock(m_linkLock);
    if (!m_source)
        return {};
    const std::string detail = m_source->Detail();
    return detail.empty() ? m_link.device : m_link.device + "; " + detail;
}

void CGpsPort::Send(const char *data, std::size_t n) {
    m_sendFailure.clear();
    if (m_hPort == -1 || data == nullptr || n == 0 || !m_source)
        return;
    // One writer at a time, so a command never lands inside a correction frame.
    std::lock_guard lock(m_sendLock);
    if (m_source->Write(data, n, kWriteTimeoutMs, m_sendFailure) && m_bKeepHistory)
        m_tap.Add(TapKind::Sent, data, n);
}

bool CGpsPort::SendCorrection(const unsigned char *frame, std::size_t n, std::string &why) {
    std::lock_guard lock(m_sendLock);
    if (!m_source) {
        why = "the receiver's port is closed";
        return false;
    }
    if (dynamic_cast<const platform::CFileSource *>(m_source.get()) != nullptr) {
        why = "a replay cannot take corrections";
        return false;
    }
    if (!m_source->CanSendCommands(why))
        return false;
    return m_source->Write(reinterpret_cast<const char *>(frame), n, kWriteTimeoutMs, why);
}

void CGpsPort::StartCorrections(const NtripOptions &options) {
    StopCorrections();
    auto client = std::make_unique<CNtripClient>(
        options,
        [this](const unsigned char *frame, std::size_t n, std::string &why) {
            return SendCorrection(frame, n, why);
        },
        [this](GpsFix &fix, FixExtra &extra) { m_decoder.CopyFix(fix, extra); });
    client->Start();
    std::lock_guard lock(m_ntripLock);
    m_ntrip = std::move(client);
}

void CGpsPort::StopCorrections() {
    std::unique_ptr<CNtripClient> client;
    {
        std::lock_guard lock(m_ntripLock);
        client = std::move(m_ntrip);
    }
    if (client)
        client->Stop();
}

CorrectionStatus CGpsPort::CopyCorrections() const {
    std::lock_guard lock(m_ntripLock);
    return m_ntrip ? m_ntrip->Status() : CorrectionStatus{};
}

void CGpsPort::SetEpochListener(std::function<void()> listener) {
    std::lock_guard lock(m_listenerLock);
    m_epochListener = std::move(listener);
}

void CGpsPort::SetReplyListener(ReplyListener listener) {
    std::lock_guard lock(m_replyLock);
    m_replyListener = std::move(listener);
    m_bReplyListener.store(static_cast<bool>(m_replyListener), std::memory_order_release);
}

bool CGpsPort::ChangeBaud(int nBaud) {
    const int nPort = m_nPort;
    if (nPort < 0 || IsNetworkSource() || Replay() != nullptr)
        return false;
    Close();
    return Open(nPort, nBaud);
}

WatchStatus CGpsPort::CopyWatch() const {
    std::lock_guard lock(m_watchLock);
    return m_watchStatus;
}

std::vector<WatchEvent> CGpsPort::WatchEventsSince(std::uint64_t &seen) const {
    std::lock_guard lock(m_watchLock);
    std::vector<WatchEvent> out;
    for (const auto &[n, event] : m_watchEvents)
        if (n > seen)
            out.push_back(event);
    if (!m_watchEvents.empty())
        seen = std::max(seen, m_watchEvents.back().first);
    return out;
}

void CGpsPort::FeedWatch() {
    // A restart being timed loses every satellite on purpose: nothing to compare with.
    if (m_ttff.Running())
        m_watch->ResetReferences();
    // A receiver's baseline goes by its family and version; one that never names itself by
    // the device it is on. A recording is not this installation: it learns nothing to keep.
    const bool replay = Replay() != nullptr;
    if (m_watch->Receiver().empty() && !replay) {
        const ReceiverFamily family = m_family.Current();
        std::string receiver;
        // Its version comes with its first messages, if at all: a few epochs' wait for it.
        if (family != ReceiverFamily::Unknown && (!m_firmware.empty() || ++m_nNamedEpochs >= 3))
            receiver = m_firmware.empty() ? FamilyName(family)
                                          : std::string(FamilyName(family)) + " " + m_firmware;
        else if (family == ReceiverFamily::Unknown && ++m_nUnnamedEpochs >= 30)
            receiver = m_openDevice;
        if (!receiver.empty())
            m_watch->SetReceiver(receiver, platform::StateDir());
    }
    const std::int64_t arrived = replay ? -1
                                        : std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count();
    if (!m_watchSky)
        m_watchSky = std::make_unique<SkyView>();
    m_watch->OnEpoch(EpochOf(m_decoder, *m_watchSky, m_watchIntegrity, arrived));
    std::vector<WatchEvent> events = m_watch->TakeEvents();
    if (m_watch->SaveDue()) {
        std::string why;
        m_watch->SaveBaseline(why);
    }
    std::lock_guard lock(m_watchLock);
    m_watchStatus = m_watch->Status();
    for (WatchEvent &event : events) {
        m_watchEvents.emplace_back(++m_nWatchEvents, std::move(event));
        if (m_watchEvents.size() > kKeptWatchEvents)
            m_watchEvents.pop_front();
    }
}

void CGpsPort::NotifyEpoch(bool byNewTime) {
    // One copy of the sky for both: the watch's.
    FeedWatch();
    if (m_bKeepHistory)
        m_signals.OnEpoch(*m_watchSky, byNewTime);
    std::lock_guard lock(m_listenerLock);
    if (m_epochListener)
        m_epochListener();
}

std::uint32_t CGpsPort::WaitForDecoded(std::uint32_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_decodedLock);
    std::uint32_t now = seen;
    m_decodedCv.wait_for(lock, timeout, [&] {
        now = CopyCounters().Heard();
        return now != seen;
    });
    return now;
}

void CGpsPort::DecodeBlock(const char *block, std::size_t n,
                           std::chrono::steady_clock::time_point arrived) {
    m_blockArrived = arrived;
    m_blockWall = std::chrono::system_clock::now();
    const std::uint32_t decoded = CopyCounters().Heard();
    m_decoder.ParseBuffer(block, static_cast<int>(n));
    const auto now = std::chrono::steady_clock::now();
    if (CopyCounters().Heard() != decoded) {
        {
            std::lock_guard lock(m_linkLock);
            m_link.lastData = now;
            m_link.bData = true;
        }
        // Taken and let go so a waiter between its check and its wait is not missed.
        { std::lock_guard lock(m_decodedLock); }
        m_decodedCv.notify_all();
    }
    if (m_epoch.BlockDone())
        NotifyEpoch(true);
    // Counted as the one-second reads of old, however finely the lines now come.
    if (n == kReadSize || now - m_lastCounted >= std::chrono::seconds(1)) {
        m_lastCounted = now;
        if (m_nActivityBlocks >= 31) {
            platform::NoteUserActivity();
            m_nActivityBlocks = 0;
        } else {
            ++m_nActivityBlocks;
        }
    }
}

void CGpsPort::ReaderThread() {
    char block[kReadSize + 1];
    m_nActivityBlocks = 0;
    m_lastCounted = {};
    // A sentence cut by the last Close must not join this port's first bytes.
    m_decoder.ResetScanner();
    m_epoch.Reset();
    for (;;) {
        const auto started = std::chrono::steady_clock::now();
        // After an epoch's sentences, a short wait tells whether the line went quiet.
        const int waitMs = m_epoch.Pending() ? kEpochQuietMs : kReadTimeoutMs;
        const platform::SerialRead r = m_source->Read(block, kReadSize, waitMs, m_stop);
        m_nReads.fetch_add(1, std::memory_order_relaxed);
        if (r.woken && r.count == 0)
            return;
        // Only a replay's jump may cut the signal history; a live stream's time going back may not.
        if (r.jumped) {
            m_signals.OnJump();
            m_watch->ResetReferences();
        }
        if (r.count == 0 && r.error == 0 && !r.gone && m_epoch.Quiet())
            NotifyEpoch(false);
        if (r.count > 0) {
            block[r.count] = '\0';
            DecodeBlock(block, r.count, r.arrived);
        }
        if (const platform::CFileSource *replay = Replay())
            HoldWhilePaused(*replay, r.count > 0 || r.jumped);
        // Close woke the read: what it had taken is decoded and recorded before the reader ends.
        if (r.woken)
            return;
        if (r.gone) {
            {
                std::lock_guard lock(m_linkLock);
                m_link.bReconnecting = true;
                m_link.nLastError = r.error != 0 ? r.error : EIO;
            }
            if (!Reconnect())
                return;
            // Nothing the receiver said before it went away counts as sent by the one now here.
            m_decoder.ClearFix();
            m_watch->ResetReferences();
            std::lock_guard lock(m_linkLock);
            m_link.bReconnecting = false;
            m_link.device = m_source->Description();
        } else if (r.error != 0) {
            {
                std::lock_guard lock(m_linkLock);
                m_link.nLastError = r.error;
            }
            // Let a failing device cost one try per read time-out, not a busy loop.
            if (m_stop.WaitUntil(started + std::chrono::milliseconds(kReadTimeoutMs)))
                return;
        }
    }
}

void CGpsPort::CopySky(SkyView &dest) const {
    {
        std::lock_guard lock(m_heldLock);
        if (m_heldSky) {
            dest = *m_heldSky;
            return;
        }
    }
    m_decoder.CopySky(dest);
}

void CGpsPort::HoldWhilePaused(const platform::CFileSource &replay, bool moved) {
    const bool paused = replay.Speed() == platform::CFileSource::kPaused;
    if (paused) {
        // Paused is not silent: the window goes on showing the moment it paused at.
        std::lock_guard lock(m_linkLock);
        m_link.lastData = std::chrono::steady_clock::now();
    }
    std::lock_guard lock(m_heldLock);
    if (!paused) {
        m_heldSky.reset();
    } else if (!m_heldSky || moved) {
        auto sky = std::make_unique<SkyView>();
        m_decoder.CopySky(*sky);
        m_heldSky = std::move(sky);
    }
}

bool CGpsPort::Reconnect() {
    // Closing lets the system give a replugged receiver its old name again.
    m_source->Release();
    m_decoder.ResetScanner();
    m_epoch.Reset();
    // Another receiver may come back under the name.
    m_family.Reset();
    for (;;) {
        if (m_stop.WaitFor(std::chrono::milliseconds(kReopenIntervalMs)))
            return false;
        if (m_source->Reopen())
            return true;
        std::lock_guard lock(m_linkLock);
        m_link.nLastError = m_source->LastError();
    }
}
