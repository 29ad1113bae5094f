#include "SimOptions.h"

#include "BaudList.h"
#include "protocol/WholeNumber.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

bool ToSeconds(const char *text, double &value) {
    char *end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value) && value >= 0.0 && value <= 86400.0;
}

// "a,b,c": between nMin and nMax numbers, each all digits of a finite double.
bool ToNumbers(const std::string &text, std::size_t nMin, std::size_t nMax,
               std::vector<double> &values) {
    values.clear();
    const char *p = text.data();
    const char *const end = p + text.size();
    for (;;) {
        double v = 0.0;
        const auto [ptr, ec] = std::from_chars(p, end, v);
        if (ec != std::errc() || ptr == p || !std::isfinite(v) || values.size() == nMax)
            return false;
        values.push_back(v);
        if (ptr == end)
            return values.size() >= nMin;
        if (*ptr != ',')
            return false;
        p = ptr + 1;
    }
}

constexpr std::string_view kUsage =
    "Usage: skywatch-sim [options]\n"
    "A simulated receiver (NMEA, or u-blox UBX) on a pseudo-terminal; prints the device path\n"
    "on stdout. It reads RTCM 3 written to its port and acts as an RTK rover: RTK float 3 s\n"
    "after the first frame with a good CRC, fixed 10 s later (GGA quality 5, then 4, with the\n"
    "corrections' age and station; NAV-PVT's carrier solution), its own fix again once the\n"
    "last frame is 20 s old.\n\n"
    "  --baud N            character pace: 1200, 2400, 4800, 9600, 19200, 38400, 57600\n"
    "                      or 115200 (default 9600, 4800 with --gnss gps, 38400 with\n"
    "                      --bands 2 or UBX; about N/10 characters a second)\n"
    "  --gnss all|gps      all: a modern receiver (GN fix, GSA per system, GPS, GLONASS,\n"
    "                      Galileo and BeiDou in view; the default); gps: GPS only\n"
    "  --rate HZ           cycles a second, 1 to 10 (default 1)\n"
    "                      The receiver obeys its family's commands for the rate, the\n"
    "                      systems and the baud rate, and for saving them: a power cycle\n"
    "                      (--unplug-after) brings back only what was saved\n"
    "  --speed N           the receiver's clock runs N times as fast (1 to 50, default 1):\n"
    "                      N times as many cycles a second, each its own 1/HZ s later,\n"
    "                      and every time below (restarts, --jam, --spoof, --unplug-*,\n"
    "                      the RTK rover's) in the receiver's seconds; the line is paced\n"
    "                      N times as fast too\n"
    "  --link PATH         also make PATH a symbolic link to the device\n"
    "  --fast              restarts reacquire ten times faster (cold 3.5 s, warm 3 s)\n"
    "  --ttff-spread S     each restart's time to fix drawn evenly from S seconds either\n"
    "                      side of its own (at least 0.5 s)\n"
    "  --seed N            seeds that draw (default: from the clock; printed)\n"
    "  --replay FILE       send a recorded NMEA log instead, one epoch (RMC to RMC) per\n"
    "                      cycle, looping; lines starting with # are skipped\n"
    "  --tcp [HOST:]PORT   also serve the stream on TCP (HOST 127.0.0.1 unless given;\n"
    "                      PORT 0 picks one), taking commands from clients, as ser2net\n"
    "  --udp HOST:PORT     also send the stream as datagrams to HOST:PORT, a sentence or\n"
    "                      UBX frame each\n"
    "  --write S           write S seconds of the stream (at --rate) to standard output\n"
    "                      as fast as possible, from the clock's time on, and exit\n"
    "  --write-from T      with --write: from T (UTC, seconds since 1970) on instead, so\n"
    "                      the same options write the same stream every time\n"
    "  --unplug-after S    close the device after S seconds, come back after the pause\n"
    "  --unplug-pause S    seconds without a device after an unplug (default 2); SIGUSR1\n"
    "                      unplugs it at the end of the cycle, as --unplug-after does\n"
    "  --chip FAMILY       the receiver's maker: sirf, ublox, mtk, casic or st (default\n"
    "                      ublox, sirf with --gnss gps); its banner, and the only restart "
    "commands it obeys\n"
    "  --bands 1|2         2: each satellite on two signals with their NMEA 4.11 ids\n"
    "                      (L1+L5, G1+G2, E1+E5a, B1I+B2a), default 38400 baud (default 1)\n"
    "  --protocol P        nmea (the default), ubx or both: a u-blox receiver (--chip ublox)\n"
    "                      sends the same fix and sky as UBX NAV-PVT, NAV-SAT, NAV-SIG,\n"
    "                      NAV-DOP and NAV-STATUS each cycle and MON-RF each second, or\n"
    "                      those after its sentences\n"
    "  --jam START,DB,SECONDS\n"
    "                      broadband jamming from START seconds after the first epoch for\n"
    "                      SECONDS: every signal DB dB weaker (0 < DB <= 40), lost under\n"
    "                      20 dB-Hz, the fix lost with fewer than 4 of 25 dB-Hz; MON-RF's\n"
    "                      jamming indicator up 5 a dB, its AGC down 2% a dB\n"
    "  --spoof START[,SECONDS]\n"
    "                      a spoofer from START (for SECONDS, else to the end): every\n"
    "                      signal at 45 +-1 dB-Hz (drawn from --seed), the position drifting\n"
    "                      north-east at 30 m/s, speed and course true, the time 2 h ahead\n"
    "  --cn0-offset DB     every signal DB dB weaker (0 to 40), as a poorer antenna or\n"
    "                      module hears it, lost under 20 dB-Hz; the sky follows the clock,\n"
    "                      so a twin started beside it sees the same satellites\n"
    "  --ubx-protocol V    the u-blox protocol version MON-VER names (default 18.00); from\n"
    "                      23.01 it also takes CFG-VALSET, besides CFG-RATE, CFG-GNSS,\n"
    "                      CFG-PRT and CFG-CFG\n"
    "  --refuse-key KEY    a u-blox configuration key (0x10310024: QZSS) it refuses, so a\n"
    "                      CFG-VALSET holding it is answered ACK-NAK and nothing applied\n"
    "  --ack-only          answers every configuration command as its family does and\n"
    "                      applies none, as a firmware that takes commands it ignores\n"
    "  --running           a receiver that was already running: no banner until a restart\n"
    "                      (it answers its own family's version query)\n"
    "  -h, --help          print this help and exit\n";

