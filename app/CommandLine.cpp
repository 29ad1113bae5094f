#include "CommandLine.h"

#include "PortTable.h"
#include "SourceUrl.h"
#include "StatusDlg.h"

#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <sys/stat.h>
#include <utility>

namespace {

constexpr int kPortList = 1011;
constexpr int kBaudList = 1013;
constexpr int kDevicePort = 4;

QString HelpText() {
    return QStringLiteral(
        "Usage: skywatch [options] [DEVICE]\n"
        "Shows the position, time and satellites of a GPS receiver on a serial line or the\n"
        "network.\n\n"
        "The port list names COM1 to COM4. COMn is /dev/ttyS(n-1) unless --com binds it;\n"
        "COM4, the port every start opens, is DEVICE, else the first receiver found in\n"
        "/dev/serial/by-id, /dev/ttyUSB*, /dev/ttyACM*, else /dev/ttyS3.\n\n"
        "DEVICE and PATH may also name a receiver on the network:\n"
        "  gpsd://[HOST[:PORT]][/DEVICE]  through gpsd (default localhost:2947, every device)\n"
        "  tcp://HOST:PORT                raw NMEA over TCP (ser2net, phone apps)\n"
        "  udp://[HOST]:PORT              NMEA datagrams received on PORT\n"
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
        "  --time RULE         show the date and time as standard (the zone's standard time,\n"
        "                      default), local (with summer time) or utc\n"
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
    platform::SourceUrl url;
    std::string error;
    if (!platform::ParseSourceUrl(text.toStdString(), url, error) ||
        !platform::HostResolves(url, error))
        return QString::fromStdString(error);
    return {};
}

// A path that exists but is neither a character device nor a link to one.
bool ExistsButNotCharDevice(const QString &path) {
    struct stat st {};
    const QByteArray p = QFile::encodeName(path);
    if (::lstat(p.constData(), &st) != 0)
        return false; // not there yet: the window opens with the port off
    if (::stat(p.constData(), &st) != 0)
        return false; // a dangling link: same as not there
    return !S_ISCHR(st.st_mode);
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

} // namespace

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
    parser.addOptions({help, version, com, demo, replay, shot, after, scale, time});
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
    if (positional.size() > 1)
        return Fail(QStringLiteral("one DEVICE at most, got %1 (see skywatch --help)")
                        .arg(positional.join(QLatin1Char(' '))));
    if (!positional.isEmpty()) {
        c.device = positional.first();
        if (c.device.isEmpty())
            return Fail(QStringLiteral("DEVICE is empty"));
        if (const QString problem = SourceProblem(c.device); !problem.isEmpty())
            return Fail(problem);
        if (ExistsButNotCharDevice(c.device))
            return Fail(QStringLiteral("%1 is not a serial device").arg(c.device));
    }

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
        if (ExistsButNotCharDevice(path))
            return Fail(QStringLiteral("%1 is not a serial device").arg(path));
        c.bindings.emplace_back(n, path);
    }

    if (parser.isSet(replay)) {
        c.replayFile = parser.value(replay);
        if (!QFileInfo(c.replayFile).isFile())
            return Fail(QStringLiteral("replay file %1 not found").arg(c.replayFile));
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
        if (!ok || f < 0.25 || f > 8)
            return Fail(QStringLiteral("--scale wants a factor from 0.25 to 8, got \"%1\"")
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
    return c;
}

QString DiscoverReceiver(const QString &devRoot) {
    const QStringList byId = SortedEntries(devRoot + QStringLiteral("/serial/by-id"), {});
    if (!byId.isEmpty())
        return byId.first();
    for (const char *pattern : {"ttyUSB*", "ttyACM*"}) {
        const QStringList found = SortedEntries(devRoot, {QString::fromLatin1(pattern)});
        if (!found.isEmpty())
            return found.first();
    }
    return {};
}

void BindPorts(const CommandLine &commandLine, const QString &devRoot) {
    platform::UnbindAllPorts();
    const QString com4 =
        commandLine.device.isEmpty() ? DiscoverReceiver(devRoot) : commandLine.device;
    if (!com4.isEmpty())
        platform::BindPort(kDevicePort, com4.toStdString());
    // --com comes last, so it may rebind COM4 as well.
    for (const auto &[n, path] : commandLine.bindings)
        platform::BindPort(n, path.toStdString());
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

void SetPortToolTips(QWidget &dialog) {
    auto *dlg = qobject_cast<CStatusDlg *>(&dialog);
    auto *list = dlg ? qobject_cast<QComboBox *>(dlg->GetDlgItem(kPortList)) : nullptr;
    if (!list)
        return;
    bool anyNetwork = false;
    for (int i = 0; i < list->count() && i < 4; ++i) {
        const std::string device = platform::PortDevice(i + 1);
        // The open port says what it really is: a network source, or a device read through gpsd.
        std::string tip = dlg->m_port.m_nPort == i + 1 ? dlg->m_port.SourceDescription() : device;
        if (tip.empty())
            tip = device;
        if (platform::LooksLikeUrl(device) && tip == device)
            tip += "; a network source, on which the baud list has no effect";
        anyNetwork = anyNetwork || platform::LooksLikeUrl(device) ||
                     (dlg->m_port.m_nPort == i + 1 && dlg->m_port.IsNetworkSource());
        list->setItemData(i, QString::fromStdString(tip), Qt::ToolTipRole);
    }
    if (QWidget *baud = dlg->GetDlgItem(kBaudList))
        baud->setToolTip(anyNetwork ? QStringLiteral("The rate of a serial device; it has no "
                                                     "effect on a network source (gpsd://, "
                                                     "tcp://, udp://)")
                                    : QString());
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
