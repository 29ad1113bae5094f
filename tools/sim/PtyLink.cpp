#include "PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

CPtyLink::~CPtyLink() {
    Close();
    ClosePair(m_next);
}

bool CPtyLink::OpenPair(Pair &pair, std::string &error) {
    pair.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pair.master < 0 || ::grantpt(pair.master) != 0 || ::unlockpt(pair.master) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        ClosePair(pair);
        return false;
    }
    char name[128];
    if (::ptsname_r(pair.master, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        ClosePair(pair);
        return false;
    }
    pair.slavePath = name;
    pair.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (pair.slave < 0 || ::tcgetattr(pair.slave, &tio) != 0) {
        error = "cannot open " + pair.slavePath + ": " + std::strerror(errno);
        ClosePair(pair);
        return false;
    }
    // Raw, so that commands written by a reader are not echoed back into the stream.
    ::cfmakeraw(&tio);
    ::tcsetattr(pair.slave, TCSANOW, &tio);
    // Non-blocking: with nobody reading, bytes that do not fit are dropped as on a real line.
    ::fcntl(pair.master, F_SETFL, ::fcntl(pair.master, F_GETFL) | O_NONBLOCK);
    return true;
}

void CPtyLink::ClosePair(Pair &pair) {
    if (pair.slave >= 0)
        ::close(pair.slave);
    if (pair.master >= 0)
        ::close(pair.master);
    pair.slave = pair.master = -1;
}

bool CPtyLink::Open(std::string &error) {
    Close();
    Pair pair;
    if (m_next.master >= 0)
        std::swap(pair, m_next);
    else if (!OpenPair(pair, error))
        return false;
    m_master = pair.master;
    m_slave = pair.slave;
    m_slavePath = pair.slavePath;
    return true;
}

void CPtyLink::Close() {
    Pair pair{m_master, m_slave, m_slavePath};
    ClosePair(pair);
    m_slave = m_master = -1;
}

bool CPtyLink::Unplug(std::string &error) {
    ClosePair(m_next);
    const bool ok = OpenPair(m_next, error);
    Close();
    return ok;
}

bool CPtyLink::PointLink(const std::string &link, std::string &error) const {
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

int CPtyLink::ReaderBaud() const {
    termios tio{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0)
        return 0;
    const struct {
        speed_t speed;
        int baud;
    } kSpeeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                   {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto &s : kSpeeds)
        if (s.speed == ::cfgetospeed(&tio))
            return s.baud;
    return 0;
}
