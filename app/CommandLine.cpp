#include "CommandLine.h"

#include "FileSource.h"
#include "Ntrip.h"
#include "PortTable.h"
#include "SameFile.h"
#include "SerialLine.h"
#include "SessionOptions.h"
#include "SourceUrl.h"
#include "StatusDlg.h"

#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kDevicePort = 4;

QString HelpText() {
    return QStringLiteral(
        "Usage: skywatch [options] [DEVICE|FILE [DEVICE2|FILE2]]\n"
        "Shows the position, time and satellites of a GPS receiver on a serial line or the\n"
        "network.\n\n"
        "The port list names COM1 to COM4. COMn is /dev/ttyS(n-1) unless --com binds it;\n"
        "COM4, the port every start opens, is DEVICE, else the first receiver found in\n"
        "/dev/serial/by-id, /dev/ttyUSB*, /dev/ttyACM*; devices that name themselves\n"
        "as something else (an Arduino, a printer, a modem) are never opened. With no\n"
        "receiver found, nothing is opened until you pick a port and press Re-set.\n"
        "SKYWATCH_DEV_ROOT and SKYWATCH_SYS_ROOT point the search at other folders.\n\n"
        "DEVICE and PATH may also name a receiver on the network:\n"
        "  gpsd://[HOST[:PORT]][/DEVICE]  through gpsd (default localhost:2947, the first device\n"
        "                                 that sends)\n"
        "  tcp://HOST:PORT                raw NMEA over TCP (ser2net, phone apps)\n"
        "  udp://[HOST]:PORT              NMEA datagrams received on PORT\n"
        "A regular FILE (or file://PATH; gzip too) is a recording, replayed at its own\n"
        "pace: Ctrl+P pauses, Ctrl+1 / Ctrl+2 / Ctrl+3 play x1 / x10 / as fast as\n"
        "possible, Ctrl+Left / Ctrl+Right jump 10%, Ctrl+Home to the start.\n"
        "A second DEVICE2 (in any of those forms) is watched beside the first: a window\n"
        "compares them under one sky, each signal's C/N0 from both and the difference,\n"
        "the median difference per system and band, and each one's fix.\n"
        "A serial device that gpsd holds is watched through the gpsd at localhost:2947\n"
        "(SKYWATCH_GPSD=HOST:PORT names another); restart commands reach it through\n"
        "gpsd's control socket (GPSD_SOCKET, else /run/gpsd.sock).\n\n"
        "Options:\n"
        "  --com N=PATH        bind list entry COMN (1 to 4) to PATH (a device or address)\n"
        "  --demo              show a simulated receiver on a pseudo-terminal bound to COM4\n"
        "  --replay FILE       the same, replaying a recorded NMEA log\n"
        "  --screenshot FILE   write the window to a PNG file and exit\n"
        "  --after S           seconds before the screenshot (default 3)\n"
        "  --scale F           open the window at F times 240 x 268 (it resizes, too)\n"
        "  --layout NAME       desktop, full or compact (default: desktop when the window is\n"
        "                      at least 1.6 times the dialog's size, else full)\n"
        "  --size WxH          open the window at W x H pixels, e.g. 1400x900\n"
        "  --time RULE         show the date and time as local (the wall clock, with summer\n"
        "                      time; default), standard (the zone's standard time) or utc\n"
        "  --record FILE       record the received bytes to FILE as they come (Ctrl+R in\n"
        "                      the window starts and stops a recording, too)\n"
        "  --record-overwrite  let --record replace an existing file\n"
        "  --view scatter      open the position scatter at start (Ctrl+D in the window);\n"
        "                      --screenshot then writes that window\n"
        "  --view history      open the signal history at start (Ctrl+H): each satellite's\n"
        "                      signal strength per band, satellites in view and used, and\n"
        "                      HDOP over the last 10 minutes to 2 hours\n"
        "  --view console      open the console at start (Ctrl+K): the stream as it comes,\n"
        "                      a line per sentence or frame (console-hex, console-decoded:\n"
        "                      in that view)\n"
        "  --reference LAT,LON[,ALT]  the scatter's centre instead of the mean\n"
        "  --ntrip URL         RTK corrections from an NTRIP caster, written to the receiver:\n"
        "                      ntrip://[USER[:PASSWORD]@]HOST[:PORT]/MOUNTPOINT (port 2101\n"
        "                      by default); Ctrl+T in the window lists a caster's mount\n"
        "                      points nearest first and connects to one\n"
        "  --version           print the version and exit\n"
        "  -h, --help          print this help and exit\n\n"
        "Without a display: QT_QPA_PLATFORM=offscreen skywatch --screenshot FILE\n");
}

