#include "PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

CPtyLink::~CPtyLink() { Close(); }

bool CPtyLink::Open(std::string& error)
{
    Close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0) {
        error = "cannot open " + m_slavePath + ": " + std::strerror(errno);
        Close();
        return false;
    }
    // Raw, so that commands written by a reader are not echoed back into the stream.
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    // Non-blocking: with nobody reading, bytes that do not fit are dropped as on a real line.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

void CPtyLink::Close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

bool CPtyLink::PointLink(const std::string& link, std::string& error) const
{
    const std::string fresh = link + ".sim-new";
    ::unlink(fresh.c_str());
    if (::symlink(m_slavePath.c_str(), fresh.c_str()) != 0 ||
        ::rename(fresh.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link + " to " + m_slavePath + ": " + std::strerror(errno);
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}