// The help names the rates of the baud list, between "pace: " and " (default".
constexpr std::string_view kBaudHelp =
    kUsage.substr(kUsage.find("pace: ") + 6, kUsage.find(" (default") - kUsage.find("pace: ") - 6);
static_assert(platform::NamesBaudRates(kBaudHelp), "--help lists the rates --baud takes");

} // namespace

const char *SimOptions::Usage() {
    return kUsage.data();
}

bool SimOptions::Parse(int argc, char **argv, std::string &error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool bHasValue = i + 1 < argc;
        auto value = [&]() -> const char * { return argv[++i]; };
        if (arg == "-h" || arg == "--help") {
            bHelp = true;
        } else if (arg == "--fast") {
            bFast = true;
        } else if (arg == "--ack-only") {
            bAckOnly = true;
        } else if (arg == "--running") {
            bRunning = true;
        } else if (arg == "--chip") {
            if (!bHasValue || !CSimChip::Parse(argv[i + 1], chip)) {
                error = "--chip wants sirf, ublox, mtk, casic or st";
                return false;
            }
            bChipSet = true;
            ++i;
        } else if (arg == "--bands") {
            if (!bHasValue ||
                (std::string(argv[i + 1]) != "1" && std::string(argv[i + 1]) != "2")) {
                error = "--bands wants 1 or 2";
                return false;
            }
            nBands = argv[++i][0] - '0';
        } else if (arg == "--protocol") {
            const std::string v = bHasValue ? value() : "";
            if (v == "nmea" || v == "ubx" || v == "both") {
                protocol = v == "nmea"  ? SimProtocol::Nmea
                           : v == "ubx" ? SimProtocol::Ubx
                                        : SimProtocol::Both;
            } else {
                error = "--protocol wants nmea, ubx or both, got \"" + v + "\"";
                return false;
            }
        } else if (arg == "--jam" || arg == "--spoof") {
            const std::string v = bHasValue ? value() : "";
            std::vector<double> n;
            SimInterference &in = interference;
            if (arg == "--jam") {
                if (!ToNumbers(v, 3, 3, n) || n[0] < 0.0 || n[1] <= 0.0 || n[1] > 40.0 ||
                    n[2] <= 0.0) {
                    error = "--jam wants START,DB,SECONDS (START from 0, DB above 0 to 40, "
                            "SECONDS above 0), got \"" +
                            v + "\"";
                    return false;
                }
                in.dJamStart = n[0];
                in.dJamDb = n[1];
                in.dJamSeconds = n[2];
            } else {
                if (!ToNumbers(v, 1, 2, n) || n[0] < 0.0 || (n.size() > 1 && n[1] <= 0.0)) {
                    error =
                        "--spoof wants START[,SECONDS] (START from 0, SECONDS above 0), got \"" +
                        v + "\"";
                    return false;
                }
                in.dSpoofStart = n[0];
                in.dSpoofSeconds = n.size() > 1 ? n[1] : -1.0;
            }
        } else if (arg == "--cn0-offset") {
            const std::string v = bHasValue ? value() : "";
            std::vector<double> n;
            if (!ToNumbers(v, 1, 1, n) || n[0] < 0.0 || n[0] > 40.0) {
                error = "--cn0-offset wants dB from 0 to 40, got \"" + v + "\"";
                return false;
            }
            interference.dCn0OffsetDb = n[0];
        } else if (arg == "--ubx-protocol") {
            const std::string v = bHasValue ? value() : "";
            std::vector<double> n;
            if (!ToNumbers(v, 1, 1, n) || n[0] < 10.0 || n[0] >= 100.0) {
                error = "--ubx-protocol wants a version such as 27.11, got \"" + v + "\"";
                return false;
            }
            nUbxProtocol = static_cast<int>(std::lround(n[0] * 100.0));
        } else if (arg == "--refuse-key") {
            const std::string v = bHasValue ? value() : "";
            char *end = nullptr;
            const unsigned long key = std::strtoul(v.c_str(), &end, 16);
            if (v.empty() || *end != '\0' || key == 0 || key > 0xFFFFFFFFul) {
                error = "--refuse-key wants a key id in hex such as 0x10310024, got \"" + v + "\"";
                return false;
            }
            refuseKey = static_cast<std::uint32_t>(key);
        } else if (arg == "--gnss") {
            const std::string v = bHasValue ? value() : "";
            if (v != "gps" && v != "all") {
                error = "--gnss wants all or gps, got \"" + v + "\"";
                return false;
            }
            bGpsOnly = v == "gps";
        } else if (arg == "--baud" || arg == "--rate" || arg == "--link" || arg == "--replay" ||
                   arg == "--tcp" || arg == "--udp" || arg == "--unplug-after" ||
                   arg == "--unplug-pause" || arg == "--ttff-spread" || arg == "--seed" ||
                   arg == "--write" || arg == "--write-from" || arg == "--speed") {
            if (!bHasValue) {
                error = arg + " wants a value (see skywatch-sim --help)";
                return false;
            }
            const char *v = value();
            if (arg == "--baud") {
                if (!ParseWholeNumber(v, nBaud) || !platform::IsListedBaud(nBaud)) {
                    error = "--baud wants a standard rate from " +
                            std::to_string(platform::kBaudRates.front()) + " to " +
                            std::to_string(platform::kBaudRates.back()) + ", got \"" +
                            std::string(v) + "\"";
                    return false;
                }
            } else if (arg == "--rate") {
                if (!ParseWholeNumber(v, nRate) || nRate < 1 || nRate > 10) {
                    error = "--rate wants 1 to 10 cycles a second, got \"" + std::string(v) + "\"";
                    return false;
                }
            } else if (arg == "--speed") {
                if (!ParseWholeNumber(v, nSpeed) || nSpeed < 1 || nSpeed > 50) {
                    error = "--speed wants 1 to 50, got \"" + std::string(v) + "\"";
                    return false;
                }
            } else if (arg == "--link") {
                if (*v == '\0') {
                    error = "--link wants a path";
                    return false;
                }
                strLink = v;
            } else if (arg == "--replay") {
                if (*v == '\0') {
                    error = "--replay wants a file";
                    return false;
                }
                strReplay = v;
            } else if (arg == "--seed") {
                int seed = 0;
                if (!ParseWholeNumber(v, seed) || seed < 0) {
                    error = "--seed wants a whole number from 0, got \"" + std::string(v) + "\"";
                    return false;
                }
                nSeed = static_cast<unsigned>(seed);
                bSeedSet = true;
            } else if (arg == "--ttff-spread") {
                if (!ToSeconds(v, dTtffSpread) || dTtffSpread > 600.0) {
                    error =
                        "--ttff-spread wants seconds from 0 to 600, got \"" + std::string(v) + "\"";
                    return false;
                }
            } else if (arg == "--write-from") {
                if (!ParseWholeNumber(v, nWriteFrom) || nWriteFrom < 0) {
                    error = "--write-from wants seconds since 1970, got \"" + std::string(v) + "\"";
                    return false;
                }
            } else if (arg == "--tcp" || arg == "--udp") {
                (arg == "--tcp" ? strTcp : strUdp) = v;
            } else {
                double &target = arg == "--unplug-after" ? dUnplugAfter
                                 : arg == "--write"      ? dWrite
                                                         : dUnplugPause;
                if (!ToSeconds(v, target)) {
                    error = arg + " wants seconds from 0 to 86400, got \"" + std::string(v) + "\"";
                    return false;
                }
            }
        } else {
            error = "unknown option \"" + arg + "\" (see skywatch-sim --help)";
            return false;
        }
    }
    // Two bands double the GSV traffic, and the UBX messages come on top: more than 9600 baud
    // carries in a second.
    if (nBaud == 0)
        nBaud = protocol != SimProtocol::Nmea ? 38400 : bGpsOnly ? 4800 : nBands > 1 ? 38400 : 9600;
    // The GPS-only talk is the old SiRF receivers' own.
    if (!bChipSet && bGpsOnly)
        chip = SimFamily::Sirf;
    if (!strReplay.empty() && (interference.dJamStart >= 0.0 || interference.dSpoofStart >= 0.0 ||
                               interference.dCn0OffsetDb > 0.0)) {
        error = "--jam, --spoof and --cn0-offset do not apply to --replay, which sends the log as "
                "recorded";
        return false;
    }
    if (protocol != SimProtocol::Nmea) {
        const char *name = protocol == SimProtocol::Ubx ? "ubx" : "both";
        if (chip != SimFamily::Ublox) {
            error = std::string("--protocol ") + name +
                    " needs --chip ublox: only u-blox receivers send UBX" +
                    (bChipSet ? "" : " (--gnss gps plays a SiRF one)");
            return false;
        }
        if (!strReplay.empty()) {
            error = std::string("--protocol ") + name +
                    " does not apply to --replay, which sends the log as recorded";
            return false;
        }
    }
    return true;
}