CommandLine Fail(const QString &message) {
    CommandLine c;
    c.action = CommandLine::Action::Exit;
    c.exitCode = 2;
    c.message = QStringLiteral("skywatch: ") + message;
    return c;
}

// The reason a DEVICE or --com PATH cannot name a receiver, or empty.
QString SourceProblem(const QString &text) {
    // A recording plays in the window when it holds NMEA.
    const std::string name = FileNameBytes(text).toStdString();
    if (platform::IsReplayName(name))
        return QString::fromLocal8Bit(platform::ReplayProblem(name).c_str());
    platform::SourceUrl url;
    std::string error;
    if (!platform::ParseSourceUrl(name, url, error) || !platform::HostResolves(url, error))
        return QString::fromStdString(error);
    return {};
}

// A path that exists but is no serial line: a file, a folder, or a device of another kind, some
// of which act on open. Not there yet is fine: the window opens with the port off.
bool ExistsButNotSerial(const QString &path) {
    const std::string name = FileNameBytes(path).toStdString();
    if (platform::IsReplayName(name))
        return false;
    const platform::LineIdentity line = platform::IdentifyLine(name);
    return line.kind == platform::LineKind::NotSerial;
}

// Why path cannot be replayed, or empty: it must be a regular file this user can read.
QString ReplayProblem(const QString &path) {
    const QByteArray name = FileNameBytes(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return QStringLiteral("replay file %1 not found").arg(path);
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("--replay %1 is a folder, not a file; name a recorded NMEA log")
            .arg(path);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("--replay %1 is not a regular file (a device or a pipe); name a "
                              "recorded NMEA log")
            .arg(path);
    if (::access(name.constData(), R_OK) != 0)
        return QStringLiteral("replay file %1 cannot be read: permission denied").arg(path);
    return {};
}

// Why --ntrip's address names no caster's mount point, or empty; never with the password.
QString NtripProblem(const QString &text) {
    platform::ntrip::NtripUrl url;
    std::string error;
    if (!platform::ntrip::ParseNtripUrl(text.toStdString(), url, error))
        return QStringLiteral("--ntrip: %1").arg(QString::fromStdString(error));
    if (url.mount.empty())
        return QStringLiteral("--ntrip %1 names no mount point; add /MOUNTPOINT (the window's "
                              "NTRIP dialog lists the caster's)")
            .arg(QString::fromStdString(platform::ntrip::MaskedUrl(url)));
    return {};
}

QStringList SortedEntries(const QString &dir, const QStringList &patterns) {
    QStringList names =
        QDir(dir).entryList(patterns, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    // ttyUSB2 before ttyUSB10: the trailing number compares as a number.
    const auto key = [](const QString &n) {
        qsizetype i = n.size();
        while (i > 0 && n[i - 1].isDigit())
            --i;
        return std::pair(n.left(i), n.mid(i).toLongLong());
    };
    std::sort(names.begin(), names.end(),
              [&key](const QString &a, const QString &b) { return key(a) < key(b); });
    QStringList paths;
    for (const QString &n : names)
        paths << dir + QLatin1Char('/') + n;
    return paths;
}

// Who a device says it is, from its by-id name or its USB vendor:product. Small on purpose:
// a device in neither list is still a plausible receiver, only not a preferred one.
struct KnownDevice {
    const char *match; // lower-case piece of the by-id name, or "vvvv:" / "vvvv:pppp"
    const char *what;
};

constexpr KnownDevice kReceivers[] = {
    {"1546:", "u-blox"},                // u-blox AG, every product
    {"067b:2303", "Prolific GPS puck"}, // PL2303 inside most BU-353 style pucks
    {"0e8d:3329", "MediaTek GPS"},      // MT3329 receivers
    {"u-blox", "u-blox"},
    {"ublox", "u-blox"},
    {"gnss", "GNSS receiver"},
    {"gps", "GPS receiver"},
    {"sirf", "SiRF"},
    {"globalsat", "GlobalSat"},
    {"navilock", "Navilock"},
    {"quectel_l", "Quectel GNSS"}, // L-series modules
};

constexpr KnownDevice kOthers[] = {
    {"2341:", "Arduino"},        {"2a03:", "Arduino"},       {"2c99:", "Prusa printer"},
    {"1d50:614e", "3D printer"}, {"12d1:", "Huawei modem"},  {"1199:", "Sierra modem"},
    {"arduino", "Arduino"},      {"prusa", "Prusa printer"}, {"marlin", "3D printer"},
    {"klipper", "3D printer"},   {"smoothie", "3D printer"}, {"duet", "3D printer"},
    {"printer", "printer"},      {"modem", "modem"},
};

template <std::size_t N>
const char *Match(const KnownDevice (&table)[N], const QString &name, const QString &usbId) {
    for (const KnownDevice &d : table) {
        const QString m = QString::fromLatin1(d.match);
        const bool byId = m.size() >= 5 && m[4] == QLatin1Char(':');
        if (byId ? !usbId.isEmpty() && usbId.startsWith(m) : name.contains(m))
            return d.what;
    }
    return nullptr;
}

// Why --record would write to a file this run replays, or empty.
QString RecordClash(const CommandLine &c) {
    if (c.options.recordPath.isEmpty())
        return {};
    const std::string record = FileNameBytes(c.options.recordPath).toStdString();
    QStringList inputs{c.replayFile, c.device};
    for (const auto &binding : c.bindings)
        inputs << binding.second;
    for (const QString &input : inputs) {
        const std::string name = FileNameBytes(input).toStdString();
        if (!input.isEmpty() && platform::IsReplayName(name) &&
            platform::SameFile(platform::ReplayPath(name), record))
            return QStringLiteral("--record %1 is the file being replayed; record to another file")
                .arg(c.options.recordPath);
    }
    return {};
}

} // namespace

QString ArgumentText(const QByteArray &bytes) {
    QString text;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    // The least value of each length: a longer form is overlong, so not UTF-8.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        const int len = c < 0x80             ? 1
                        : (c & 0xE0) == 0xC0 ? 2
                        : (c & 0xF0) == 0xE0 ? 3
                        : (c & 0xF8) == 0xF0 ? 4
                                             : 0;
        char32_t cp = len == 1 ? c : len == 2 ? c & 0x1Fu : len == 3 ? c & 0x0Fu : c & 0x07u;
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = cp << 6 | (p[i + k] & 0x3Fu);
        }
        ok = ok && cp >= kLeast[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!ok) {
            text += QChar(static_cast<char16_t>(0xDC00 + c));
            ++i;
            continue;
        }
        text += QString::fromUcs4(&cp, 1);
        i += len;
    }
    return text;
}

