#include "RestartCommands.h"

#include <cstring>

namespace {

// Position 0, 0, 0 m; clock offset 96000 Hz; time of week 237759 s; week 922; 12 channels; then
// the reset: 4 cold (forget everything), 2 warm (keep the almanac), 1 hot (keep all).
constexpr char kColdStart[] = "$PSRF104,0,0,0,96000,237759,922,12,4";
constexpr char kWarmStart[] = "$PSRF104,0,0,0,96000,237759,922,12,2";
constexpr char kHotStart[] = "$PSRF104,0,0,0,96000,237759,922,12,1";

const char* Compose(char (&buf)[kSentenceBufferSize], const char* body)
{
    std::strncpy(buf, body, kSentenceBufferSize - 1);
    buf[kSentenceBufferSize - 1] = '\0';
    AppendChecksum(buf);
    return buf;
}

} // namespace

void AppendChecksum(char* buf, std::size_t size)
{
    if (buf == nullptr || size == 0 || buf[0] != '$')
        return;
    const void* zero = std::memchr(buf, '\0', size);
    if (zero == nullptr)
        return;
    const auto n = static_cast<std::size_t>(static_cast<const char*>(zero) - buf);
    if (size - n < 6)
        return;
    unsigned sum = 0;
    for (std::size_t i = 1; i < n; ++i)
        sum ^= static_cast<unsigned char>(buf[i]);
    constexpr char kHex[] = "0123456789ABCDEF";
    char* p = buf + n;
    *p++ = '*';
    *p++ = kHex[(sum >> 4) & 0xF];
    *p++ = kHex[sum & 0xF];
    *p++ = '\r';
    *p++ = '\n';
    *p = '\0';
}

const char* ComposeColdStart(char (&buf)[kSentenceBufferSize]) { return Compose(buf, kColdStart); }
const char* ComposeWarmStart(char (&buf)[kSentenceBufferSize]) { return Compose(buf, kWarmStart); }
const char* ComposeHotStart(char (&buf)[kSentenceBufferSize]) { return Compose(buf, kHotStart); }
