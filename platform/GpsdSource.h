#pragma once

#include "SocketSource.h"

#include <mutex>
#include <string>
#include <vector>

namespace platform {

// A receiver watched through gpsd: asks for the raw NMEA of one device (or of all), drops
// gpsd's own JSON lines, and sends commands through gpsd's control socket when gpsd is local.
class CGpsdSource final : public CSocketSource {
public:
    // note, when not empty, is said first in the description (why gpsd is used at all).
    explicit CGpsdSource(const SourceUrl &url, std::string note = {});

    bool Write(const char *data, std::size_t size, int timeoutMs, std::string &failure) override;
    std::string Description() const override;
    bool CanSendCommands(std::string &why) const override;

    // The device paths a gpsd at host:port serves (?DEVICES), empty when none answers in time.
    static std::vector<std::string> QueryDevices(const std::string &host, int port, int timeoutMs);
    // The control socket gpsd was started with (-F): GPSD_SOCKET, else the usual places.
    static std::string ControlSocketPath();

protected:
    void OnConnected() override;
    std::size_t Filter(char *buf, std::size_t n) override;

private:
    void NoteJson(const std::string &line);
    std::string Device() const;

    std::string m_note;
    bool m_bLineStart = true;
    bool m_bInJson = false;
    std::string m_json;
    mutable std::mutex m_deviceLock;
    std::string m_learnedDevice; // the one device gpsd reported, when it serves just one
};

} // namespace platform
