#include "ByteSource.h"

#include "FileSource.h"
#include "GpsdSource.h"
#include "SerialSource.h"
#include "SocketSource.h"
#include "SourceUrl.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Long enough for a refused or unreachable local peer to say so at open, short enough not to
// stall the window; a slower connection completes on the reader thread.
constexpr int kConnectWaitMs = 300;
constexpr int kGpsdQueryMs = 1000;

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

// The busy device path, watched through a local gpsd that serves it; nullptr when none does.
std::unique_ptr<CByteSource> OpenThroughGpsd(const std::string &path, SourceOpenError &why) {
    SourceUrl url = LocalGpsd();
    for (const std::string &served : CGpsdSource::QueryDevices(url.host, url.port, kGpsdQueryMs)) {
        if (!SameDevice(served, path))
            continue;
        why.heldByGpsd = true;
        url.device = served;
        auto gpsd = std::make_unique<CGpsdSource>(
            url, path + " is held by gpsd, so it is watched through gpsd");
        if (!gpsd->Open(kConnectWaitMs, why.message))
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
        auto serial = std::make_unique<CSerialSource>(name, nBaud);
        if (serial->Valid())
            return serial;
        why.error = serial->LastError();
        if (why.error == EBUSY || why.error == EWOULDBLOCK)
            return OpenThroughGpsd(name, why);
        return nullptr;
    }
    std::unique_ptr<CSocketSource> source = url.kind == SourceUrl::Kind::Gpsd
                                                ? std::make_unique<CGpsdSource>(url)
                                                : std::make_unique<CSocketSource>(url);
    if (!source->Open(kConnectWaitMs, why.message)) {
        why.error = source->LastError();
        return nullptr;
    }
    return source;
}

} // namespace platform
