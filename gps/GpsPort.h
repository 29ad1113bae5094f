#pragma once

#include "GpsFix.h"
#include "NmeaDecoder.h"
#include "ScanCounters.h"
#include "SerialPort.h"
#include "WakeEvent.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

// The one connection to the receiver: the serial port and its reader thread, which feeds the
// decoder that fills the live fix record.
class CGpsPort {
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
    // Why the last Open failed (errno), 0 after one that worked.
    int LastOpenError() const { return m_nOpenError; }
    // The device path the last Open tried ("COMn:" for a number the port table has no entry for).
    std::string LastOpenDevice() const { return m_openDevice; }
    void CopyFix(GpsFix &dest) const { m_decoder.CopyFix(dest); }
    void ClearFix() { m_decoder.ClearFix(); }
    ScanCounters CopyCounters() const { return m_decoder.CopyCounters(); }
    void CopySky(SkyView &dest) const { m_decoder.CopySky(dest); }
    // Hooks on the reader's decoder (see NmeaHooks); set before Open, they run on the reader.
    void SetDecoderHooks(NmeaHooks hooks) { m_decoder.SetHooks(std::move(hooks)); }
    // The reader's decoder, to read from (counters, valid fixes) on any thread.
    const CNmeaDecoder &Decoder() const { return m_decoder; }

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

    void ReaderThread();
    // Waits for an unplugged device to come back; false when Close stopped the wait.
    bool Reconnect();

    // Fed and reset by the reader thread only.
    CNmeaDecoder m_decoder;

    platform::CSerialPort m_serial;
    // Raised by Close to stop the reader wherever it waits.
    platform::CWakeEvent m_stop;
    std::thread m_reader;
    int m_nReaders = 0;
    int m_nOpenError = 0;
    std::string m_openDevice;
};
