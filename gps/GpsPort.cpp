#include "GpsPort.h"

#include "TimeZone.h"

#include <cstring>

CGpsPort::CGpsPort() : CGpsPort(platform::StandardBiasSeconds()) {}

CGpsPort::CGpsPort(int nBiasSeconds) : m_nBiasSeconds(nBiasSeconds) {}

CGpsPort::~CGpsPort() { Close(); }

void CGpsPort::CopyFix(GpsFix& dest) const
{
    std::lock_guard lock(m_fixLock);
    std::memcpy(&dest, &m_fix, sizeof m_fix);
}

void CGpsPort::ClearFix()
{
    std::lock_guard lock(m_fixLock);
    std::memset(&m_fix, 0, sizeof m_fix);
}

// TODO(link): the serial connection and reader thread.
bool CGpsPort::Open(int, int) { return false; }
void CGpsPort::Close() {}
void CGpsPort::Send(const char*) {}
