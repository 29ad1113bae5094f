#include "SerialSource.h"

namespace platform {

CSerialSource::CSerialSource(const std::string &path, int nBaud) : m_path(path) {
    m_port.Open(path, nBaud);
}

SerialRead CSerialSource::Read(char *buf, std::size_t size, int timeoutMs, const CWakeEvent &wake) {
    return m_port.Read(buf, size, timeoutMs, wake);
}

bool CSerialSource::Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) {
    bool gone = false;
    if (m_port.Write(data, size, timeoutMs, &gone) == size)
        return true;
    failure = gone ? m_path + ": device gone"
                   : "the receiver on " + m_path + " took no command within " +
                         std::to_string(timeoutMs) + " ms";
    return false;
}

} // namespace platform
