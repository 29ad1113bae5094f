#include "GpsPort.h"

#include "PortTable.h"
#include "TimeZone.h"
#include "UserActivity.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>

CGpsPort::CGpsPort() : CGpsPort(platform::StandardBiasSeconds()) {}

CGpsPort::CGpsPort(int nBiasSeconds) : m_decoder(nBiasSeconds) {}

CGpsPort::~CGpsPort() {
    Close();
}

bool CGpsPort::Open(int nPort, int nBaud) {
    Close();
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
    if (!m_serial.Open(m_openDevice, nBaud)) {
        m_nOpenError = m_serial.LastError();
        return false;
    }
    // Taken before the reader starts: from then on the reader may replace the descriptor.
    const int hPort = m_serial.Handle();
    try {
        m_reader = std::thread(&CGpsPort::ReaderThread, this);
    } catch (const std::system_error &e) {
        m_nOpenError = e.code().value();
        m_serial.Close();
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
    m_serial.Close();
    m_hPort = -1;
    m_hThread = -1;
    m_nPort = -1;
    m_nBaud = -1;
}

void CGpsPort::Send(const char *text) {
    if (m_hPort == -1 || text == nullptr)
        return;
    m_serial.Write(text, std::strlen(text), kWriteTimeoutMs);
}

void CGpsPort::ReaderThread() {
    char block[kReadSize + 1];
    int nEvents = 0;
    // A sentence cut by the last Close must not join this port's first bytes.
    m_decoder.ResetScanner();
    for (;;) {
        const auto started = std::chrono::steady_clock::now();
        const platform::SerialRead r = m_serial.Read(block, kReadSize, kReadTimeoutMs, m_stop);
        if (r.woken)
            return;
        if (r.count > 0) {
            block[r.count] = '\0';
            m_decoder.ParseBuffer(block, static_cast<int>(r.count));
            if (nEvents >= 31) {
                platform::NoteUserActivity();
                nEvents = 0;
            } else {
                ++nEvents;
            }
        }
        if (r.gone) {
            if (!Reconnect())
                return;
        } else if (r.error != 0) {
            // Let a failing device cost one try per read time-out, not a busy loop.
            if (m_stop.WaitUntil(started + std::chrono::milliseconds(kReadTimeoutMs)))
                return;
        }
    }
}

bool CGpsPort::Reconnect() {
    // Closing lets the system give a replugged receiver its old name again.
    m_serial.Release();
    m_decoder.ResetScanner();
    for (;;) {
        if (m_stop.WaitFor(std::chrono::milliseconds(kReopenIntervalMs)))
            return false;
        if (m_serial.Reopen())
            return true;
    }
}
