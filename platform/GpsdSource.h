#pragma once

#include "SocketSource.h"

#include <mutex>
#include <string>
#include <vector>

namespace platform {

// A receiver watched through gpsd: asks for the raw NMEA of one device (the one named, else the
// first gpsd lists that sends data), drops gpsd's own JSON lines, and sends commands through
// gpsd's control socket when gpsd is local.
class CGpsdSource final : public CSocketSource {
public:
    // note, when not empty, is said first in the description (why gpsd is used at all).
    explicit CGpsdSource(const SourceUrl &url, std::string note = {});

    bool Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) override;
    std::string Description() const override;
    std::string Detail() const override;
    std::string Warning() const override;
    bool CanSendCommands(std::string &why) const override;

    // The device paths a gpsd at host:port serves (?DEVICES), empty when none answers within
    // timeoutMs; however gpsd or a look-alike sends, it returns within timeoutMs and one read.
    static std::vector<std::string> QueryDevices(const std::string &host, int port, int timeoutMs);
    // The control socket gpsd was started with (-F): GPSD_SOCKET, else the usual places.
    static std::string ControlSocketPath();

protected:
    void OnConnected() override;
    std::size_t Filter(char *buf, std::size_t n) override;

private:
    void NoteJson(const std::string &line);
    void Watch(const std::string &device);
    std::string Device() const;

    std::string m_note;
    bool m_bLineStart = true;
    bool m_bInJson = false;
    std::string m_json;
    mutable std::mutex m_deviceLock;
    std::string m_chosenDevice; // the device watched when the address names none
    std::size_t m_nListed = 0;  // how many devices gpsd listed when it was chosen
    std::string m_error;        // gpsd's last ERROR message, until the next watch takes
};

} // namespace platform