QByteArray FileNameBytes(const QString &name) {
    QByteArray bytes;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            bytes += name.mid(i, 2).toUtf8();
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            bytes += static_cast<char>(u - 0xDC00);
        } else {
            bytes += QString(name[i]).toUtf8();
        }
    }
    return bytes;
}

CommandLine ParseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption com(QStringLiteral("com"), QString(), QStringLiteral("N=PATH"));
    const QCommandLineOption demo(QStringLiteral("demo"), QString());
    const QCommandLineOption replay(QStringLiteral("replay"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption shot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption after(QStringLiteral("after"), QString(), QStringLiteral("S"));
    const QCommandLineOption scale(QStringLiteral("scale"), QString(), QStringLiteral("F"));
    const QCommandLineOption time(QStringLiteral("time"), QString(), QStringLiteral("RULE"));
    const QCommandLineOption layout(QStringLiteral("layout"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
    const QCommandLineOption ntrip(QStringLiteral("ntrip"), QString(), QStringLiteral("URL"));
    parser.addOptions({help, version, com, demo, replay, shot, after, scale, time});
    parser.addOptions({layout, size, ntrip});
    AddSessionOptions(parser);
    parser.addPositionalArgument(QStringLiteral("DEVICE"), QString());

    if (!parser.parse(arguments))
        return Fail(parser.errorText() + QStringLiteral(" (see skywatch --help)"));

    CommandLine c;
    if (parser.isSet(help) || parser.isSet(version)) {
        c.action = CommandLine::Action::Exit;
        c.message =
            parser.isSet(help) ? HelpText() : QStringLiteral("skywatch " SKYWATCH_VERSION "\n");
        return c;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 2)
        return Fail(QStringLiteral("two DEVICEs at most, got %1 (see skywatch --help)")
                        .arg(positional.join(QLatin1Char(' '))));
    for (const QString &device : positional) {
        if (device.isEmpty())
            return Fail(QStringLiteral("DEVICE is empty"));
        if (const QString problem = SourceProblem(device); !problem.isEmpty())
            return Fail(problem);
        if (ExistsButNotSerial(device))
            return Fail(QStringLiteral("%1 is not a serial port").arg(device));
    }
    if (!positional.isEmpty())
        c.device = positional.first();
    if (positional.size() == 2)
        c.compareDevice = positional.last();

    for (const QString &value : parser.values(com)) {
        const qsizetype eq = value.indexOf(QLatin1Char('='));
        bool ok = false;
        const int n = eq > 0 ? value.left(eq).toInt(&ok) : 0;
        const QString path = eq > 0 ? value.mid(eq + 1) : QString();
        if (!ok || n < 1 || n > 4 || path.isEmpty())
            return Fail(
                QStringLiteral("--com wants N=PATH with N from 1 to 4, got \"%1\"").arg(value));
        if (const QString problem = SourceProblem(path); !problem.isEmpty())
            return Fail(problem);
        if (ExistsButNotSerial(path))
            return Fail(QStringLiteral("%1 is not a serial port").arg(path));
        c.bindings.emplace_back(n, path);
    }

    if (parser.isSet(replay)) {
        c.replayFile = parser.value(replay);
        if (const QString problem = ReplayProblem(c.replayFile); !problem.isEmpty())
            return Fail(problem);
        c.demo = true;
    }
    if (parser.isSet(demo))
        c.demo = true;
    if (c.demo && !c.device.isEmpty())
        return Fail(QStringLiteral("--demo and --replay bind COM4 themselves; drop DEVICE"));

    if (parser.isSet(shot)) {
        c.options.screenshotPath = parser.value(shot);
        if (c.options.screenshotPath.isEmpty())
            return Fail(QStringLiteral("--screenshot wants a file name"));
    }
    if (parser.isSet(after)) {
        bool ok = false;
        const double s = parser.value(after).toDouble(&ok);
        if (!ok || s < 0 || s > 3600)
            return Fail(QStringLiteral("--after wants seconds from 0 to 3600, got \"%1\"")
                            .arg(parser.value(after)));
        c.options.screenshotAfter = s;
    }
    if (parser.isSet(scale)) {
        bool ok = false;
        const double f = parser.value(scale).toDouble(&ok);
        if (!ok || !std::isfinite(f) || f < 0.5 || f > 8)
            return Fail(QStringLiteral("--scale wants a factor from 0.5 to 8, got \"%1\"")
                            .arg(parser.value(scale)));
        c.options.scale = f;
    }
    if (parser.isSet(time)) {
        // In the order of display::TimeRule.
        const QStringList rules{QStringLiteral("standard"), QStringLiteral("local"),
                                QStringLiteral("utc")};
        const qsizetype i = rules.indexOf(parser.value(time));
        if (i < 0)
            return Fail(QStringLiteral("--time wants standard, local or utc, got \"%1\"")
                            .arg(parser.value(time)));
        c.options.time = static_cast<display::TimeRule>(i);
    }
    if (parser.isSet(layout)) {
        const QStringList names{QStringLiteral("desktop"), QStringLiteral("full"),
                                QStringLiteral("compact")};
        const qsizetype i = names.indexOf(parser.value(layout));
        if (i < 0)
            return Fail(QStringLiteral("--layout wants desktop, full or compact, got \"%1\"")
                            .arg(parser.value(layout)));
        c.options.layout = static_cast<LayoutChoice>(i + 1);
    }
    if (parser.isSet(size)) {
        const QStringList wh = parser.value(size).split(QLatin1Char('x'));
        bool okW = false, okH = false;
        const int w = wh.size() == 2 ? wh[0].toInt(&okW) : 0;
        const int h = wh.size() == 2 ? wh[1].toInt(&okH) : 0;
        if (!okW || !okH || w < 120 || h < 134 || w > 16384 || h > 16384)
            return Fail(QStringLiteral("--size wants WxH in pixels from 120x134 to 16384x16384, "
                                       "got \"%1\"")
                            .arg(parser.value(size)));
        c.options.size = QSize(w, h);
    }
    if (parser.isSet(ntrip)) {
        c.options.ntrip = parser.value(ntrip);
        if (const QString problem = NtripProblem(c.options.ntrip); !problem.isEmpty())
            return Fail(problem);
    }
    const QString problem = TakeSessionOptions(parser, c.options);
    if (const QString clash = RecordClash(c); !clash.isEmpty())
        return Fail(clash);
    if (!problem.isEmpty())
        return Fail(problem);
    return c;
}

Discovery DiscoverReceivers(const QString &devRoot, const QString &sysRoot) {
    QStringList candidates = SortedEntries(devRoot + QStringLiteral("/serial/by-id"), {});
    for (const char *pattern : {"ttyUSB*", "ttyACM*"})
        candidates << SortedEntries(devRoot, {QString::fromLatin1(pattern)});
    Discovery found;
    QStringList plausible; // neither a known receiver nor anything else
    QStringList seen; // the devices behind the names, so a by-id link and its device count once
    for (const QString &path : candidates) {
        const QString device = QFileInfo(path).canonicalFilePath();
        if (!device.isEmpty() && seen.contains(device))
            continue;
        seen << device;
        const platform::LineIdentity line =
            platform::IdentifyLine(QFile::encodeName(path).toStdString(), sysRoot.toStdString());
        const QString usbId = QString::fromStdString(platform::UsbId(line, sysRoot.toStdString()));
        const QString name = QFileInfo(path).fileName().toLower();
        if (const char *other = Match(kOthers, name, usbId)) {
            found.passedBy << QStringLiteral("%1 (%2)").arg(path, QString::fromLatin1(other));
            continue;
        }
        if (Match(kReceivers, name, usbId))
            found.others << path;
        else
            plausible << path;
    }
    found.others << plausible;
    if (!found.others.isEmpty())
        found.chosen = found.others.takeFirst();
    return found;
}

QString DiscoverReceiver(const QString &devRoot) {
    return DiscoverReceivers(devRoot).chosen;
}

Discovery BindPorts(const CommandLine &commandLine, const QString &devRoot,
                    const QString &sysRoot) {
    platform::UnbindAllPorts();
    Discovery found;
    if (commandLine.device.isEmpty())
        found = DiscoverReceivers(devRoot, sysRoot);
    const QString com4 = commandLine.device.isEmpty() ? found.chosen : commandLine.device;
    if (!com4.isEmpty())
        platform::BindPort(kDevicePort, FileNameBytes(com4).toStdString());
    // --com comes last, so it may rebind COM4 as well.
    for (const auto &[n, path] : commandLine.bindings)
        platform::BindPort(n, FileNameBytes(path).toStdString());
    return found;
}

QString DisplayProblem() {
    const QByteArray platformName = qgetenv("QT_QPA_PLATFORM");
    if (platformName.startsWith("offscreen") || platformName.startsWith("minimal") ||
        platformName.startsWith("vnc"))
        return {};
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    return QStringLiteral("skywatch: no display; to run without one, use "
                          "QT_QPA_PLATFORM=offscreen skywatch --screenshot FILE");
}

QString FindSimulator(const QString &programDir) {
    for (const QString &candidate : {programDir + QStringLiteral("/skywatch-sim"),
                                     programDir + QStringLiteral("/../tools/skywatch-sim")}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("skywatch-sim"));
}
