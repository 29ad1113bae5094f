#include "ByteSource.h"

#include "FileSource.h"
#include "GpsdSource.h"
#include "SerialLine.h"
#include "SerialSource.h"
#include "SocketSource.h"
#include "SourceUrl.h"
#include "WakeEvent.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Long enough for a refused or unreachable local peer to say so at open, short enough not to
// stall the window; a slower connection completes on the reader thread. Everything an open
// asks of the network together stays within it.
constexpr int kConnectWaitMs = 300;
constexpr int kGpsdQueryMs = 200;

// Where a gpsd that may hold a busy device listens: SKYWATCH_GPSD (HOST:PORT), else the default.
SourceUrl LocalGpsd() {
    SourceUrl url;
    url.kind = SourceUrl::Kind::Gpsd;
    url.host = "localhost";
    url.port = kGpsdDefaultPort;
    if (const char *env = std::getenv("SKYWATCH_GPSD"); env != nullptr && *env != '\0') {
        SourceUrl parsed;
        std::string error;
        const std::string text = LooksLikeUrl(env) ? env : std::string("gpsd://") + env;
        if (ParseSourceUrl(text, parsed, error) && parsed.kind == SourceUrl::Kind::Gpsd &&
            IsLoopbackHost(parsed.host))
            url = parsed;
    }
    return url;
}

bool SameDevice(const std::string &a, const std::string &b) {
    if (a == b)
        return true;
    char ra[PATH_MAX];
    char rb[PATH_MAX];
    return ::realpath(a.c_str(), ra) != nullptr && ::realpath(b.c_str(), rb) != nullptr &&
           std::strcmp(ra, rb) == 0;
}

// The device path, watched through a local gpsd that serves it; nullptr when none does.
std::unique_ptr<CByteSource> OpenThroughGpsd(const std::string &path, const std::string &note,
                                             SourceOpenError &why) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs);
    SourceUrl url = LocalGpsd();
    for (const std::string &served : CGpsdSource::QueryDevices(url.host, url.port, kGpsdQueryMs)) {
        if (!SameDevice(served, path))
            continue;
        why.heldByGpsd = true;
        url.device = served;
        auto gpsd = std::make_unique<CGpsdSource>(url, path + note);
        if (!gpsd->Open(std::max(1, MillisecondsUntil(deadline)), why.message))
            return nullptr;
        why = SourceOpenError{};
        return gpsd;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<CByteSource> OpenByteSource(const std::string &name, int nBaud,
                                            SourceOpenError &why) {
    why = SourceOpenError{};
    if (IsReplayName(name)) {
        auto file = std::make_unique<CFileSource>(name);
        if (file->Open(why.message))
            return file;
        why.error = EINVAL;
        return nullptr;
    }
    SourceUrl url;
    if (!ParseSourceUrl(name, url, why.message)) {
        why.error = EINVAL;
        return nullptr;
    }
    if (url.kind == SourceUrl::Kind::Serial) {
        // gpsd takes no exclusive hold on a pseudo-terminal: read beside it, each reader would
        // get half the stream.
        if (IdentifyLine(name).kind == LineKind::Pty) {
            SourceOpenError shared;
            if (auto gpsd = OpenThroughGpsd(
                    name, " is read by gpsd too, so it is watched through gpsd", shared))
                return gpsd;
        }
        auto serial = std::make_unique<CSerialSource>(name, nBaud);
        if (serial->Valid())
            return serial;
        why.error = serial->LastError();
        if (why.error == EBUSY || why.error == EWOULDBLOCK)
            return OpenThroughGpsd(name, " is held by gpsd, so it is watched through gpsd", why);
        return nullptr;
    }
    std::unique_ptr<CSocketSource> source = url.kind == SourceUrl::Kind::Gpsd
                                                ? std::make_unique<CGpsdSource>(url)
                                                : std::make_unique<CSocketSource>(url);
    if (!source->OpenOrRetry(kConnectWaitMs, why.message)) {
        why.error = source->LastError();
        return nullptr;
    }
    return source;
}

} // namespace platform
