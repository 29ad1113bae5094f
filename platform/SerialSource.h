#pragma once

#include "ByteSource.h"
#include "SerialPort.h"

#include <string>

namespace platform {

// The serial device behind the byte-source interface; every call goes straight to the port.
class CSerialSource final : public CByteSource {
public:
    // Opens path at nBaud; Valid() says whether it worked, LastError() why not.
    CSerialSource(const std::string &path, int nBaud);
    bool Valid() const { return m_port.Handle() >= 0; }

    SerialRead Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) override;
    bool Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) override;
    void Release() override { m_port.Release(); }
    bool Reopen() override { return m_port.Reopen(); }
    int LastError() const override {
        return m_port.ReopenError() != 0 ? m_port.ReopenError() : m_port.LastError();
    }
    int Handle() const override { return m_port.Handle(); }
    // The device the name leads to now (links resolved), once opened.
    std::string Description() const override {
        return m_port.DevicePath().empty() ? m_path : m_port.DevicePath();
    }
    bool CanSendCommands(std::string &) const override { return true; }
    bool IsNetwork() const override { return false; }

private:
    CSerialPort m_port;
    std::string m_path;
};

} // namespace platform
